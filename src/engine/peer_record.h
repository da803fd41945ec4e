#pragma once

#include <string>

#include "base/tick.h"
#include "net/peer_host.h"

namespace torrent
{

// One possible peer connection of a task: the endpoint and state the poller and the
// connection work with (peer_slot), the connection object itself, and what the window shows
// about the peer. A record is free in state 8; a record taken for an outgoing connect is 9,
// then 17 once its connect is queued; the peer network moves it on from there.
// Owner: its Task (records live as long as the task's configuration). The client text and
// the tick are written under the task's state lock.
struct PeerRecord final : peer_slot
{
    std::string client; // the peer's id as text, recognised
    tick_t taken_at = 0; // when the record was taken (tells one use of it from the next)

    PeerRecord() = default;
    ~PeerRecord() = default;
    PeerRecord(const PeerRecord&) = delete;
    PeerRecord& operator=(const PeerRecord&) = delete;
};

} // namespace torrent
