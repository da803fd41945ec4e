#include "net/event_loop.h"

#include <cerrno>
#include <limits>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "base/assert.h"
#include "net/async_socket.h"
#include "net/net_handler.h"

namespace torrent
{

namespace
{

// epoll user data: generation in the high half, fd in the low half. Sockets get
// generations from 1, so generation 0 marks the loop's own descriptors.
constexpr std::uint64_t wake_token = 0;
constexpr std::uint64_t timer_token = 1;
constexpr std::uint32_t not_registered = std::numeric_limits<std::uint32_t>::max();
constexpr int max_events = 64;

std::uint64_t socket_token(int fd, std::uint32_t generation) noexcept
{
    return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
}

bool add_to_epoll(int epoll, int fd, std::uint64_t token) noexcept
{
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = token;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

int pending_socket_error(int fd) noexcept
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return 0;
    return error;
}

int unread_bytes(int fd) noexcept
{
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) != 0)
        return 0;
    return pending;
}

} // namespace

event_loop::event_loop(clock& time) noexcept
    : event_loop(time, options{})
{
}

event_loop::event_loop(clock& time, options opts) noexcept
    : m_clock(time)
    , m_thread_id(std::this_thread::get_id())
{
    m_epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    m_wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    m_timer.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!m_epoll || !m_wake || !m_timer || !add_to_epoll(m_epoll.get(), m_wake.get(), wake_token)
        || !add_to_epoll(m_epoll.get(), m_timer.get(), timer_token))
    {
        m_error = errno;
        return;
    }
    m_periodic = opts.periodic_tick;
    m_valid = true;
}

event_loop::~event_loop()
{
    stop();
}

void event_loop::bind_to_current_thread() noexcept
{
    m_thread_id.store(std::this_thread::get_id());
}

void event_loop::assert_in_loop_thread() const noexcept
{
    ZV_ASSERT(in_loop_thread() || stopped());
}

void event_loop::run()
{
    bind_to_current_thread();
    while (m_valid && !m_quit.load(std::memory_order_acquire) && !stopped())
        run_once(-1);
    stop();
}

int event_loop::run_once(int timeout_ms)
{
    assert_in_loop_thread();
    if (!m_valid || stopped())
        return 0; // a stopped loop dispatches nothing: its handlers may be gone
    arm_tick_for_work();
    epoll_event events[max_events];
    const int ready = ::epoll_wait(m_epoll.get(), events, max_events, timeout_ms);
    m_iterations.fetch_add(1, std::memory_order_relaxed);
    if (ready <= 0)
        return 0;
    for (int i = 0; i < ready; ++i)
    {
        const std::uint64_t token = events[i].data.u64;
        if (token == wake_token)
        {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(m_wake.get(), &count, sizeof count);
            run_queued();
        }
        else if (token == timer_token)
        {
            // One walk however many periods passed: a late loop does not catch up.
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto n = ::read(m_timer.get(), &expirations, sizeof expirations);
            tick();
        }
        else
        {
            dispatch(token, events[i].events);
        }
    }
    return ready;
}

void event_loop::arm_tick_for_work() noexcept
{
    const bool wanted = m_periodic && (m_socket_count != 0 || !m_timers.empty());
    if (wanted == m_tick_armed)
        return;
    itimerspec period{};
    if (wanted)
    {
        period.it_interval.tv_nsec = tick_period_ms * 1'000'000L;
        period.it_value = period.it_interval;
    }
    if (::timerfd_settime(m_timer.get(), 0, &period, nullptr) == 0)
        m_tick_armed = wanted;
}

void event_loop::tick()
{
    assert_in_loop_thread();
    if (m_in_tick || stopped())
        return;
    m_in_tick = true;

    // A handler that throws leaves the walk, not the loop: the next tick walks again.
    struct walk_end
    {
        bool& in_tick;

        ~walk_end() { in_tick = false; }
    } const end{m_in_tick};

    m_ticks.fetch_add(1, std::memory_order_relaxed);
    // Advance before acting so erasing the current entry keeps the walk valid. Entries are
    // only nulled (never erased) while the walk runs, so the next iterator stays valid.
    for (auto it = m_timers.begin(); it != m_timers.end();)
    {
        const auto current = it++;
        if (current->second == nullptr)
            m_timers.erase(current);
        else
        {
            NetHandler* handler = current->second;
            try
            {
                handler->on_tick();
            }
            catch (...)
            {
                handler_failed(handler->socket());
            }
        }
    }
}

void event_loop::quit() noexcept
{
    m_quit.store(true, std::memory_order_release);
    wake();
}

void event_loop::stop() noexcept
{
    std::vector<std::function<void()>> abandoned;
    {
        const std::lock_guard lock(m_mutex);
        m_stopped.store(true, std::memory_order_release);
        abandoned.swap(m_queue);
    }
    // Destroying the unrun jobs breaks their promises, which releases every waiting caller.
    abandoned.clear();
}

void event_loop::enqueue(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (stopped())
            return; // dropped unrun: the caller's future reports a broken promise
        m_queue.push_back(std::move(job));
    }
    wake();
}

void event_loop::run_queued()
{
    std::vector<std::function<void()>> jobs;
    {
        const std::lock_guard lock(m_mutex);
        jobs.swap(m_queue);
    }
    for (auto& job : jobs)
        job();
}

void event_loop::wake() noexcept
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake.get(), &one, sizeof one);
}

std::uint32_t event_loop::timer_withdraw(std::uint32_t key)
{
    return call(
        [this, key]() -> std::uint32_t
        {
            const auto found = m_timers.find(key);
            if (found == m_timers.end())
                return 0;
            found->second = nullptr; // erased on the next walk
            return key;
        });
}

int event_loop::attach(NetHandler& handler, unique_fd socket, std::uint32_t mask)
{
    return call(
        [&handler, held = std::move(socket), mask]() mutable
        {
            handler.attach(std::move(held), mask);
            return 1;
        });
}

int event_loop::close(NetHandler& handler)
{
    return call(
        [&handler]
        {
            if (AsyncSocket* socket = handler.socket())
                socket->request_close(true);
            return 1;
        });
}

int event_loop::drain()
{
    return call(
        [this]
        {
            if (m_in_tick)
            {
                // A walk is running (drain from inside a handler): null the entries so the
                // walk's iterator stays valid; they go at the end of the walk.
                for (auto& entry : m_timers)
                    entry.second = nullptr;
            }
            else
            {
                m_timers.clear();
            }
            return m_socket_count != 0 ? 1 : 0;
        });
}

int event_loop::socket_event(int fd, std::uint32_t event, int error)
{
    return call(
        [this, fd, event, error]
        {
            AsyncSocket* socket = find_socket(fd);
            if (socket == nullptr)
                return 1; // no longer registered: ignored
            switch (event)
            {
            case net_event_read:
                socket->on_readable(error);
                break;
            case net_event_write:
                socket->on_writable(error);
                break;
            case net_event_close:
                socket->close(error, true);
                break;
            default:
                break;
            }
            return 1;
        });
}

int event_loop::socket_remove(int fd)
{
    return call(
        [this, fd]
        {
            if (fd < 0 || static_cast<std::size_t>(fd) >= m_sockets.size())
                return 1;
            socket_entry& entry = m_sockets[static_cast<std::size_t>(fd)];
            if (entry.socket == nullptr)
                return 1;
            if (entry.registered != not_registered)
                ::epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
            entry = socket_entry{};
            --m_socket_count;
            return 1;
        });
}

int event_loop::socket_add(int fd, AsyncSocket* socket)
{
    return call(
        [this, fd, socket]
        {
            if (fd < 0 || socket == nullptr)
                return 0;
            const auto index = static_cast<std::size_t>(fd);
            if (index >= m_sockets.size())
                m_sockets.resize(index + 1, socket_entry{nullptr, 0, not_registered});
            socket_entry& entry = m_sockets[index];
            if (entry.socket != nullptr)
            {
                // The fd number is in use again, so the socket it named was closed without
                // being unregistered: the old entry is stale and must not shadow the new one.
                if (entry.registered != not_registered)
                    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
            }
            else
            {
                ++m_socket_count;
            }
            if (++m_generation == 0)
                m_generation = 1;
            entry = socket_entry{socket, m_generation, not_registered};
            return 1;
        });
}

std::uint32_t event_loop::start_timer(NetHandler* handler)
{
    assert_in_loop_thread();
    std::uint32_t key = 1;
    if (!m_timers.empty())
    {
        const std::uint32_t largest = m_timers.rbegin()->first;
        if (largest == std::numeric_limits<std::uint32_t>::max())
            return 0; // no key left above the largest; 0 means "not registered"
        key = largest + 1;
    }
    m_timers.emplace(key, handler);
    return key;
}

AsyncSocket* event_loop::find_socket(int fd) const noexcept
{
    if (fd < 0 || static_cast<std::size_t>(fd) >= m_sockets.size())
        return nullptr;
    return m_sockets[static_cast<std::size_t>(fd)].socket;
}

void event_loop::select(int fd, std::uint32_t epoll_events)
{
    assert_in_loop_thread();
    if (fd < 0 || static_cast<std::size_t>(fd) >= m_sockets.size())
        return;
    socket_entry& entry = m_sockets[static_cast<std::size_t>(fd)];
    if (entry.socket == nullptr || entry.registered == epoll_events)
        return;
    if (epoll_events == 0)
    {
        // Out of the set entirely: a registered fd always reports hang-up and errors, which
        // would spin while the owner is not ready to hear about them.
        if (entry.registered != not_registered)
            ::epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
        entry.registered = not_registered;
        return;
    }
    epoll_event ev{};
    ev.events = epoll_events;
    ev.data.u64 = socket_token(fd, entry.generation);
    const int op = entry.registered == not_registered ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(m_epoll.get(), op, fd, &ev) == 0)
        entry.registered = epoll_events;
}

void event_loop::handler_failed(AsyncSocket* socket) noexcept
{
    m_handler_faults.fetch_add(1, std::memory_order_relaxed);
    if (socket == nullptr || !socket->is_open())
        return;
    try
    {
        socket->request_close(true);
    }
    catch (...)
    {
        // Its close handler threw as well: close without telling it again.
        socket->close(0, false);
    }
}

void event_loop::dispatch(std::uint64_t token, std::uint32_t events)
{
    try
    {
        dispatch_steps(token, events);
    }
    catch (...)
    {
        const auto index = static_cast<std::size_t>(token & 0xFFFFFFFFu);
        const bool alive = index < m_sockets.size() && m_sockets[index].socket != nullptr
            && m_sockets[index].generation == static_cast<std::uint32_t>(token >> 32);
        handler_failed(alive ? m_sockets[index].socket : nullptr);
    }
}

void event_loop::dispatch_steps(std::uint64_t token, std::uint32_t events)
{
    const int fd = static_cast<int>(token & 0xFFFFFFFFu);
    const auto generation = static_cast<std::uint32_t>(token >> 32);
    // A report from the same epoll batch may name a socket that an earlier handler closed,
    // or whose fd number was already reused: check the entry before every step.
    const auto alive = [this, fd, generation]
    {
        const auto index = static_cast<std::size_t>(fd);
        return index < m_sockets.size() && m_sockets[index].socket != nullptr
            && m_sockets[index].generation == generation;
    };
    if (!alive())
        return;
    AsyncSocket* socket = m_sockets[static_cast<std::size_t>(fd)].socket;

    if ((events & EPOLLIN) != 0 && socket->m_read_armed && (socket->m_mask & net_event_read) != 0)
    {
        socket->m_read_called = false;
        socket->on_readable(0);
        if (!alive())
            return;
        if (!socket->m_read_called)
            socket->m_read_armed = false; // left unread: quiet until read_some or want_read
    }
    if ((events & EPOLLOUT) != 0 && socket->m_write_armed && (socket->m_mask & net_event_write) != 0
        && socket->m_write_blocked_turn != m_iterations.load(std::memory_order_relaxed))
    {
        socket->m_write_armed = false; // re-armed by a write_some that blocks
        socket->on_writable(0);
        if (!alive())
            return;
    }
    if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0)
    {
        if ((socket->m_mask & net_event_close) == 0 || unread_bytes(fd) > 0)
        {
            // Data the peer sent before closing is still unread: report the close only once
            // the owner has read it (the next read reaches the end, or the report repeats).
            socket->m_close_seen = true;
        }
        else
        {
            socket->close(pending_socket_error(fd), true);
            return;
        }
    }
    socket->reselect();
}

} // namespace torrent
