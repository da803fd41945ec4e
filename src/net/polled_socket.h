#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/byte_queue.h"

namespace torrent
{

class ConnectCompletion;
class ConnectionPoller;
struct peer_link;

// Network event bits as the event enumeration reports them; error slot n belongs to bit n.
namespace net_event
{
inline constexpr std::uint32_t read = 0x01;
inline constexpr std::uint32_t write = 0x02;
inline constexpr std::uint32_t oob = 0x04;
inline constexpr std::uint32_t accept = 0x08;
inline constexpr std::uint32_t connect = 0x10;
inline constexpr std::uint32_t close = 0x20;
inline constexpr std::uint32_t all = 0x3F;
} // namespace net_event

enum class service_result : std::uint8_t
{
    remove = 0, // the poller unlinks the object, runs its close_hook and deletes it
    keep = 1
};

// What a service pass gives every object: the pass's time and what the network root
// supplies to outgoing connects.
struct service_context
{
    tick_t now = 0;
    std::uint32_t local_ip = 0; // bind address of outgoing connects (0 = any)
    ConnectCompletion* completion = nullptr; // receives finished outgoing connects
};

// Base of every socket the poller thread drives (the listener, incoming sockets that have
// not identified their torrent yet, outgoing connects in progress).
//
// The platform's "enumerate network events" is emulated over poll(): the poller stores the
// readiness it saw for the object's socket, and enumerate_events() turns it into event bits
// according to the object's event mask: connect done = writable (or hang-up/error) on a
// connecting socket, with the error from SO_ERROR; accept = readable on a listening socket;
// read = readable; write = writable; close = peer hang-up (or a read of 0 bytes).
// Owner: ConnectionPoller. Runs on: poller thread.
class PolledSocket
{
public:
    PolledSocket() = default;
    PolledSocket(const PolledSocket&) = delete;
    PolledSocket& operator=(const PolledSocket&) = delete;
    virtual ~PolledSocket();

    // Reads into the input queue, at most `limit` bytes (0 = no limit). 0 without a socket
    // or when the peer closed (a read of 0 bytes), 1 otherwise (including "would block").
    virtual int receive_input(std::size_t limit);

    [[nodiscard]] virtual std::uint32_t event_mask() const { return net_event::all; }

    [[nodiscard]] virtual int socket() const { return -1; }

    [[nodiscard]] virtual service_result service(const service_context& ctx);

    // Whether the object needs passes on the poller's clock (time-outs, retries) even when
    // none of its sockets is ready. Only then does the poller wake every 50 ms.
    [[nodiscard]] virtual bool wants_timed_pass() const { return true; }

    virtual void close_hook() {}

    // Starts a connect to ip:port (host order); answers the socket or -1. The base class has
    // nowhere to keep a socket and answers -1.
    virtual int connect(
        std::uint32_t ip,
        std::uint16_t port,
        std::uint16_t local_port,
        ConnectCompletion* completion,
        const service_context& ctx);

    [[nodiscard]] virtual peer_link* peer_record() const { return nullptr; }

    // ---- event enumeration ---------------------------------------------------------------

    // Fetches and clears the readiness the poller recorded, sets the event bits, their
    // error codes and the five flags, and keeps the first non-zero error. Bits are looked at
    // in the order connect, write, read, close, accept, so a connect error wins.
    void enumerate_events();

    [[nodiscard]] std::uint32_t events() const noexcept { return m_events; }

    [[nodiscard]] int event_error(unsigned bit_index) const noexcept { return m_event_errors.at(bit_index); }

    [[nodiscard]] bool readable() const noexcept { return m_readable; }

    [[nodiscard]] bool writable() const noexcept { return m_writable; }

    [[nodiscard]] bool acceptable() const noexcept { return m_acceptable; }

    [[nodiscard]] bool connected() const noexcept { return m_connected; }

    [[nodiscard]] bool closed() const noexcept { return m_closed; }

    [[nodiscard]] int first_error() const noexcept { return m_first_error; }

    [[nodiscard]] ByteQueue* input() const noexcept { return m_input.get(); }

    // poll() interest for the current mask. Nothing on the poller thread sends (a taken
    // socket sends from the network thread), so writability is asked for only while a
    // connect is in progress and level-triggered readiness never spins.
    [[nodiscard]] short poll_events() const;

    // Records readiness seen by the poller; consumed by the next enumerate_events().
    void note_readiness(short revents) noexcept { m_revents = static_cast<short>(m_revents | revents); }

protected:
    // Creates a non-blocking IPv4 TCP socket, binds it to local_ip:local_port and starts a
    // connect to ip:port (all host order). An empty handle when any step fails; a connect
    // still in progress counts as started.
    [[nodiscard]] static unique_fd
    open_connect(std::uint32_t ip, std::uint16_t port, std::uint32_t local_ip, std::uint16_t local_port);

private:
    friend class ConnectionPoller;

    std::uint32_t m_events = 0;
    std::array<int, 10> m_event_errors{};
    bool m_readable = false;
    bool m_writable = false;
    bool m_acceptable = false;
    bool m_connected = false;
    bool m_closed = false;
    int m_first_error = 0;
    std::unique_ptr<ByteQueue> m_input;

    short m_revents = 0; // readiness from the last poll, not yet enumerated
    bool m_counted = false; // counted as a connect in flight by the poller
};

} // namespace torrent
