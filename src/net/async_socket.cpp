#include "net/async_socket.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "net/event_loop.h"
#include "net/net_handler.h"

namespace torrent
{

void PrintTo(io_result r, std::ostream* os)
{
    static constexpr const char* names[] = {"partial", "complete", "closed", "blocked"};
    const auto index = static_cast<unsigned>(r);
    *os << (index < 4 ? names[index] : "io_result(?)") << '(' << index << ')';
}

AsyncSocket::AsyncSocket(event_loop& loop, NetHandler* owner) noexcept
    : m_loop(loop)
    , m_owner(owner)
{
}

AsyncSocket::~AsyncSocket()
{
    if (m_socket)
        close(0, true);
    m_owner = nullptr;
}

io_result AsyncSocket::write_some(const void* data, std::uint32_t total, std::uint32_t& done)
{
    if (total <= done || !m_socket)
        return io_result::closed;
    const std::uint32_t want = total - done;
    const ssize_t sent = ::send(m_socket.get(), data, want, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0)
        done += static_cast<std::uint32_t>(sent);
    return after_send(sent, want);
}

io_result AsyncSocket::read_some(void* buffer, std::uint32_t total, std::uint32_t& done)
{
    if (total <= done || !m_socket)
        return io_result::closed;
    arm_read();
    const std::uint32_t want = total - done;
    const ssize_t got = ::recv(m_socket.get(), buffer, want, MSG_DONTWAIT);
    if (got > 0)
        done += static_cast<std::uint32_t>(got);
    return after_receive(got, want);
}

io_result AsyncSocket::write_pair(
    std::span<const std::byte> first, std::span<const std::byte> second, std::uint32_t& moved)
{
    moved = 0;
    const std::size_t want = first.size() + second.size();
    if (first.empty() || want > max_transfer || !m_socket)
        return io_result::closed;
    iovec parts[2] = {
        {const_cast<std::byte*>(first.data()), first.size()},
        {const_cast<std::byte*>(second.data()), second.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = second.empty() ? 1 : 2;
    const ssize_t sent = ::sendmsg(m_socket.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0)
        moved = static_cast<std::uint32_t>(sent);
    return after_send(sent, static_cast<std::uint32_t>(want));
}

io_result
AsyncSocket::read_pair(std::span<std::byte> first, std::span<std::byte> second, std::uint32_t& moved)
{
    moved = 0;
    if (first.empty() || first.size() + second.size() > max_transfer || !m_socket)
        return io_result::closed;
    arm_read();
    iovec parts[2] = {{first.data(), first.size()}, {second.data(), second.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = second.empty() ? 1 : 2;
    const ssize_t got = ::recvmsg(m_socket.get(), &message, MSG_DONTWAIT);
    if (got > 0)
        moved = static_cast<std::uint32_t>(got);
    // Filling `first` is what was asked; `second` only saves a later call.
    return after_receive(got, static_cast<std::uint32_t>(first.size()));
}

void AsyncSocket::arm_read()
{
    m_read_called = true;
    if (!m_read_armed)
    {
        m_read_armed = true;
        reselect();
    }
}

io_result AsyncSocket::after_receive(ssize_t got, std::uint32_t want)
{
    if (got == 0)
        return io_result::closed;
    if (got < 0)
        return io_result::blocked;
    return static_cast<std::uint32_t>(got) >= want ? io_result::complete : io_result::partial;
}

io_result AsyncSocket::after_send(ssize_t sent, std::uint32_t want)
{
    if (sent == 0)
        return io_result::closed;
    if (sent < 0)
    {
        const int error = errno;
        m_last_error = (error == EAGAIN || error == EINTR) ? 0 : error;
        // Blocked (or failed: the close report follows): hear when the socket can take more.
        m_write_armed = true;
        m_write_blocked_turn = m_loop.iterations();
        reselect();
        return io_result::blocked;
    }
    if (static_cast<std::uint32_t>(sent) == want)
        return io_result::complete;
    m_write_armed = true; // the send buffer is full
    m_write_blocked_turn = m_loop.iterations();
    reselect();
    return io_result::partial;
}

int AsyncSocket::request_close(bool notify)
{
    if (!m_socket)
        return 0;
    return close(0, notify);
}

void AsyncSocket::want_read()
{
    m_mask |= net_event_read | net_event_close;
    m_read_armed = true;
    reselect();
}

void AsyncSocket::want_write()
{
    m_mask |= net_event_write | net_event_close;
    m_write_armed = true;
    reselect();
}

void AsyncSocket::drop_read()
{
    m_mask &= ~net_event_read;
    reselect();
}

int AsyncSocket::close(int error, bool notify)
{
    int result = 0;
    if (m_socket)
    {
        m_loop.socket_remove(m_socket.get()); // leaves the epoll set too
        result = ::close(m_socket.release());
        m_read_armed = false;
        m_write_armed = false;
        m_close_seen = false;
    }
    if (notify && m_owner != nullptr)
        return m_owner->on_closed(error);
    return result;
}

void AsyncSocket::on_readable(int error)
{
    if (m_owner != nullptr)
        m_owner->on_readable(error);
}

void AsyncSocket::on_writable(int error)
{
    if (m_owner != nullptr)
        m_owner->on_writable(error);
}

void AsyncSocket::attach(unique_fd socket, std::uint32_t mask)
{
    if (m_socket)
        close(0, false);
    if (!socket)
        return;
    const int flags = ::fcntl(socket.get(), F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0)
        ::fcntl(socket.get(), F_SETFL, flags | O_NONBLOCK);
    m_loop.socket_add(socket.get(), this);
    m_socket = std::move(socket);
    m_mask = mask;
    m_read_armed = true;
    m_write_armed = (mask & net_event_write) != 0; // one writable report to start with
    m_close_seen = false;
    m_last_error = 0;
    reselect();
}

std::uint32_t AsyncSocket::wanted_events() const noexcept
{
    if (!m_socket)
        return 0;
    std::uint32_t events = 0;
    if ((m_mask & net_event_read) != 0 && m_read_armed)
        events |= EPOLLIN;
    if (!m_close_seen)
    {
        if ((m_mask & net_event_write) != 0 && m_write_armed)
            events |= EPOLLOUT;
        if ((m_mask & net_event_close) != 0)
            events |= EPOLLRDHUP;
    }
    return events;
}

void AsyncSocket::reselect()
{
    if (m_socket)
        m_loop.select(m_socket.get(), wanted_events());
}

} // namespace torrent
