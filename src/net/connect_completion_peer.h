#pragma once

#include "net/connect_completion.h"

namespace torrent
{

// Hands a connected outgoing socket to its peer record's connection: made when the record
// has none, reset otherwise, on the network thread, where it sends our handshake and reads
// the peer's. Refuses when the task has been closed or its slot given to another torrent
// since the connect was queued (its generation stamp changed).
// Owner: NetworkContext. Runs on: poller thread.
class PeerConnectCompletion final : public ConnectCompletion
{
public:
    [[nodiscard]] completion_result complete(ConnectionRecord& record) override;
};

} // namespace torrent
