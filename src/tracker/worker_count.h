#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace torrent
{

// Counts live worker threads that own themselves (the announcers), so shutdown and tests can
// wait until every one has ended and freed its object. Safe from any thread.
// Owner: the task pool (or a test).
class worker_count
{
public:
    worker_count() = default;
    worker_count(const worker_count&) = delete;
    worker_count& operator=(const worker_count&) = delete;

    void enter();
    // Called by a worker as its very last step, after its object is gone.
    void leave();
    // A worker's body ended with an exception (caught at the thread's entry).
    void note_failure();

    [[nodiscard]] std::size_t live() const;
    [[nodiscard]] std::size_t failures() const;

    // Waits up to ms for every worker to end. True when none is left.
    [[nodiscard]] bool wait_idle(unsigned ms);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::size_t m_live = 0;
    std::size_t m_failures = 0;
};

} // namespace torrent
