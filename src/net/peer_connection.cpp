// Life of a peer connection: reset, attach, closing, and the calls the task makes on it.
#include "net/peer_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "net/event_loop.h"

namespace torrent
{

namespace
{

std::atomic<bool> g_eager_default{true};

} // namespace

void PeerConnection::set_eager_default(bool on) noexcept
{
    g_eager_default.store(on, std::memory_order_relaxed);
}

peer_slot::peer_slot() = default;

peer_slot::~peer_slot() = default;

void PeerConnection::channel::clear() noexcept
{
    buffer.fill(std::byte{0});
    done = 0;
    length = 0;
    message_length = 0;
    last_id = wire::none;
    choking = true;
    interested = false;
    current = block_request{};
    free_block();
}

std::byte* PeerConnection::channel::block_buffer(std::uint32_t n)
{
    // Never reused for a block of another length: a short buffer would be overrun, a long
    // one would send stale bytes after the block.
    if (!block || block_capacity != n)
    {
        block = std::make_unique_for_overwrite<std::byte[]>(n);
        block_capacity = n;
    }
    return block.get();
}

void PeerConnection::channel::free_block() noexcept
{
    block.reset();
    block_capacity = 0;
}

PeerConnection::PeerConnection(event_loop& loop, peer_host& host, peer_slot& slot)
    : NetHandler(loop)
    , m_host(host)
    , m_slot(slot)
{
    reset();
}

PeerConnection& PeerConnection::ready_for(peer_host& host, peer_slot& slot)
{
    // The record's connection is read and written on the network thread only (a task that
    // closes asks that thread to close its connections).
    host.network_loop().assert_in_loop_thread();
    if (slot.connection == nullptr)
        slot.connection = std::make_unique<PeerConnection>(host.network_loop(), host, slot);
    else
        slot.connection->reset();
    return *slot.connection;
}

PeerConnection::~PeerConnection()
{
    // Leave quietly: whoever destroys a connection has already closed it or no longer
    // wants to hear from it (the task is going away).
    if (socket() != nullptr && socket()->is_open())
        socket()->close(0, false);
}

void PeerConnection::reset()
{
    loop().assert_in_loop_thread();
    if (socket() != nullptr && socket()->is_open())
        socket()->close(0, false);
    stop_timer();
    m_open = false;
    m_claimed = true;
    m_eager = g_eager_default.load(std::memory_order_relaxed);
    m_have_queue.clear();
    m_send.clear();
    m_recv.clear();
    m_send_state = send_state::handshake;
    m_recv_state = receive_state::handshake;
    m_send_blocked = false;
    m_upload_paused = false;
    m_download_paused = false;
    m_requests_paused = false;
    m_choker.reset();
    m_interest_pending = false;
    m_changed = false;
    m_tick_count = 0;
    m_tick_divider = tick_divider;
    m_last_block_time = loop().now();
    m_last_activity = m_last_block_time;
    m_pipeline = min_pipeline;
    m_rate_since = m_last_block_time;
    m_rate_base = m_slot.downloaded.load(std::memory_order_relaxed);
    m_rate = 0;
    m_next_keep_alive = 0;
    m_outstanding.clear();
    m_voided.clear();
    m_uploads.clear();
    m_carried.clear();
    m_carried_pos = 0;
    m_header_pos = 0;
    m_header_len = 0;
    m_bitfield_in.clear();
    m_bitfield_out.clear();
    m_hash = wire::hash_bytes_of(m_host.info_hash());
    m_close_reason = close_reason::none;
}

void PeerConnection::prepare_incoming(std::vector<std::byte> carried)
{
    m_recv_state = receive_state::length;
    m_carried = std::move(carried);
    m_carried_pos = 0;
}

void PeerConnection::attach(unique_fd sock, std::uint32_t /*mask*/)
{
    loop().assert_in_loop_thread();
    if (m_host.state() >= task_state::free_slot)
    {
        // The task is stopping: give the record back without sending anything. The socket
        // closes when `sock` goes.
        m_close_reason = close_reason::task_stopped;
        on_closed(0);
        return;
    }
    NetHandler::attach(std::move(sock), socket_mask);
    m_open = socket() != nullptr && socket()->is_open();
    if (m_open)
    {
        // Requests and headers are small and must not wait for the peer's acknowledgement.
        const int on = 1;
        ::setsockopt(socket()->fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    m_slot.state.store(peer_state::handshaking);

    // Our handshake goes first, on both kinds of connection.
    m_send.done = 0;
    m_send.length = static_cast<std::uint32_t>(wire::handshake_size);
    m_send_state = send_state::handshake;
    wire::write_handshake(
        std::span<std::byte, wire::handshake_size>(m_send.buffer.data(), wire::handshake_size),
        m_hash,
        m_host.own_peer_id());

    start_timer();
    run_send(false);
    // Bytes that came with an incoming handshake are not announced by the socket again.
    if (m_open && has_buffered())
        run_receive();
}

int PeerConnection::on_closed(int error)
{
    if (socket() != nullptr && socket()->is_open())
        socket()->close(error, false);
    m_open = false;
    if (!m_claimed)
        return 0;
    m_claimed = false;
    m_send_blocked = false;
    m_changed = false;
    m_upload_paused = false;
    m_download_paused = false;
    m_requests_paused = false;
    stop_timer();
    if (m_close_reason == close_reason::none)
        m_close_reason = close_reason::socket;

    // Our unanswered requests go back to the picker. The peer's requests to us are simply
    // forgotten: they name pieces we have, which the picker no longer tracks.
    for (const block_request& r : m_outstanding)
        m_host.release_block(r);
    m_outstanding.clear();
    m_voided.clear();
    m_uploads.clear();
    m_have_queue.clear();
    m_carried.clear();
    m_carried_pos = 0;
    m_header_pos = 0;
    m_header_len = 0;
    m_send.free_block();
    m_recv.free_block();
    m_host.peer_gone(m_slot.key);
    // Last: this frees the record, which another thread may take at once.
    m_host.peer_connect_failed(m_slot);
    return 0;
}

void PeerConnection::on_readable(int error)
{
    if (error == 0 && m_open)
        run_receive();
}

void PeerConnection::on_writable(int /*error*/)
{
    if (!m_send_blocked || !m_open)
        return;
    m_send_blocked = false;
    m_upload_paused = false;
    run_send(true);
    resume_requests();
}

void PeerConnection::resume_requests()
{
    if (!m_requests_paused || !m_open || m_uploads.size() > upload_queue_resume)
        return;
    m_requests_paused = false;
    run_receive();
}

PeerConnection::step PeerConnection::close(close_reason why)
{
    if (m_close_reason == close_reason::none)
        m_close_reason = why;
    if (socket() != nullptr && socket()->is_open())
        socket()->request_close(true);
    else
        on_closed(0);
    return step::closed;
}

void PeerConnection::drop(close_reason why)
{
    if (m_open)
        static_cast<void>(close(why));
}

void PeerConnection::mark_active()
{
    if (m_slot.state.load() != peer_state::gone)
        m_slot.state.store(peer_state::active);
    m_changed = true;
}

void PeerConnection::measure_rate(tick_t now)
{
    const tick_t span = elapsed_since(now, m_rate_since);
    if (span < 1000)
        return;
    const std::uint64_t total = m_slot.downloaded.load(std::memory_order_relaxed);
    const std::uint64_t instant = (total - m_rate_base) * 1000 / span;
    m_rate_since = now;
    m_rate_base = total;
    // Up at once, down by halves: one slow second does not empty a fast peer's pipeline.
    m_rate = std::max(instant, (m_rate + instant) / 2);
    const std::uint64_t blocks = m_rate * pipeline_time_ms / 1000 / wire::block_length;
    m_pipeline = static_cast<std::size_t>(std::clamp<std::uint64_t>(blocks, min_pipeline, max_pipeline));
}

void PeerConnection::count_sent(std::uint32_t bytes, tick_t now)
{
    m_host.count_sent(m_slot, bytes, now);
    m_last_activity = now;
}

void PeerConnection::become_interested(bool interested)
{
    m_send.interested = interested;
    m_interest_pending = true;
    m_changed = true;
}

void PeerConnection::set_choke(bool choke)
{
    if (m_choker.set_choke(choke))
        mark_active();
}

void PeerConnection::rethink_interest()
{
    if (m_open && !m_send.interested && m_host.still_interesting(m_slot.key))
    {
        become_interested(true);
        mark_active();
    }
}

void PeerConnection::queue_have(std::uint32_t index, bool torrent_complete)
{
    if (!m_open)
        return;
    m_have_queue.push_back(index);
    if (torrent_complete)
    {
        if (m_host.peer_complete(m_slot.key))
        {
            close(close_reason::both_complete);
            return;
        }
        if (m_send.interested)
            become_interested(false);
    }
    else if (m_send.interested && !m_host.still_interesting(m_slot.key))
    {
        become_interested(false);
    }

    // The rest of a block of this piece that is arriving now is not wanted any more.
    if (m_recv_state == receive_state::block_data && !m_outstanding.empty()
        && m_outstanding.front().index == index)
    {
        m_recv.length = m_outstanding.front().length - m_recv.done;
        m_recv.done = 0;
        m_recv_state = receive_state::discard;
    }
    // Requests for the piece stay with the peer; whatever it still sends is discarded.
    std::erase_if(m_outstanding, [index](const block_request& r) { return r.index == index; });
    mark_active();
}

} // namespace torrent
