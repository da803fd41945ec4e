#include "net/connection_poller.h"

#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

#include "net/peer_link.h"

namespace torrent
{

ConnectionPoller::ConnectionPoller(clock& time, ConnectCompletion* completion, std::uint32_t local_ip)
    : m_clock(time)
    , m_completion(completion)
    , m_local_ip(local_ip)
    , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

ConnectionPoller::~ConnectionPoller()
{
    stop();
    // Objects go in list order; an outgoing connect still open tells its task it failed.
    m_active.clear();
    m_pending.clear();
    m_arrivals.clear();
}

bool ConnectionPoller::start()
{
    if (m_thread.joinable() || !valid())
        return false;
    m_stop.store(false);
    m_thread = std::thread([this] { thread_body(); });
    return true;
}

void ConnectionPoller::stop()
{
    m_stop.store(true);
    if (!m_thread.joinable())
        return;
    wake();
    // A pass never blocks, so the thread ends within one pass.
    m_thread.join();
}

void ConnectionPoller::thread_body()
{
    while (!m_stop.load())
    {
        try
        {
            wait(idle_timeout());
            if (m_stop.load())
                break;
            service_pass();
        }
        catch (...)
        {
            // A pass that threw (out of memory, a handler's fault) is counted; the
            // poller keeps serving the other sockets.
            m_failed_passes.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

bool ConnectionPoller::add(std::unique_ptr<PolledSocket> object, bool connect_later)
{
    if (!object)
        return false;
    {
        const std::lock_guard guard(m_lock);
        if (connect_later)
        {
            m_pending.push_back(std::move(object));
            m_pending_count.store(m_pending.size(), std::memory_order_relaxed);
        }
        else
        {
            m_arrivals.push_back(std::move(object));
        }
    }
    wake();
    return true;
}

void ConnectionPoller::wake() noexcept
{
    const std::uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the eventfd readable.
    static_cast<void>(::write(m_wake.get(), &one, sizeof(one)));
}

int ConnectionPoller::idle_timeout()
{
    // Arrivals and queued connects wake the poller when they are added.
    if (m_pending_count.load(std::memory_order_relaxed) != 0)
        return wait_ms;
    {
        const std::lock_guard guard(m_lock);
        if (!m_arrivals.empty() || !m_pending.empty())
            return wait_ms;
    }
    for (const auto& object : m_active)
    {
        if (object->wants_timed_pass())
            return wait_ms;
    }
    return -1;
}

service_context ConnectionPoller::context() const
{
    return service_context{m_clock.now(), m_local_ip, m_completion};
}

int ConnectionPoller::wait(int timeout_ms)
{
    m_pollfds.clear();
    m_polled.clear();
    m_pollfds.push_back(pollfd{m_wake.get(), POLLIN, 0});
    for (const auto& object : m_active)
    {
        const int fd = object->socket();
        if (fd < 0)
            continue;
        m_pollfds.push_back(pollfd{fd, object->poll_events(), 0});
        m_polled.push_back(object.get());
    }

    const int ready = ::poll(m_pollfds.data(), m_pollfds.size(), timeout_ms);
    if (ready <= 0)
        return 0;
    if ((m_pollfds[0].revents & POLLIN) != 0)
    {
        std::uint64_t count = 0;
        static_cast<void>(::read(m_wake.get(), &count, sizeof(count)));
    }
    int sockets = 0;
    for (std::size_t i = 1; i < m_pollfds.size(); ++i)
    {
        if (m_pollfds[i].revents != 0)
        {
            m_polled[i - 1]->note_readiness(m_pollfds[i].revents);
            ++sockets;
        }
    }
    return sockets;
}

void ConnectionPoller::take_arrivals()
{
    const std::lock_guard guard(m_lock);
    for (auto& object : m_arrivals)
    {
        m_active.push_front(std::move(object));
    }
    m_arrivals.clear();
    m_active_count.store(m_active.size(), std::memory_order_relaxed);
}

void ConnectionPoller::activate(
    std::unique_ptr<PolledSocket> object, bool connect, const service_context& ctx)
{
    PolledSocket& obj = *object;
    m_active.push_front(std::move(object));
    m_active_count.store(m_active.size(), std::memory_order_relaxed);
    if (!connect)
        return;
    peer_link* record = obj.peer_record();
    if (record == nullptr)
        return;
    record->state.store(peer_state::connecting);
    const PeerEndpoint& ep = record->endpoint;
    obj.connect(ep.ip_in_use(), ep.port_in_use(), 0, ctx.completion, ctx);
    obj.m_counted = true;
    m_connecting.fetch_add(1, std::memory_order_relaxed);
}

void ConnectionPoller::admit_pending(const service_context& ctx)
{
    if (m_connecting.load(std::memory_order_relaxed) >= max_connecting
        || m_pending_count.load(std::memory_order_relaxed) == 0)
        return;
    const std::lock_guard guard(m_lock);
    // The most recently queued connect goes first.
    while (m_connecting.load(std::memory_order_relaxed) < max_connecting && !m_pending.empty())
    {
        std::unique_ptr<PolledSocket> object = std::move(m_pending.back());
        m_pending.pop_back();
        activate(std::move(object), true, ctx);
    }
    m_pending_count.store(m_pending.size(), std::memory_order_relaxed);
}

void ConnectionPoller::service_pass()
{
    const service_context ctx = context();
    take_arrivals();
    admit_pending(ctx);
    for (auto it = m_active.begin(); it != m_active.end();)
    {
        PolledSocket& object = **it;
        if (object.service(ctx) == service_result::keep)
        {
            ++it;
            continue;
        }
        if (object.m_counted)
        {
            const std::lock_guard guard(m_lock);
            object.m_counted = false;
            m_connecting.fetch_sub(1, std::memory_order_relaxed);
        }
        object.close_hook();
        it = m_active.erase(it);
        m_active_count.store(m_active.size(), std::memory_order_relaxed);
    }
    m_passes.fetch_add(1, std::memory_order_release);
}

} // namespace torrent
