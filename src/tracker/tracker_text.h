#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torrent
{

// A tracker's own words (its "failure reason") are shown to the user, and a hostile tracker
// may send anything: at most this many bytes are kept.
inline constexpr std::size_t max_tracker_text = 256;

// The text made safe to show on a terminal or in a status line: control characters (C0,
// DEL and C1, so no escape sequence survives) and bytes that are not UTF-8 become '?', and
// the text is cut at a character boundary to max_tracker_text bytes.
[[nodiscard]] std::string tracker_text(std::string_view raw);

} // namespace torrent
