#pragma once

#include <cstdint>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/connect_owner.h"
#include "net/polled_socket.h"

namespace torrent
{

// One outgoing connect to a peer, queued by a task and driven by the poller: it waits up
// to 60 s for the connect to finish, hands a connected socket to the connect completion,
// and reports every attempt that ends without a connection to the task, exactly once.
// When the completion declines a connected socket and the peer has an alternate address
// not tried yet, it tries that address once with a fresh deadline.
// Owner: ConnectionPoller. Runs on: poller thread (constructed on the task's thread).
class OutgoingConnect final : public PolledSocket
{
public:
    static constexpr tick_t connect_timeout_ms = 60000;

    // `task` and `record` must outlive this object (the task's peer records do).
    OutgoingConnect(connect_owner* task, task_generation generation, peer_link* record) noexcept;
    ~OutgoingConnect() override;
    OutgoingConnect(const OutgoingConnect&) = delete;
    OutgoingConnect& operator=(const OutgoingConnect&) = delete;

    [[nodiscard]] std::uint32_t event_mask() const override { return net_event::connect; }

    [[nodiscard]] int socket() const override { return m_socket.get(); }

    [[nodiscard]] service_result service(const service_context& ctx) override;
    // Closes an open socket and reports the failure to the task.
    void close_hook() override;
    int connect(
        std::uint32_t ip,
        std::uint16_t port,
        std::uint16_t local_port,
        ConnectCompletion* completion,
        const service_context& ctx) override;

    [[nodiscard]] peer_link* peer_record() const override { return m_record; }

    // For the connect completion: the task (null once cleared) and the generation it had
    // when the connect was queued.
    [[nodiscard]] connect_owner* task() const noexcept { return m_task; }

    [[nodiscard]] task_generation generation() const noexcept { return m_generation; }

    // The completion clears the task when the slot no longer serves the same torrent, so
    // nothing more is reported to it.
    void clear_task() noexcept { m_task = nullptr; }

    [[nodiscard]] tick_t deadline() const noexcept { return m_deadline; }

private:
    void report_failure();

    unique_fd m_socket;
    ConnectCompletion* m_completion = nullptr;
    connect_owner* m_task;
    peer_link* m_record;
    task_generation m_generation;
    tick_t m_deadline = 0;
};

} // namespace torrent
