#pragma once

#include <cstdint>
#include <ostream>

namespace torrent
{

// The state of a task slot. The announcer, the handshake and the peer connections read it;
// only the task writes it.
enum class task_state : std::uint8_t
{
    downloading = 0,
    complete = 1, // every wanted piece verified: uploading to peers
    checking = 2, // the data on disk is being checked
    free_slot = 3, // no torrent in the slot
};

inline void PrintTo(task_state s, std::ostream* os)
{
    *os << "task_state(" << static_cast<unsigned>(s) << ')';
}

} // namespace torrent
