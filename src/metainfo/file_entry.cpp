#include "metainfo/file_entry.h"

#include "metainfo/base_error.h"

namespace torrent
{

bool is_safe_path_component(std::string_view) noexcept
{
    return true;
}

file_entry_reader::file_entry_reader(const bvalue& files)
    : m_files(&files.as_list())
{
}

void file_entry_reader::read(file_entry&)
{
    throw base_error(err::past_last_entry);
}

} // namespace torrent
