#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <sys/types.h>

#include "base/unique_fd.h"

namespace torrent
{

class event_loop;
class NetHandler;

// Socket-event bits of an AsyncSocket mask and of the event codes the loop dispatches.
inline constexpr std::uint32_t net_event_read = 0x01;
inline constexpr std::uint32_t net_event_write = 0x02;
inline constexpr std::uint32_t net_event_close = 0x20;

// Answer of one socket step.
enum class io_result : std::uint8_t
{
    partial = 0, // some bytes moved, the transfer is not complete
    complete = 1, // done reached total
    closed = 2, // orderly close by the peer, nothing to do, or refused (over the cap)
    blocked = 3, // would block, or a socket error
};

void PrintTo(io_result r, std::ostream* os);

// Largest transfer one step may be asked for.
inline constexpr std::uint32_t max_transfer = 0x8000;

// A non-blocking socket registered with the network thread's event loop. Readiness is
// delivered to the owner as on_readable / on_writable / on_closed, with the semantics of
// an edge-style notification on top of level-triggered epoll:
// - read: after a readable notification the socket is not reported readable again until
//   the owner has called read_some (or want_read), so an owner that leaves data unread
//   (for example under a download limit) does not make the loop spin;
// - write: reported once after attach / want_write, and after that only when a write_some
//   could not move everything (blocked or partial); write interest is dropped as soon as
//   a writable notification found nothing blocked;
// - close: the peer's close (or a socket error) is reported only after readable data that
//   arrived before it has been offered to the owner, so nothing the peer sent is lost.
// Owner: its NetHandler. Runs on: network thread only (construction included).
class AsyncSocket
{
public:
    AsyncSocket(event_loop& loop, NetHandler* owner) noexcept;
    // Closes an open socket with error 0, telling the owner (on_closed), then forgets it.
    virtual ~AsyncSocket();
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    // Sends from `data`, which points at the first byte still to move; `total` is the whole
    // length of the transfer and `done` (in and out) the part already moved.
    virtual io_result write_some(const void* data, std::uint32_t total, std::uint32_t& done);
    // Receives into `buffer` (the first free byte), same accounting as write_some.
    virtual io_result read_some(void* buffer, std::uint32_t total, std::uint32_t& done);

    // Gathered forms, one system call for two buffers. `moved` (out) counts the bytes
    // moved through both, `first` before `second`. A write is complete when both went out
    // whole; a read when `first` was filled (`second` takes whatever else had arrived).
    virtual io_result
    write_pair(std::span<const std::byte> first, std::span<const std::byte> second, std::uint32_t& moved);
    virtual io_result
    read_pair(std::span<std::byte> first, std::span<std::byte> second, std::uint32_t& moved);

    // Closes an open socket with error 0; answers what close answers.
    virtual int request_close(bool notify);

    virtual void want_read(); // mask |= read | close

    // The owner read nothing from the socket in this readable report (it went through
    // bytes it had read before) but wants the next one: read interest stays on.
    void keep_reading() { arm_read(); }

    virtual void want_write(); // mask |= write | close
    virtual void drop_read();

    // Unregisters and closes the socket (if open); with notify, answers the owner's
    // on_closed(error), otherwise the result of closing (0 when nothing was open).
    virtual int close(int error, bool notify);

    virtual void on_readable(int error);
    virtual void on_writable(int error);

    // Takes the socket (made non-blocking here), registers it with the loop and selects
    // the mask. An already open socket is closed first without notification.
    virtual void attach(unique_fd socket, std::uint32_t mask);

    [[nodiscard]] int fd() const noexcept { return m_socket.get(); }

    [[nodiscard]] bool is_open() const noexcept { return m_socket.valid(); }

    [[nodiscard]] std::uint32_t mask() const noexcept { return m_mask; }

    [[nodiscard]] NetHandler* owner() const noexcept { return m_owner; }

    [[nodiscard]] event_loop& loop() const noexcept { return m_loop; }

    // The error code of the last failed send (0 when it only would have blocked).
    [[nodiscard]] int last_error() const noexcept { return m_last_error; }

private:
    friend class event_loop;

    // The epoll interest wanted now, from the mask and the arm flags.
    [[nodiscard]] std::uint32_t wanted_events() const noexcept;
    void reselect();
    // The accounting after a send or receive of `want` bytes that answered `got`.
    io_result after_send(ssize_t got, std::uint32_t want);
    io_result after_receive(ssize_t got, std::uint32_t want);
    void arm_read();

    event_loop& m_loop;
    NetHandler* m_owner;
    unique_fd m_socket;
    std::uint32_t m_mask = 0;
    bool m_read_armed = false; // readable reports wanted (cleared when one went unread)
    bool m_write_armed = false; // writable report wanted (a write is blocked)
    bool m_close_seen = false; // peer closed while unread data remained
    bool m_read_called = false;
    int m_last_error = 0;
    // Loop turn in which a write last blocked: a writable report from that same turn was
    // taken before the write and says nothing about room now.
    std::uint64_t m_write_blocked_turn = 0;
};

} // namespace torrent
