#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/polled_socket.h"
#include "net/port_mapper.h"

namespace torrent
{

class ConnectionPoller;
class HandshakeDispatcher;
class net_observer;

// The process-wide limit on connects waiting in the poller's pending list, and its
// ceiling. Both start at two thirds of the per-task connection limit. Every accepted peer
// lowers the limit by 2 while it is above 6; every idle listener pass while a router
// mapping is still being attempted raises it by 1 up to the ceiling. Written only by the
// listener on the poller thread; read by the tasks without a lock.
// Owner: NetworkContext.
struct pending_connect_limit
{
    static constexpr int floor = 6;

    std::atomic<int> limit{42};
    std::atomic<int> ceiling{42};

    void reset(int max_peers_per_task) noexcept
    {
        const int start = max_peers_per_task * 2 / 3;
        limit.store(start, std::memory_order_relaxed);
        ceiling.store(start, std::memory_order_relaxed);
    }

    [[nodiscard]] int get() const noexcept { return limit.load(std::memory_order_relaxed); }
};

// The listening socket: binds the first free port at or above the wanted one, wraps every
// accepted socket in an IncomingConnection for the handshake dispatcher, moves the
// pending-connect limit and drives the router port mapping from its idle passes.
// Owner: ConnectionPoller (from start-up to shutdown). Runs on: poller thread; open() and
// start_port_mapping() run at start-up before the poller thread starts.
class PeerListener final : public PolledSocket
{
public:
    static constexpr int backlog = 256;
    static constexpr std::uint16_t no_port = 65535;
    // Accepts per pass, so a flood of connections cannot hold the poller.
    static constexpr int max_accepts_per_pass = 256;

    PeerListener(net_observer& observer, pending_connect_limit& limit) noexcept;
    ~PeerListener() override;
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    // Binds port, port + 1, ... (below 65535) on bind_ip (host order, 0 = any address) and
    // listens. `port` ends as the bound port, or 65535 when nothing could be bound (then
    // the answer is false). `now` is the open time (the mapping's first attempt waits 5 s
    // from it).
    bool open(std::uint16_t& port, tick_t now, std::uint32_t bind_ip = 0);

    // Creates the router mapping through `factory` unless one exists (or the factory is
    // empty). Poller thread, or before it starts.
    void start_port_mapping(
        std::uint32_t local_ip,
        std::uint16_t port,
        const port_mapper_factory& factory,
        const port_mapping_env& env);

    // Remembers how to make a mapping later, for request_port_mapping().
    void set_mapping_source(std::uint32_t local_ip, port_mapper_factory factory, port_mapping_env env);

    // Any thread: the next pass starts the mapping (the user turned UPnP on).
    void request_port_mapping() noexcept { m_mapping_requested.store(true); }

    // Where accepted sockets go; without both they are closed at once.
    void set_targets(ConnectionPoller* poller, HandshakeDispatcher* dispatcher) noexcept;

    [[nodiscard]] std::uint32_t event_mask() const override { return net_event::accept; }

    [[nodiscard]] int socket() const override { return m_socket.get(); }

    [[nodiscard]] service_result service(const service_context& ctx) override;
    // A router mapping under way needs the idle passes (its retries and the quota growing
    // back run on them); a listener without one waits for connections alone.
    [[nodiscard]] bool wants_timed_pass() const override;

    [[nodiscard]] std::uint16_t port() const noexcept { return m_port; }

    [[nodiscard]] tick_t opened_at() const noexcept { return m_opened_at; }

    // A mapping exists (being attempted or established).
    [[nodiscard]] bool has_port_mapping() const noexcept { return m_mapper != nullptr; }

    // Connections accepted (or shed for lack of descriptors) since open.
    [[nodiscard]] std::uint64_t accepted_count() const noexcept
    {
        return m_accepted.load(std::memory_order_relaxed);
    }

private:
    bool accept_one(const service_context& ctx);
    void on_peer_arrived();
    void idle_step(tick_t now);
    // Out of descriptors: drop one waiting connection using the reserve descriptor, so the
    // listening socket does not stay readable and spin the poller.
    bool shed_one();

    net_observer& m_observer;
    pending_connect_limit& m_limit;
    unique_fd m_socket;
    unique_fd m_reserve;
    ConnectionPoller* m_poller = nullptr;
    HandshakeDispatcher* m_dispatcher = nullptr;
    std::unique_ptr<port_mapper> m_mapper;
    tick_t m_opened_at = 0;
    std::uint16_t m_port = no_port;
    std::atomic<std::uint64_t> m_accepted{0};

    struct mapping_source
    {
        std::uint32_t local_ip;
        port_mapper_factory factory;
        port_mapping_env env;
    };

    std::optional<mapping_source> m_mapping_source;
    std::atomic<bool> m_mapping_requested{false};
};

} // namespace torrent
