#include "metainfo/file_entry.h"

#include "metainfo/base_error.h"

namespace torrent
{

bool is_safe_path_component(std::string_view component) noexcept
{
    if (component == "." || component == "..")
        return false;
    return component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

file_entry_reader::file_entry_reader(const bvalue& files)
    : m_files(&files.as_list())
{
}

void file_entry_reader::read(file_entry& entry)
{
    if (at_end())
        throw base_error(err::past_last_entry);
    const bvalue& item = (*m_files)[m_next];
    const bvalue::list_type& components = item["path"].as_list();
    if (components.empty())
        throw base_error(err::invalid_file_entry);

    // An empty component is only allowed in a padding entry of size 0.
    entry.placeholder = false;
    for (const bvalue& component : components)
    {
        const std::string& text = component.as_string();
        if (text.empty())
        {
            if (item["length"].as_int64() != 0)
                throw base_error(err::invalid_file_entry);
            entry.placeholder = true;
        }
        else if (!is_safe_path_component(text))
        {
            throw base_error(err::invalid_file_entry);
        }
    }

    const std::int64_t size = item["length"].as_int64();
    if (size < 0 || size > max_file_entry_size)
        throw base_error(err::invalid_file_entry);

    entry.path.clear();
    entry.path.reserve(components.size());
    for (const bvalue& component : components)
        entry.path.push_back(component.as_string());
    entry.size = static_cast<std::uint64_t>(size);
    entry.offset = m_offset;
    m_offset += entry.size;
    ++m_next;
}

} // namespace torrent
