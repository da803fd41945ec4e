#pragma once

#include <cstdint>

namespace torrent
{

struct peer_link;

// Generation stamp of a task slot: changes whenever the slot is reset or closed, so a
// holder of a slot reference can tell that the slot now serves another torrent.
using task_generation = std::uint64_t;

// What an outgoing connect needs from the task it connects for. Implemented by the
// engine's task. Called on the poller thread.
class connect_owner
{
public:
    virtual ~connect_owner() = default;

    // The connect for `record` failed, timed out or was declined: the task forgets the
    // address (and peer id) and frees the record.
    virtual void peer_connect_failed(peer_link& record) = 0;

    [[nodiscard]] virtual task_generation generation() const = 0;
};

} // namespace torrent
