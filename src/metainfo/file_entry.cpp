#include "metainfo/file_entry.h"

#include "metainfo/base_error.h"
#include "metainfo/rule_failure.h"

namespace torrent
{

bool is_safe_path_component(std::string_view component) noexcept
{
    if (component == "." || component == "..")
        return false;
    return component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

file_entry_reader::file_entry_reader(const bvalue& files, std::string* why)
    : m_files(&files.as_list())
    , m_why(why)
{
}

void file_entry_reader::read(file_entry& entry)
{
    if (at_end())
        fail_rule(err::past_last_entry, m_why, "no file entry left");
    const std::string context = "file " + std::to_string(m_next) + ": ";
    const bvalue& item = (*m_files)[m_next];
    if (item.kind() != bvalue_kind::dictionary)
        fail_rule(err::kind_mismatch, m_why, context + "the entry is not a dictionary");
    const bvalue::list_type& components =
        required_key(item, "path", bvalue_kind::list, m_why, context).as_list();
    if (components.empty())
        fail_rule(err::invalid_file_entry, m_why, context + "\"path\" is empty");
    const std::int64_t size = required_key(item, "length", bvalue_kind::integer, m_why, context).as_int64();

    // An empty component is only allowed in a padding entry of size 0. A component that
    // could lead outside the save folder is never allowed.
    entry.placeholder = false;
    for (const bvalue& component : components)
    {
        if (component.kind() != bvalue_kind::string)
            fail_rule(err::kind_mismatch, m_why, context + "a path component is not a string");
        const std::string& text = component.as_string();
        if (text.empty())
        {
            if (size != 0)
                fail_rule(
                    err::invalid_file_entry,
                    m_why,
                    context + "empty path component in a file of " + std::to_string(size) + " bytes");
            entry.placeholder = true;
        }
        else if (!is_safe_path_component(text))
        {
            fail_rule(err::invalid_file_entry, m_why, context + "unsafe path component \"" + text + "\"");
        }
    }

    if (size < 0 || size > max_file_entry_size)
        fail_rule(
            err::invalid_file_entry,
            m_why,
            context + "size " + std::to_string(size) + " is " + (size < 0 ? "negative" : "above 32 GiB"));

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
