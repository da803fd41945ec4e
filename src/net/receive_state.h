#pragma once

#include <cstdint>

namespace torrent
{

// Where the receive machine of a peer connection stands.
enum class receive_state : std::uint8_t
{
    dead = 0, // a handshake for another torrent: the next readable event closes
    next_message = 1,
    length = 2, // the 4-byte length (also where an incoming connection starts)
    id = 3,
    payload = 4,
    bitfield_body = 5,
    block_data = 6,
    discard = 7, // block data nobody wants, read and dropped
    handshake = 13, // the peer's handshake (outgoing connections)
};

} // namespace torrent
