#pragma once

#include <atomic>
#include <cstdint>

#include "net/peer_endpoint.h"
#include "net/peer_state.h"

namespace torrent
{

// The part of a task's peer record that the poller works with: the endpoint it connects
// to (including the use-alternate flag) and the connection state. The engine's peer record
// derives from it. The state is written from the poller, network and UI threads, so it is
// atomic; the endpoint is handed between threads with the record (the task fills it before
// queueing the connect, the poller only flips `use_alternate` while it owns the attempt).
struct peer_link
{
    PeerEndpoint endpoint;
    std::atomic<peer_state> state{peer_state::gone};

    peer_link() = default;
    peer_link(const peer_link&) = delete;
    peer_link& operator=(const peer_link&) = delete;

protected:
    ~peer_link() = default;
};

} // namespace torrent
