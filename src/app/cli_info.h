#pragma once

#include <span>

namespace zorvik::cli
{

// zorvik-cli info FILE.torrent: prints the torrent's name, info-hash, layout, piece geometry,
// files and trackers. Exit status 0 valid, 2 invalid metainfo, 3 unreadable file, 1 usage.
int run_info(std::span<char* const> args);

} // namespace zorvik::cli
