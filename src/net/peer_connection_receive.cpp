// The receive machine of a peer connection: framing, message checks and handling, and the
// bitfield. Block data is in peer_connection_block.cpp.
#include <algorithm>
#include <cstring>

#include "net/event_loop.h"
#include "net/peer_connection.h"

namespace torrent
{

namespace
{

// Fixed lengths and limits of the messages, checked before any payload is read.
bool length_fits(std::uint8_t id, std::uint32_t length, std::uint32_t bitfield_length) noexcept
{
    switch (id)
    {
    case wire::choke:
    case wire::unchoke:
    case wire::interested:
    case wire::not_interested:
        // No payload is used, but whatever comes is read into the receive buffer.
        return length <= PeerConnection::buffer_size;
    case wire::have:
        return length == wire::have_length;
    case wire::bitfield:
        return length == bitfield_length;
    case wire::request:
    case wire::cancel:
        return length == wire::request_length;
    case wire::piece:
        return length >= wire::piece_header_length && length <= wire::max_piece_length;
    default:
        return false;
    }
}

} // namespace

void PeerConnection::run_receive()
{
    m_blocks_this_run = 0;
    for (;;)
    {
        const step s = receive_step();
        if (s == step::next)
            continue;
        // Bytes already read (with the handshake, or a header read ahead) raise no readable
        // event of their own: go through them, but only a few blocks' worth, so that a fast
        // peer cannot hold the network thread. What stays buffered waits for the socket's
        // next report or the tick.
        const bool paused = m_download_paused || m_requests_paused;
        if (s == step::stop && m_open && !paused && has_buffered() && m_blocks_this_run < max_blocks_per_run)
            continue;
        // A run that ended at a message boundary may have used only bytes read before, so
        // the socket was not asked this time; it must still report what waits in it. Only
        // a download paused for its meter, or reading paused for a full upload queue,
        // leaves the socket quiet (the tick or the sending resumes it).
        if (s == step::stop && m_open && !paused && socket() != nullptr)
            socket()->keep_reading();
        return;
    }
}

PeerConnection::step
PeerConnection::read_into(std::byte* base, std::uint32_t total, std::uint32_t& done, bool ahead)
{
    if (m_carried_pos < m_carried.size())
    {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::size_t>(total - done, m_carried.size() - m_carried_pos));
        std::memcpy(base + done, m_carried.data() + m_carried_pos, n);
        done += n;
        m_carried_pos += n;
        if (m_carried_pos == m_carried.size())
        {
            m_carried = {};
            m_carried_pos = 0;
        }
    }
    if (m_header_pos < m_header_len && done < total)
    {
        const std::uint32_t n = std::min(total - done, m_header_len - m_header_pos);
        std::memcpy(base + done, m_header.data() + m_header_pos, n);
        done += n;
        m_header_pos += n;
    }
    while (done < total)
    {
        // One transfer moves at most max_transfer bytes.
        const std::uint32_t chunk = std::min(total - done, max_transfer);
        std::uint32_t moved = 0;
        io_result r = io_result::closed;
        if (ahead && chunk == total - done && m_header_pos == m_header_len
            && chunk + m_header.size() <= max_transfer)
        {
            r = read_pair(std::span<std::byte>(base + done, chunk), m_header, moved);
            const std::uint32_t own = std::min(moved, chunk);
            m_header_pos = 0;
            m_header_len = moved - own;
            moved = own;
        }
        else
        {
            r = read_some(base + done, chunk, moved);
        }
        done += moved;
        switch (r)
        {
        case io_result::complete:
            continue;
        case io_result::partial:
        case io_result::blocked:
            return step::wait;
        case io_result::closed:
            return close(close_reason::socket);
        }
    }
    return step::next;
}

PeerConnection::step PeerConnection::read_header_ahead()
{
    // At a message boundary the next 13 bytes hold headers only (a piece message's block
    // data starts after its own 13), so one read gets a whole short message or a piece
    // header instead of three reads of 4, 1 and 8 bytes.
    m_header_pos = 0;
    m_header_len = 0;
    std::uint32_t got = 0;
    const io_result r = read_some(m_header.data(), static_cast<std::uint32_t>(m_header.size()), got);
    m_header_len = got;
    switch (r)
    {
    case io_result::complete:
    case io_result::partial:
        return step::next;
    case io_result::blocked:
        return step::wait;
    case io_result::closed:
        break;
    }
    return close(close_reason::socket);
}

PeerConnection::step PeerConnection::receive_step()
{
    std::byte* buf = m_recv.buffer.data();
    switch (m_recv_state)
    {
    case receive_state::dead:
        return close(close_reason::bad_handshake);
    case receive_state::handshake:
        return read_handshake();
    case receive_state::next_message:
        if (m_uploads.size() >= max_upload_queue)
        {
            // The peer's next message may be one more request: it waits in the socket.
            m_requests_paused = true;
            return step::stop;
        }
        m_recv.done = 0;
        m_recv_state = receive_state::length;
        return step::next;
    case receive_state::length:
    {
        if (m_recv.done == 0 && !has_buffered())
        {
            const step ahead = read_header_ahead();
            if (ahead != step::next)
                return ahead;
        }
        const step s = read_into(buf, 4, m_recv.done);
        if (s != step::next)
            return s;
        const std::uint32_t length = wire::get_u32(buf);
        m_recv.done = 0;
        if (length == 0)
        {
            m_recv.last_id = wire::keep_alive;
            m_recv_state = receive_state::next_message;
            return step::stop;
        }
        m_recv.message_length = length;
        m_recv.length = length;
        m_recv_state = receive_state::id;
        return step::next;
    }
    case receive_state::id:
    {
        const step s = read_into(buf, 1, m_recv.done);
        if (s != step::next)
            return s;
        return on_message_id();
    }
    case receive_state::payload:
    {
        if (m_recv.length > 1)
        {
            const step s = read_into(buf, m_recv.length, m_recv.done);
            if (s != step::next)
                return s;
        }
        if (m_recv.last_id == wire::piece)
            return on_piece_header();
        return handle_message();
    }
    case receive_state::bitfield_body:
        return receive_bitfield();
    case receive_state::block_data:
        return receive_block();
    case receive_state::discard:
        return discard_block();
    default:
        return close(close_reason::unknown_id);
    }
}

PeerConnection::step PeerConnection::on_message_id()
{
    const auto id = std::to_integer<std::uint8_t>(m_recv.buffer[0]);
    const std::uint32_t length = m_recv.message_length;
    if (id > wire::cancel)
        return close(close_reason::unknown_id);
    const auto bitfield_length = static_cast<std::uint32_t>(1 + bitfield_bytes(m_host.piece_count()));
    if (!length_fits(id, length, bitfield_length))
        return close(close_reason::bad_length);

    m_recv.last_id = id;
    switch (id)
    {
    case wire::bitfield:
        m_bitfield_in.assign(length - 1, 0);
        m_recv.done = 0;
        m_recv_state = receive_state::bitfield_body;
        return step::next;
    case wire::piece:
        m_recv.length = wire::piece_header_length;
        break;
    case wire::have:
    case wire::request:
    case wire::cancel:
        m_changed = true;
        break;
    default:
        break;
    }
    m_recv_state = receive_state::payload;
    return step::next;
}

PeerConnection::step PeerConnection::handle_message()
{
    const std::byte* payload = m_recv.buffer.data() + 1;
    switch (m_recv.last_id)
    {
    case wire::choke:
        // The peer dropped our requests: their blocks go back to the picker.
        m_recv.choking = true;
        for (const block_request& r : m_outstanding)
            m_host.release_block(r);
        m_voided.swap(m_outstanding);
        m_outstanding.clear();
        break;
    case wire::unchoke:
        m_recv.choking = false;
        break;
    case wire::interested:
        // Interest alone decides: an interested peer is unchoked.
        m_choker.on_interested();
        break;
    case wire::not_interested:
        m_choker.on_not_interested();
        break;
    case wire::have:
    {
        const std::uint32_t index = wire::get_u32(payload);
        if (index >= m_host.piece_count())
            return close(close_reason::bad_have);
        m_slot.have_count.fetch_add(1, std::memory_order_relaxed);
        const peer_have_result answer = m_host.peer_has_piece(m_slot.key, index);
        if (!m_send.interested
            && (answer == peer_have_result::interesting || answer == peer_have_result::interesting_complete))
            become_interested(true);
        break;
    }
    case wire::request:
    case wire::cancel:
    {
        block_request r;
        r.index = wire::get_u32(payload);
        r.offset = wire::get_u32(payload + 4);
        r.length = wire::get_u32(payload + 8);
        if (m_recv.last_id == wire::request)
            on_request(r);
        else
            on_cancel(r);
        break;
    }
    default:
        return close(close_reason::unknown_id);
    }
    m_recv_state = receive_state::next_message;
    m_last_activity = loop().now();
    mark_active();
    // Serve a request at once when no block is being sent, instead of at the next tick: a
    // peer that keeps few requests queued would otherwise get a block or two per tick.
    // Likewise unchoke an interested peer, and ask at once when the peer unchokes us.
    if (m_recv.last_id == wire::request && !m_choker.choking() && may_send_now())
        run_send(true);
    else if (m_recv.last_id == wire::interested && m_choker.change_pending() && may_send_now())
        run_send(true); // the unchoke
    else if (m_recv.last_id == wire::unchoke && m_send.interested && may_send_now())
        run_send(true);
    return m_open ? step::stop : step::closed;
}

void PeerConnection::on_request(const block_request& r)
{
    // Ignored while we choke the peer (not kept for later).
    if (!m_choker.accepts_request())
        return;
    // A request must name a block of a piece we have and lie inside it; anything else is
    // dropped before a byte is allocated or read for it.
    if (r.length == 0 || r.length > wire::max_block_length || r.index >= m_host.piece_count()
        || std::uint64_t{r.offset} + r.length > m_host.piece_size(r.index) || !m_host.have_piece(r.index))
        return;
    const auto same = std::find(m_uploads.begin(), m_uploads.end(), r);
    if (same != m_uploads.end() && same != m_uploads.begin())
        m_uploads.erase(same);
    // Room is certain: no message is read while the queue is full.
    m_uploads.push_back(r);
}

void PeerConnection::on_cancel(const block_request& r)
{
    const auto same = std::find(m_uploads.begin(), m_uploads.end(), r);
    if (same == m_uploads.end())
        return;
    // The block on its way out stays: its header is already sent.
    const bool sending = m_send.last_id == wire::piece && m_send_state != send_state::idle;
    if (same == m_uploads.begin() && sending)
        return;
    m_uploads.erase(same);
}

PeerConnection::step PeerConnection::receive_bitfield()
{
    const auto n = static_cast<std::uint32_t>(m_bitfield_in.size());
    const step s = read_into(reinterpret_cast<std::byte*>(m_bitfield_in.data()), n, m_recv.done);
    if (s != step::next)
        return s;
    m_recv.done = 0;
    bitfield bits;
    bits.from_bytes(m_bitfield_in, m_host.piece_count());
    m_bitfield_in.clear();
    m_slot.have_count.store(bits.count(), std::memory_order_relaxed);
    // A later bitfield (some clients announce several new pieces at once this way) is the
    // peer's new have-state: the picker replaces the old one, availability included, and
    // our interest follows it either way.
    const bool wanted = m_host.set_peer_bitfield(m_slot.key, bits);
    const bool we_complete = m_host.state() == task_state::complete || m_host.IsComplete();
    if (bits.all() && we_complete)
        return close(close_reason::both_complete);
    if (wanted != m_send.interested)
        become_interested(wanted);
    m_recv_state = receive_state::next_message;
    m_last_activity = loop().now();
    mark_active();
    return step::stop;
}

} // namespace torrent
