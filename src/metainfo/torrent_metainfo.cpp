#include "metainfo/torrent_metainfo.h"

namespace torrent
{

torrent_metainfo::torrent_metainfo(passkey, std::string bytes)
    : m_bytes(std::move(bytes))
{
}

metainfo_result torrent_metainfo::decode()
{
    return metainfo_result::invalid;
}

std::shared_ptr<const torrent_metainfo>
torrent_metainfo::load_file(const std::string&, metainfo_result& result)
{
    result = metainfo_result::unreadable;
    return nullptr;
}

std::shared_ptr<const torrent_metainfo> torrent_metainfo::from_bytes(std::string, metainfo_result& result)
{
    result = metainfo_result::invalid;
    return nullptr;
}

} // namespace torrent
