#pragma once

#include <string>
#include <string_view>

#include "metainfo/sha1.h"

namespace torrent
{

// The info-hash is the SHA-1 of the info dictionary's bytes exactly as they stand in the
// .torrent file (what trackers and peers expect for every torrent, canonical or not); it is
// written as 40 upper-case hexadecimal characters. torrent_metainfo computes it at load;
// use torrent_metainfo::info_hash_text() rather than re-encoding a decoded tree.
// Both raise base_error code 9 (err::info_hash) when hashing fails.
[[nodiscard]] sha1_digest compute_info_digest(std::string_view info_bytes);
[[nodiscard]] std::string compute_info_hash(std::string_view info_bytes);

} // namespace torrent
