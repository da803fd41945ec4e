#pragma once

#include <cstdint>
#include <ostream>

namespace torrent
{

// The state of one tracker entry of a task. Entries above `completed` are passed over.
enum class tracker_state : std::uint8_t
{
    never = 0, // no announce accepted yet: the next says "started"
    started = 1, // "started" was accepted
    completed = 2, // "completed" was accepted (sent once per tracker)
    stopped = 7, // "stopped" was sent
    unusable = 8, // the fetcher refuses its URL (not http/https)
};

inline void PrintTo(tracker_state s, std::ostream* os)
{
    *os << "tracker_state(" << static_cast<unsigned>(s) << ')';
}

} // namespace torrent
