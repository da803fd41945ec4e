#pragma once

#include <cstdint>

namespace torrent
{

// Connection state of a task's peer record. The poller moves a record through queued and
// connecting, the handshake and the peer connection through handshaking and active; the
// task takes a free record (taken) and frees it again (gone).
enum class peer_state : std::uint8_t
{
    gone = 8, // free: no connection, not counted
    taken = 9, // record taken, connection not yet running
    active = 10, // handshake done, messages flow
    connecting = 11, // outgoing connect in progress
    handshaking = 12, // our handshake out, the peer's awaited
    queued = 17, // waiting in the poller's pending list
};

} // namespace torrent
