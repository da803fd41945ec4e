#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/connect_completion.h"
#include "net/connect_owner.h"
#include "net/connection_poller.h"
#include "net/connection_record.h"
#include "net/handshake_recognizer.h"
#include "net/net_observer.h"
#include "net/peer_link.h"
#include "net/port_mapper.h"

namespace torrent::test
{

inline constexpr std::uint32_t loopback_ip = 0x7F000001;

// A task's peer record as far as the poller sees it.
struct test_peer final : peer_link
{
    test_peer() = default;

    explicit test_peer(std::uint16_t port, std::uint32_t ip = loopback_ip) { aim(port, ip); }

    // Points the record at ip:port, queued for connect as the task leaves it.
    void aim(std::uint16_t port, std::uint32_t ip = loopback_ip)
    {
        endpoint.ip = ip;
        endpoint.port = port;
        state.store(peer_state::queued);
    }
};

// The task side of outgoing connects: records every failure report (with the address key
// in use at that moment) and frees the record as the task would.
class recording_owner final : public connect_owner
{
public:
    void peer_connect_failed(peer_link& record) override
    {
        failures.push_back(&record);
        failed_keys.push_back(record.endpoint.address_key());
        record.state.store(peer_state::gone);
    }

    [[nodiscard]] task_generation generation() const override { return 7; }

    [[nodiscard]] int failures_for(const peer_link& record) const;

    std::vector<const peer_link*> failures;
    std::vector<std::uint64_t> failed_keys;
};

// What a record says without its socket (the socket stays with whoever holds it).
[[nodiscard]] ConnectionRecord details_of(const ConnectionRecord& record);

// A connect completion whose answer the test chooses (default: take the socket). Taken
// sockets are kept open here.
class scripted_completion final : public ConnectCompletion
{
public:
    completion_result complete(ConnectionRecord& record) override;

    std::function<completion_result(ConnectionRecord&)> answer;
    std::vector<ConnectionRecord> seen;
    std::vector<unique_fd> taken;
};

// Takes a socket whose first 68 bytes start with the BitTorrent protocol header; answers
// "need more" before that and "not mine" for anything else. Keeps taken sockets and the
// bytes that came after the handshake.
class prefix_recognizer final : public HandshakeRecognizer
{
public:
    recognize_result recognize(
        std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now) override;

    std::vector<unique_fd> taken;
    std::vector<ConnectionRecord> records;
    int calls = 0;
};

// A recognizer that always wants more bytes (so only the guard can close a socket).
class patient_recognizer final : public HandshakeRecognizer
{
public:
    recognize_result recognize(std::span<const std::byte>, ConnectionRecord&, tick_t, tick_t) override
    {
        return recognize_result::need_more;
    }
};

// Counts what the network layer tells the window.
class recording_observer final : public net_observer
{
public:
    void set_upnp_established(bool established) override { established_calls.push_back(established); }

    void set_upnp_wanted(bool wanted) override { wanted_calls.push_back(wanted); }

    void show_sticky_status(net_status status, const net_status_detail&) override
    {
        statuses.push_back(status);
    }

    void chime_connected() override { ++chimes; }

    void beep_alert() override { ++beeps; }

    std::vector<bool> established_calls;
    std::vector<bool> wanted_calls;
    std::vector<net_status> statuses;
    int chimes = 0;
    int beeps = 0;
};

// A stand-in router mapping.
class stub_mapper final : public port_mapper
{
public:
    struct stats
    {
        int made = 0;
        int destroyed = 0;
        std::vector<tick_t> steps;
        bool established = false;
        bool finished = false;
        std::uint32_t local_ip = 0;
        std::uint16_t port = 0;
        tick_t opened_at = 0;
    };

    explicit stub_mapper(stats& s)
        : m_stats(s)
    {
        ++m_stats.made;
    }

    ~stub_mapper() override { ++m_stats.destroyed; }

    stub_mapper(const stub_mapper&) = delete;
    stub_mapper& operator=(const stub_mapper&) = delete;

    [[nodiscard]] bool established() const override { return m_stats.established; }

    void retry_step(tick_t now) override { m_stats.steps.push_back(now); }

    [[nodiscard]] bool finished() const override { return m_stats.finished; }

    // A factory that makes stub mappers reporting into `s`.
    static port_mapper_factory factory(stats& s);

private:
    stats& m_stats;
};

// The 68-byte handshake for a made-up torrent.
[[nodiscard]] std::string handshake_bytes();

// A listening socket on 127.0.0.1 with the given backlog; `port` receives its port.
[[nodiscard]] unique_fd listen_loopback(int backlog, std::uint16_t& port);

// A port on 127.0.0.1 that nobody listens on (a connect to it is refused).
[[nodiscard]] std::uint16_t closed_port();

// A blocking connect to 127.0.0.1:port (blocking descriptor, empty on failure).
[[nodiscard]] unique_fd connect_loopback(std::uint16_t port);

// Local port of a socket, and port of its peer.
[[nodiscard]] std::uint16_t local_port_of(int fd);
[[nodiscard]] std::uint16_t peer_port_of(int fd);

// Sends all bytes on a blocking socket.
bool send_all(int fd, const std::string& bytes);

// True when the peer has closed `fd` (EOF or reset) within `ms` milliseconds.
[[nodiscard]] bool peer_closed(int fd, int ms = 2000);

// A target whose connects never complete: a listener with a full accept queue that never
// accepts (its SYNs are dropped, all on loopback).
struct hanging_target
{
    hanging_target();
    std::uint16_t port = 0;
    unique_fd listener;
    unique_fd filler;
};

// Runs poller passes (each waiting up to wait_ms for events) until `done` holds or `turns`
// passes have run.
bool pump(ConnectionPoller& poller, const std::function<bool()>& done, int turns = 200, int wait_ms = 10);

} // namespace torrent::test
