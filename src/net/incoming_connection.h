#pragma once

#include <cstddef>
#include <cstdint>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/connection_record.h"
#include "net/polled_socket.h"

namespace torrent
{

class HandshakeDispatcher;

// An accepted socket that has not yet said which torrent it wants: read on every pass and
// shown to the handshake dispatcher until a recognizer takes it or it is rejected or
// closed.
// Owner: ConnectionPoller. Runs on: poller thread.
class IncomingConnection final : public PolledSocket
{
public:
    // At most this much is read from one socket in one pass, so a peer that floods us can
    // neither grow memory without bound nor hold the poller (the guard rejects any socket
    // that queues more than 512 unidentified bytes anyway).
    static constexpr std::size_t read_limit_per_pass = 10240;

    IncomingConnection(HandshakeDispatcher* dispatcher, tick_t created) noexcept;
    ~IncomingConnection() override;
    IncomingConnection(const IncomingConnection&) = delete;
    IncomingConnection& operator=(const IncomingConnection&) = delete;

    // Takes an accepted socket and the peer's address and port (host order). The address
    // goes into the primary pair of the record's endpoint, or into the alternate pair when
    // the primary one is already set.
    void attach(unique_fd socket, std::uint32_t peer_ip, std::uint16_t peer_port);

    [[nodiscard]] std::uint32_t event_mask() const override
    {
        return net_event::read | net_event::write | net_event::close;
    }

    // The accepted socket lives in the record shown to the recognizers.
    [[nodiscard]] int socket() const override { return m_record.socket.get(); }

    [[nodiscard]] service_result service(const service_context& ctx) override;

    void close_hook() override { m_record.socket.reset(); }

    [[nodiscard]] const ConnectionRecord& record() const noexcept { return m_record; }

    [[nodiscard]] bool accepted() const noexcept { return m_accepted; }

    [[nodiscard]] tick_t created() const noexcept { return m_created; }

private:
    HandshakeDispatcher* m_dispatcher;
    ConnectionRecord m_record;
    bool m_accepted = false;
    tick_t m_created;
};

} // namespace torrent
