#include "net/incoming_connection.h"

#include "base/assert.h"
#include "net/handshake_dispatcher.h"

namespace torrent
{

IncomingConnection::IncomingConnection(HandshakeDispatcher* dispatcher, tick_t created) noexcept
    : m_dispatcher(dispatcher)
    , m_created(created)
{
    m_record.owner = this;
}

IncomingConnection::~IncomingConnection() = default;

void IncomingConnection::attach(unique_fd socket, std::uint32_t peer_ip, std::uint16_t peer_port)
{
    m_accepted = true;
    m_record.socket = std::move(socket);
    PeerEndpoint& ep = m_record.endpoint;
    if (ep.ip == 0)
    {
        ep.ip = peer_ip;
        ep.port = peer_port;
    }
    else
    {
        ep.alt_ip = peer_ip;
        ep.alt_port = peer_port;
    }
    ep.result = 0;
    m_record.live = 1;
}

service_result IncomingConnection::service(const service_context& ctx)
{
    enumerate_events();
    // Nothing was reported readable: a read would only say "would block".
    const int got = readable() || closed() ? receive_input(read_limit_per_pass) : 1;
    if (got == 0 || m_dispatcher == nullptr)
        return closed() ? service_result::remove : service_result::keep;

    const ByteQueue* queue = input();
    const std::span<const std::byte> bytes = queue != nullptr ? queue->bytes() : std::span<const std::byte>{};
    switch (m_dispatcher->dispatch(bytes, m_record, m_created, ctx.now))
    {
    case recognize_result::reject:
        return service_result::remove;
    case recognize_result::taken:
        // The recognizer moved the socket out to its peer connection: removal closes nothing.
        ZV_ASSERT(!m_record.socket);
        return service_result::remove;
    case recognize_result::not_mine:
    case recognize_result::need_more:
        break;
    }
    return closed() ? service_result::remove : service_result::keep;
}

} // namespace torrent
