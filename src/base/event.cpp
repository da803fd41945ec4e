#include "base/event.h"

namespace torrent
{

void event::set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cond.notify_one();
}

void event::reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

wait_result event::wait_for(unsigned ms)
{
    std::unique_lock lock(m_mutex);
    if (!m_cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_signalled; }))
        return wait_result::timed_out;
    m_signalled = false;
    return wait_result::signalled;
}

void event::wait()
{
    std::unique_lock lock(m_mutex);
    m_cond.wait(lock, [this] { return m_signalled; });
    m_signalled = false;
}

bool event::is_set() const
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

} // namespace torrent
