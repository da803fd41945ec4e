#pragma once

#include <string>
#include <vector>

#include "metainfo/bvalue.h"

namespace torrent
{

// Appends a torrent's tracker URLs to urls: root "announce" first (when it is a string),
// then every string of every tier of "announce-list" in order. A tier or element of the
// wrong kind stops the list silently, keeping the URLs appended so far. Duplicates are kept.
// Returns true when "announce" is a string; the add operation refuses a torrent without it.
[[nodiscard]] bool append_tracker_urls(const bvalue& root, std::vector<std::string>& urls);

} // namespace torrent
