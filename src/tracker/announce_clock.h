#pragma once

#include "base/event.h"
#include "base/tick.h"

namespace torrent
{

// Time as the announcer sees it: the millisecond tick and timed waits on its stop event.
// The real one reads the monotonic clock and waits on the event; tests substitute one
// whose waits move a manual clock, so minutes of announcer time pass in microseconds.
class announce_clock : public clock
{
public:
    // Waits up to ms on `stop`: signalled when the event was set (consuming it).
    [[nodiscard]] virtual wait_result wait(event& stop, unsigned ms) = 0;
};

// The monotonic clock with real waits. Safe from any thread.
[[nodiscard]] announce_clock& system_announce_clock() noexcept;

} // namespace torrent
