#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

class TrackerList;

// The user's favourite trackers, announced to by every public task after the torrent's own:
// "trackerFavorite.txt" in the data folder, one URL per line (CR LF written, bare LF
// accepted, no byte-order mark). Created with the six defaults when absent.
inline constexpr std::string_view favourites_file_name = "trackerFavorite.txt";

inline constexpr std::array<std::string_view, 6> default_favourite_trackers{
    "http://tracker.quillbarrow.net:6969/announce",
    "http://swarm.tallowmere.org:8080/",
    "http://announce.fenwickpeers.com:6969/announce",
    "http://bt.harrowgate-relay.net:8000/announce",
    "http://tracker.openkestrel.org:6969/announce",
    "http://seed.brackenlane.com:2710/announce",
};

// Longest line the reader takes at once; a longer line is split into several entries.
inline constexpr std::size_t max_favourite_line = 269;

// Splits favourites text into URLs: lines end at LF, carriage returns and blanks around a
// URL are dropped, a leading UTF-8 byte-order mark is ignored, lines are cut every
// max_favourite_line characters, and lines of 3 characters or fewer (empty ones included)
// are dropped.
[[nodiscard]] std::vector<std::string> parse_favourites(std::string_view text);

// The default file content: the six URLs joined by CR LF, the last without a line end.
[[nodiscard]] std::string default_favourites_text();

// Appends the favourites of `data_folder` (ending in '/') to the list. When the file does
// not exist it is created with the defaults, which are then appended; when it can be
// neither read nor created, nothing is appended.
void AddFavourites(TrackerList& list, const std::string& data_folder);

} // namespace torrent
