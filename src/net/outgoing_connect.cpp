#include "net/outgoing_connect.h"

#include "base/assert.h"
#include "net/connect_completion.h"
#include "net/connection_record.h"
#include "net/peer_link.h"

namespace torrent
{

OutgoingConnect::OutgoingConnect(connect_owner* task, task_generation generation, peer_link* record) noexcept
    : m_task(task)
    , m_record(record)
    , m_generation(generation)
{
}

OutgoingConnect::~OutgoingConnect()
{
    close_hook();
}

int OutgoingConnect::connect(
    std::uint32_t ip,
    std::uint16_t port,
    std::uint16_t local_port,
    ConnectCompletion* completion,
    const service_context& ctx)
{
    m_socket = open_connect(ip, port, ctx.local_ip, local_port);
    m_completion = completion;
    m_deadline = ctx.now + connect_timeout_ms;
    return m_socket.get();
}

void OutgoingConnect::report_failure()
{
    // A task slot that has been closed (and perhaps reused) since the connect was queued
    // must not hear of it: its record may already serve another connection.
    if (m_task != nullptr && m_record != nullptr && m_task->generation() == m_generation)
        m_task->peer_connect_failed(*m_record);
}

void OutgoingConnect::close_hook()
{
    if (!m_socket)
        return;
    m_socket.reset();
    report_failure();
}

service_result OutgoingConnect::service(const service_context& ctx)
{
    if (m_completion == nullptr || is_due(ctx.now, m_deadline))
    {
        // An open socket is closed and reported by close_hook; an attempt that never got a
        // socket is reported here, so the task always hears of it.
        if (!m_socket)
            report_failure();
        return service_result::remove;
    }
    if (!m_socket)
    {
        report_failure();
        return service_result::remove;
    }

    enumerate_events();
    if (!connected())
        return service_result::keep;

    ConnectionRecord record;
    record.endpoint.result = static_cast<std::uint8_t>(first_error() & 0xFF);
    record.live = 1;
    record.owner = this;
    if (record.endpoint.result != 0)
        return service_result::remove; // refused or unreachable: close_hook reports it

    record.socket = std::move(m_socket);
    const completion_result answer = m_completion->complete(record);
    // Whatever was not taken comes back (a completion that took the socket left none).
    m_socket = std::move(record.socket);
    if (answer == completion_result::taken)
    {
        ZV_ASSERT(!m_socket);
        return service_result::remove;
    }

    // Declined. Try the alternate address once, while the task still wants this peer; the
    // record stays with this attempt, so no failure is reported for the first address.
    const bool retry = m_task != nullptr && m_record != nullptr && !m_record->endpoint.use_alternate
        && m_record->endpoint.alt_ip != 0;
    if (!retry)
    {
        close_hook();
        if (m_record != nullptr)
            m_record->endpoint.use_alternate = false;
        return service_result::remove;
    }
    m_socket.reset();
    m_record->endpoint.use_alternate = true;
    m_record->state.store(peer_state::connecting);
    connect(m_record->endpoint.alt_ip, m_record->endpoint.alt_port, 0, ctx.completion, ctx);
    return service_result::keep;
}

} // namespace torrent
