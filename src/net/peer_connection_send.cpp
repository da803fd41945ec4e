// The send machine of a peer connection and compose, which fills the send buffer.
#include <algorithm>

#include "net/event_loop.h"
#include "net/peer_connection.h"

namespace torrent
{

void PeerConnection::run_send(bool eager)
{
    while (m_open && !m_send_blocked)
    {
        const step s = send_step(eager);
        if (s != step::next)
            return;
    }
}

PeerConnection::step
PeerConnection::write_from(const std::byte* base, std::uint32_t total, std::uint32_t& done)
{
    while (done < total)
    {
        // One transfer moves at most max_transfer bytes.
        const std::uint32_t chunk = std::min(total - done, max_transfer);
        std::uint32_t moved = 0;
        const io_result r = write_some(base + done, chunk, moved);
        done += moved;
        switch (r)
        {
        case io_result::complete:
            continue;
        case io_result::partial:
        case io_result::blocked:
            m_send_blocked = true; // resumed by the writable report
            return step::wait;
        case io_result::closed:
            return close(close_reason::socket);
        }
    }
    return step::next;
}

PeerConnection::step PeerConnection::send_step(bool& eager)
{
    // An outgoing connection says nothing after its handshake until the peer's handshake
    // has been read and checked (some clients ban a peer that does).
    if (m_send_state != send_state::handshake && awaiting_handshake())
        return step::stop;
    switch (m_send_state)
    {
    case send_state::handshake:
        return send_handshake();
    case send_state::idle:
    {
        if (compose() < 0)
            return close(close_reason::compose_failed);
        if (m_send.length == 0)
            return step::stop;
        m_send.done = 0;
        m_send_state = send_state::buffer;
        mark_active();
        // Normally the bytes go out on the next run; an eager run sends them now.
        return eager ? step::next : step::stop;
    }
    case send_state::buffer:
    {
        if (m_send.last_id == wire::piece && m_send.done < m_send.length
            && !m_host.upload_over_limit(loop().now()))
            return write_buffer_and_block();
        const step s = write_from(m_send.buffer.data(), m_send.length, m_send.done);
        if (s != step::next)
            return s;
        m_send.done = 0;
        m_send.length = 0;
        mark_active();
        if (m_send.last_id == wire::bitfield)
            m_send_state = send_state::bitfield_body;
        else if (m_send.last_id == wire::piece)
            m_send_state = send_state::block_data; // compose read the block before it queued the header
        else
            m_send_state = send_state::idle;
        return step::next;
    }
    case send_state::bitfield_body:
    {
        const auto n = static_cast<std::uint32_t>(m_bitfield_out.size());
        const step s = write_from(reinterpret_cast<const std::byte*>(m_bitfield_out.data()), n, m_send.done);
        if (s != step::next)
            return s;
        m_bitfield_out.clear();
        m_send.done = 0;
        m_send_state = send_state::idle;
        return step::next;
    }
    case send_state::block_data:
    {
        const tick_t now = loop().now();
        if (m_host.upload_over_limit(now))
        {
            // The tick resumes once the meter's window has closed.
            m_upload_paused = true;
            m_send_blocked = true;
            return step::wait;
        }
        const std::uint32_t before = m_send.done;
        const step s = write_from(m_send.block.get(), m_send.current.length, m_send.done);
        if (m_send.done != before)
            count_sent(m_send.done - before, now);
        if (s != step::next)
            return s;
        if (!m_uploads.empty())
            m_uploads.pop_front();
        m_send.done = 0;
        m_send_state = send_state::idle;
        mark_active();
        // Serving blocks one per tick would cap an upload at 16 KiB per 50 ms: go on with
        // the next queued block while the socket takes it.
        if (m_eager)
            eager = true;
        return step::next;
    }
    default:
        return step::stop;
    }
}

PeerConnection::step PeerConnection::write_buffer_and_block()
{
    const tick_t now = loop().now();
    const std::uint32_t head = m_send.length - m_send.done;
    const std::uint32_t body = std::min(m_send.current.length, max_transfer - head);
    std::uint32_t moved = 0;
    const io_result r = write_pair(
        std::span<const std::byte>(m_send.buffer.data() + m_send.done, head),
        std::span<const std::byte>(m_send.block.get(), body),
        moved);
    const std::uint32_t head_moved = std::min(moved, head);
    m_send.done += head_moved;
    if (head_moved == head)
    {
        // The buffer is out; the block goes on (block data) from where this call left it.
        const std::uint32_t body_moved = moved - head_moved;
        m_send.length = 0;
        m_send.done = body_moved;
        m_send_state = send_state::block_data;
        mark_active();
        if (body_moved != 0)
            count_sent(body_moved, now);
    }
    switch (r)
    {
    case io_result::complete:
        return step::next;
    case io_result::partial:
    case io_result::blocked:
        m_send_blocked = true; // resumed by the writable report
        return step::wait;
    case io_result::closed:
        break;
    }
    return close(close_reason::socket);
}

bool PeerConnection::queue_header(std::uint8_t id, std::uint32_t length, std::uint32_t reserve)
{
    const std::uint32_t at = m_send.length;
    const std::uint32_t grow = (reserve != 0 ? reserve : length) + 4;
    if (at + grow > buffer_size)
        return false;
    m_send.length += grow;
    wire::put_u32(m_send.buffer.data() + at, length);
    m_write_pos = at + 4;
    if (length != 0)
    {
        m_send.buffer[m_write_pos] = static_cast<std::byte>(id);
        ++m_write_pos;
    }
    m_send.last_id = id;
    return true;
}

bool PeerConnection::put_u32(std::uint32_t v)
{
    if (m_write_pos + 4 > m_send.length)
        return false;
    wire::put_u32(m_send.buffer.data() + m_write_pos, v);
    m_write_pos += 4;
    return true;
}

bool PeerConnection::prepare_upload()
{
    torrent_data* torrent = m_host.torrent();
    while (torrent != nullptr && !m_uploads.empty())
    {
        block_request r = m_uploads.front();
        std::byte* data = m_send.block_buffer(r.length);
        r.bytes_transferred = 0;
        const std::int64_t got = torrent->read_block(r, std::span<std::byte>(data, r.length));
        // Only a block read whole is sent (a span of an unselected file has no data here).
        if (got == r.length && r.bytes_transferred == r.length)
        {
            m_send.current = r;
            return true;
        }
        m_uploads.pop_front();
    }
    return false;
}

int PeerConnection::compose()
{
    bool fits = true;
    if (const auto id = m_choker.take_message())
    {
        fits = queue_header(*id, 1, 0) && fits;
        if (m_choker.choking())
            m_uploads.clear();
    }
    if (m_interest_pending)
    {
        m_interest_pending = false;
        fits = queue_header(m_send.interested ? wire::interested : wire::not_interested, 1, 0) && fits;
    }
    // Requests: up to the pipeline outstanding, none while the task checks its data.
    if (!m_recv.choking && m_send.interested && m_outstanding.size() < m_pipeline
        && m_host.state() != task_state::checking)
    {
        const std::size_t free_slots = m_pipeline - m_outstanding.size();
        for (std::size_t i = 0; i < free_slots && m_send.length + 4 + wire::request_length <= buffer_size;
             ++i)
        {
            const std::size_t before = m_outstanding.size();
            if (!m_host.pick_block(m_slot.key, m_outstanding))
                return -1;
            if (m_outstanding.size() == before)
                break; // nothing more to ask this peer for now
            const block_request& b = m_outstanding.back();
            fits = queue_header(wire::request, wire::request_length, 0) && put_u32(b.index)
                && put_u32(b.offset) && put_u32(b.length) && fits;
        }
    }
    while (!m_have_queue.empty() && m_send.length + 9 < buffer_size)
    {
        fits = queue_header(wire::have, wire::have_length, 0) && put_u32(m_have_queue.front()) && fits;
        m_have_queue.pop_front();
    }
    // One block per compose, after everything else (the header must be the last message in
    // the buffer). The block is read before its header is queued, so a block that cannot
    // be read never leaves a header without data on the wire.
    if (m_choker.may_send_block() && !m_uploads.empty() && m_send.length + 13 < buffer_size
        && prepare_upload())
    {
        const block_request& b = m_send.current;
        fits = queue_header(wire::piece, b.length + wire::piece_header_length, wire::piece_header_length)
            && put_u32(b.index) && put_u32(b.offset) && fits;
    }
    return fits ? 1 : -1000;
}

} // namespace torrent
