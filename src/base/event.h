#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace torrent
{

enum class wait_result : unsigned char
{
    signalled,
    timed_out
};

// An automatically resetting event: `set` wakes one waiter (or the next one to wait),
// and a successful wait consumes the signal. Used as the stop event of a task and the
// wake event of worker threads. Safe from any thread.
class event
{
public:
    event() = default;
    event(const event&) = delete;
    event& operator=(const event&) = delete;

    void set();
    void reset();

    // Waits up to `ms` milliseconds (0 polls).
    [[nodiscard]] wait_result wait_for(unsigned ms);
    void wait();

    // Peeks without consuming the signal.
    [[nodiscard]] bool is_set() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};

} // namespace torrent
