#include "metainfo/info_hash.h"

#include "metainfo/base_error.h"

namespace torrent
{

sha1_digest compute_info_digest(std::string_view info_bytes)
{
    return sha1(info_bytes, err::info_hash);
}

std::string compute_info_hash(std::string_view info_bytes)
{
    return digest_to_hex(compute_info_digest(info_bytes));
}

} // namespace torrent
