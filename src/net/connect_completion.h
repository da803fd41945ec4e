#pragma once

#include <cstdint>

namespace torrent
{

struct ConnectionRecord;

// Answer of a connect completion for a connected outgoing socket.
enum class completion_result : std::int8_t
{
    refused = -1, // not taken: the poller closes the socket and reports the failure
    failed = 0, // internal failure, not taken
    taken = 1 // the socket now belongs to a peer connection
};

// Receives every outgoing socket whose connect finished. Implemented by the engine (it
// creates or reuses the peer connection and hands the socket to the network thread).
// Runs on: poller thread.
class ConnectCompletion
{
public:
    virtual ~ConnectCompletion() = default;

    // `record.owner` is the OutgoingConnect; `record.socket` its socket, which a handler
    // that answers `taken` has moved out; a socket left in the record stays with the attempt.
    [[nodiscard]] virtual completion_result complete(ConnectionRecord& record) = 0;
};

} // namespace torrent
