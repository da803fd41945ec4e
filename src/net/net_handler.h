#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/unique_fd.h"
#include "net/async_socket.h"

namespace torrent
{

class event_loop;

// Base of every connection on the network thread: receives socket readiness from its
// AsyncSocket and the 50 ms tick from the loop's timer map. The handler is bound to one
// loop for its whole life, and that loop must outlive it.
// Owner: whoever created it (a peer record owns its PeerConnection). Runs on: network
// thread; only construction and the cross-thread requests of event_loop happen elsewhere.
class NetHandler
{
public:
    explicit NetHandler(event_loop& loop) noexcept;
    // Withdraws a held timer key, then destroys the socket (which closes it, telling this
    // handler's base on_closed only: derived parts are already gone).
    virtual ~NetHandler();
    NetHandler(const NetHandler&) = delete;
    NetHandler& operator=(const NetHandler&) = delete;

    virtual int on_closed(int error);
    virtual void on_readable(int error);
    virtual void on_writable(int error);
    // Creates the AsyncSocket on first use (mask 0, owner = this) and attaches the socket.
    virtual void attach(unique_fd socket, std::uint32_t mask);
    virtual void on_tick();

    // Registers for ticks (network thread only); true when a key is held afterwards.
    bool start_timer();
    // Withdraws the tick registration; true when the loop still had it.
    bool stop_timer();

    // Refuse transfers over max_transfer (closed), otherwise forward to the socket. Without
    // a socket the answer is closed.
    io_result write_some(const void* data, std::uint32_t total, std::uint32_t& done);
    io_result read_some(void* buffer, std::uint32_t total, std::uint32_t& done);
    // The gathered forms of AsyncSocket, with the same refusals.
    io_result
    write_pair(std::span<const std::byte> first, std::span<const std::byte> second, std::uint32_t& moved);
    io_result read_pair(std::span<std::byte> first, std::span<std::byte> second, std::uint32_t& moved);

    [[nodiscard]] AsyncSocket* socket() const noexcept { return m_socket.get(); }

    [[nodiscard]] std::uint32_t timer_key() const noexcept { return m_timer_key; }

    [[nodiscard]] event_loop& loop() const noexcept { return m_loop; }

private:
    event_loop& m_loop;
    std::unique_ptr<AsyncSocket> m_socket;
    std::uint32_t m_timer_key = 0;
};

} // namespace torrent
