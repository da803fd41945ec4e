#pragma once

#include <string>

#include "metainfo/bvalue.h"

namespace torrent
{

class torrent_metainfo;

// True when the info dictionary marks the torrent private ("private" = 1; any non-zero
// integer counts, erring on the side of not leaking peers). A private torrent is announced
// only to its own trackers, never to the favourites.
[[nodiscard]] bool is_private_torrent(const bvalue& info) noexcept;
[[nodiscard]] bool is_private_torrent(const torrent_metainfo& metainfo) noexcept;

// Reads the flag from a .torrent file. A file that cannot be read or decoded counts as
// private: such a torrent cannot be opened anyway, and guessing "public" could leak it.
[[nodiscard]] bool read_private_flag(const std::string& torrent_path);

} // namespace torrent
