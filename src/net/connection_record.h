#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/unique_fd.h"
#include "net/peer_endpoint.h"

namespace torrent
{

class PolledSocket;

// The unit the poller hands to handshake recognizers and connect completions: who the
// peer is, the socket and the poller object it came from. The record owns the socket while
// it is shown: a receiver that takes it moves it out (and answers that it took it); what
// is left in the record goes back to `owner`. Move-only, like the socket.
struct ConnectionRecord
{
    // Length of the BitTorrent handshake that opens every peer connection.
    static constexpr std::size_t handshake_size = 68;

    PeerEndpoint endpoint;
    std::uint16_t live = 0; // 1 when filled from a live socket
    unique_fd socket;
    PolledSocket* owner = nullptr;
    // Bytes the peer sent after its handshake that were read together with it. Whoever
    // takes the socket must treat them as the first bytes of the stream that follows, or
    // the message framing is lost.
    std::vector<std::byte> carried;

    // Keeps what follows the first `consumed` bytes of `input` as carried bytes.
    void carry_after(std::span<const std::byte> input, std::size_t consumed)
    {
        carried.clear();
        if (input.size() > consumed)
            carried.assign(input.begin() + static_cast<std::ptrdiff_t>(consumed), input.end());
    }
};

} // namespace torrent
