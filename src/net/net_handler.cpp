#include "net/net_handler.h"

#include "net/event_loop.h"

namespace torrent
{

NetHandler::NetHandler(event_loop& loop) noexcept
    : m_loop(loop)
{
}

NetHandler::~NetHandler()
{
    // A handler that goes away while registered must never be ticked again.
    if (m_timer_key != 0)
        stop_timer();
    m_socket.reset();
}

int NetHandler::on_closed(int)
{
    return 0;
}

void NetHandler::on_readable(int) {}

void NetHandler::on_writable(int) {}

void NetHandler::on_tick() {}

void NetHandler::attach(unique_fd socket, std::uint32_t mask)
{
    m_loop.assert_in_loop_thread();
    if (!m_socket)
        m_socket = std::make_unique<AsyncSocket>(m_loop, this);
    m_socket->attach(std::move(socket), mask);
}

bool NetHandler::start_timer()
{
    if (m_timer_key == 0)
        m_timer_key = m_loop.start_timer(this);
    return m_timer_key != 0;
}

bool NetHandler::stop_timer()
{
    if (m_timer_key == 0)
        return false;
    const std::uint32_t answer = m_loop.timer_withdraw(m_timer_key);
    m_timer_key = 0;
    return answer != 0;
}

io_result NetHandler::write_some(const void* data, std::uint32_t total, std::uint32_t& done)
{
    if (total > max_transfer || !m_socket)
        return io_result::closed;
    return m_socket->write_some(data, total, done);
}

io_result NetHandler::read_some(void* buffer, std::uint32_t total, std::uint32_t& done)
{
    if (total > max_transfer || !m_socket)
        return io_result::closed;
    return m_socket->read_some(buffer, total, done);
}

io_result NetHandler::write_pair(
    std::span<const std::byte> first, std::span<const std::byte> second, std::uint32_t& moved)
{
    moved = 0;
    if (!m_socket)
        return io_result::closed;
    return m_socket->write_pair(first, second, moved);
}

io_result NetHandler::read_pair(std::span<std::byte> first, std::span<std::byte> second, std::uint32_t& moved)
{
    moved = 0;
    if (!m_socket)
        return io_result::closed;
    return m_socket->read_pair(first, second, moved);
}

} // namespace torrent
