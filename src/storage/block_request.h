#pragma once

#include <cstdint>

namespace torrent
{

class torrent_storage;

// One block of a piece: the unit peers request and send.
struct block_request
{
    std::uint32_t index = 0; // piece index
    std::uint32_t offset = 0; // byte offset inside the piece
    std::uint32_t length = 0;
    // The storage the block belongs to (set by the torrent table before a transfer).
    torrent_storage* storage = nullptr;
    // Bytes really copied by the last transfer (spans of unselected files excluded).
    std::uint32_t bytes_transferred = 0;

    friend bool operator==(const block_request& a, const block_request& b) noexcept
    {
        return a.index == b.index && a.offset == b.offset && a.length == b.length;
    }
};

} // namespace torrent
