#include "metainfo/file_entry.h"

#include "metainfo/base_error.h"
#include "metainfo/rule_failure.h"

namespace torrent
{

bool is_safe_path_component(std::string_view component) noexcept
{
    if (component == "." || component == ".." || component.size() > max_component_bytes)
        return false;
    return component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

file_entry_reader::file_entry_reader(const bvalue& files, std::string* why)
    : m_files(&files.as_list())
    , m_why(why)
{
    if (m_files->size() > max_file_count)
        fail_rule(
            err::invalid_info,
            m_why,
            std::to_string(m_files->size()) + " files; at most " + std::to_string(max_file_count)
                + " are supported");
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
    if (components.size() > max_path_components)
        fail_rule(
            err::invalid_file_entry,
            m_why,
            context + "the path is " + std::to_string(components.size()) + " components deep; at most "
                + std::to_string(max_path_components) + " are allowed");
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
        else if (text.size() > max_component_bytes)
        {
            fail_rule(
                err::invalid_file_entry,
                m_why,
                context + "a path component of " + std::to_string(text.size())
                    + " bytes is longer than the system allows (" + std::to_string(max_component_bytes)
                    + ")");
        }
        else if (!is_safe_path_component(text))
        {
            fail_rule(err::invalid_file_entry, m_why, context + "unsafe path component \"" + text + "\"");
        }
    }
    entry.pad = false;
    if (const bvalue* attr = item.find("attr"); attr != nullptr && attr->kind() == bvalue_kind::string)
        entry.pad = attr->as_string().find('p') != std::string::npos;

    if (size < 0 || size > max_file_entry_size)
        fail_rule(
            err::invalid_file_entry,
            m_why,
            context + "size " + std::to_string(size) + " is " + (size < 0 ? "negative" : "above 32 GiB"));

    entry.path.clear();
    entry.path.reserve(components.size());
    std::size_t bytes = 0;
    for (const bvalue& component : components)
    {
        entry.path.push_back(component.as_string());
        bytes += component.as_string().size() + 1;
    }
    if (bytes > max_relative_path_bytes)
        fail_rule(
            err::invalid_file_entry,
            m_why,
            context + "the path is " + std::to_string(bytes - 1) + " bytes long; the system allows "
                + std::to_string(max_relative_path_bytes));
    entry.size = static_cast<std::uint64_t>(size);
    entry.offset = m_offset;
    m_offset += entry.size;
    ++m_next;
}

} // namespace torrent
