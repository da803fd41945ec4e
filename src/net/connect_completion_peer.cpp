#include "net/connect_completion_peer.h"

#include <exception>

#include "net/connection_record.h"
#include "net/event_loop.h"
#include "net/outgoing_connect.h"
#include "net/peer_connection.h"

namespace torrent
{

completion_result PeerConnectCompletion::complete(ConnectionRecord& record)
{
    try
    {
        if (record.endpoint.result != 0)
            return completion_result::refused;
        auto* attempt = dynamic_cast<OutgoingConnect*>(record.owner);
        if (attempt == nullptr)
            return completion_result::refused;
        auto* host = dynamic_cast<peer_host*>(attempt->task());
        peer_slot* slot = host != nullptr ? host->slot_of(attempt->peer_record()) : nullptr;
        const task_generation generation = attempt->generation();
        if (slot == nullptr || host->generation() != generation)
        {
            // The slot serves another torrent now (or none): nothing more goes to it.
            attempt->clear_task();
            return completion_result::refused;
        }

        // The call waits for its answer: the socket leaves the record only if it runs.
        const int taken = host->network_loop().call(
            [host, slot, &record, generation]() -> int
            {
                // Checked again where it matters: the task may have closed meanwhile.
                if (host->generation() != generation)
                    return -1;
                PeerConnection& connection = PeerConnection::ready_for(*host, *slot);
                slot->outgoing.store(true);
                connection.attach(std::move(record.socket), PeerConnection::socket_mask);
                return 1;
            });
        if (taken == 1)
            return completion_result::taken;
        if (taken == -1)
            attempt->clear_task();
        return completion_result::refused;
    }
    catch (const std::exception&)
    {
        return completion_result::failed;
    }
}

} // namespace torrent
