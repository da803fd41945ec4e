#pragma once

#include <cstdint>

namespace torrent
{

// What a have message tells about a peer: whether it now has a piece we lack, and whether
// it now has every piece.
enum class peer_have_result : std::uint8_t
{
    not_interesting = 0,
    interesting = 1,
    interesting_complete = 2,
    not_interesting_complete = 3,
};

} // namespace torrent
