#pragma once

#include <cstdint>
#include <string>

namespace torrent
{

// The number formats of the window: every size, speed, percentage and time it shows.

// A byte count in the largest unit of "BKMGT" that keeps the value at 1024 or below:
// "%3i.%03i%c" with thousandths of the unit, truncated. 1536 gives "  1.500K", exactly
// 1024 stays "1024.000B". Values of 1024 T and above stay in T ("1048576.000T").
[[nodiscard]] std::string FormatSize(std::uint64_t value);

// part against whole in hundredths of a percent, truncated: "4.99%", "100.00%" when part
// equals whole.
[[nodiscard]] std::string FormatPercent(std::uint64_t part, std::uint64_t whole);

// Seconds as "%2i:%02i:%02i" (hours capped at 999); -1 means unknown and gives "999:59:59".
[[nodiscard]] std::string FormatDuration(std::int64_t seconds);

} // namespace torrent
