#include "tracker/worker_count.h"

#include <chrono>

namespace torrent
{

void worker_count::enter()
{
    std::lock_guard lock(m_mutex);
    ++m_live;
}

void worker_count::leave()
{
    std::lock_guard lock(m_mutex);
    --m_live;
    // Notified under the lock: a waiter may destroy this object as soon as it sees zero.
    m_cond.notify_all();
}

void worker_count::note_failure()
{
    std::lock_guard lock(m_mutex);
    ++m_failures;
}

std::size_t worker_count::live() const
{
    std::lock_guard lock(m_mutex);
    return m_live;
}

std::size_t worker_count::failures() const
{
    std::lock_guard lock(m_mutex);
    return m_failures;
}

bool worker_count::wait_idle(unsigned ms)
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_live == 0; });
}

} // namespace torrent
