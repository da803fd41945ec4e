#include "tracker/private_torrent.h"

#include "metainfo/torrent_metainfo.h"

namespace torrent
{

bool is_private_torrent(const bvalue& info) noexcept
{
    const bvalue* flag = info.find("private");
    return flag != nullptr && flag->kind() == bvalue_kind::integer && flag->as_int64() != 0;
}

bool is_private_torrent(const torrent_metainfo& metainfo) noexcept
{
    return is_private_torrent(metainfo.info());
}

bool read_private_flag(const std::string& torrent_path)
{
    metainfo_result result = metainfo_result::unreadable;
    const auto metainfo = torrent_metainfo::load_file(torrent_path, result);
    return !metainfo || is_private_torrent(*metainfo);
}

} // namespace torrent
