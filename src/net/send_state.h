#pragma once

#include <cstdint>

namespace torrent
{

// Where the send machine of a peer connection stands.
enum class send_state : std::uint8_t
{
    idle = 1, // compose the next messages
    buffer = 8, // the send buffer goes out
    bitfield_body = 9,
    block_data = 10,
    handshake = 12,
};

} // namespace torrent
