#pragma once

#include <atomic>
#include <cstdint>

#include "net/peer_endpoint.h"

namespace torrent
{

// Connection states of a task's peer record that the poller reads or writes. The other
// states belong to the task and the peer connection.
namespace peer_state
{
inline constexpr std::uint8_t gone = 8; // free: no connection, not counted
inline constexpr std::uint8_t connecting = 11; // outgoing connect in progress
inline constexpr std::uint8_t queued = 17; // waiting in the poller's pending list
} // namespace peer_state

// The part of a task's peer record that the poller works with: the endpoint it connects
// to (including the use-alternate flag) and the connection state. The engine's peer record
// derives from it. The state is written from the poller, network and UI threads, so it is
// atomic; the endpoint is handed between threads with the record (the task fills it before
// queueing the connect, the poller only flips `use_alternate` while it owns the attempt).
struct peer_link
{
    PeerEndpoint endpoint;
    std::atomic<std::uint8_t> state{peer_state::gone};

    peer_link() = default;
    peer_link(const peer_link&) = delete;
    peer_link& operator=(const peer_link&) = delete;

protected:
    ~peer_link() = default;
};

} // namespace torrent
