#include "net/net_ui_thread.h"

#include <future>

namespace torrent
{

NetUIThread::NetUIThread(clock& time)
    : NetUIThread(time, event_loop::options{})
{
}

NetUIThread::NetUIThread(clock& time, event_loop::options opts)
    : m_loop(std::make_unique<event_loop>(time, opts))
{
}

NetUIThread::~NetUIThread()
{
    stop();
}

bool NetUIThread::start()
{
    if (m_started || !m_loop->valid())
        return false;
    m_started = true;
    std::promise<void> bound;
    auto ready = bound.get_future();
    // The promise lives in the thread, so it outlives set_value however soon start() returns.
    m_thread = std::jthread(
        [this, bound = std::move(bound)]() mutable
        {
            m_loop->bind_to_current_thread();
            bound.set_value();
            // A handler that throws (out of memory, a fault in one connection) must not end
            // the process: the step is counted and the loop goes on serving every other
            // socket, as the poller does with a pass that throws.
            for (;;)
            {
                try
                {
                    m_loop->run();
                    break;
                }
                catch (...)
                {
                    m_failed_steps.fetch_add(1, std::memory_order_relaxed);
                }
            }
        });
    ready.wait();
    return true;
}

int NetUIThread::stop(std::chrono::milliseconds drain_limit)
{
    if (!m_thread.joinable())
    {
        m_loop->stop();
        return 0;
    }
    // Each drain request also clears the tick registrations, so nothing is ticked while
    // the connections close.
    const auto deadline = std::chrono::steady_clock::now() + drain_limit;
    int requests = 0;
    for (;;)
    {
        ++requests;
        if (m_loop->drain() == 0 || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(drain_pause);
    }
    m_loop->quit();
    m_thread.join();
    return requests;
}

} // namespace torrent
