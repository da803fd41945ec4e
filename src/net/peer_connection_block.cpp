// Block data arriving on a peer connection: the piece header, the block itself (stored
// through the torrent's mapped files) and discarding a block nobody wants.
#include <algorithm>

#include "net/event_loop.h"
#include "net/peer_connection.h"

namespace torrent
{

PeerConnection::step PeerConnection::on_piece_header()
{
    if (m_recv.message_length == wire::piece_header_length)
    {
        m_recv_state = receive_state::next_message; // an empty block
        return step::stop;
    }
    const std::byte* payload = m_recv.buffer.data() + 1;
    block_request b;
    b.index = wire::get_u32(payload);
    b.offset = wire::get_u32(payload + 4);
    b.length = m_recv.message_length - wire::piece_header_length;
    m_last_activity = loop().now();
    m_recv.current = b;
    m_recv.done = 0;
    m_recv.length = b.length;

    torrent_data* torrent = m_host.torrent();
    const block_wanted_result wanted =
        torrent != nullptr ? torrent->block_wanted(b) : block_wanted_result::unknown_torrent;
    const auto found = std::find(m_outstanding.begin(), m_outstanding.end(), b);
    if (found != m_outstanding.end())
    {
        if (wanted != block_wanted_result::not_wanted)
        {
            // Requests before it were skipped by the peer: their blocks go back.
            for (auto it = m_outstanding.begin(); it != found; ++it)
                m_host.release_block(*it);
            m_outstanding.erase(m_outstanding.begin(), found);
            m_recv_state = receive_state::block_data;
        }
        else
        {
            m_outstanding.erase(found);
            m_recv_state = receive_state::discard;
        }
    }
    else if (wanted == block_wanted_result::wanted)
    {
        // Block data nobody asked for, while nothing at all is asked of this peer (a block
        // whose request a choke voided may still come).
        if (m_outstanding.empty() && std::find(m_voided.begin(), m_voided.end(), b) == m_voided.end())
            return close(close_reason::unrequested_piece);
        // A block we want that left the list (released after a choke): keep it.
        m_outstanding.insert(m_outstanding.begin(), b);
        m_recv_state = receive_state::block_data;
    }
    else
    {
        m_recv_state = receive_state::discard;
    }
    mark_active();
    return step::next;
}

PeerConnection::step PeerConnection::receive_block()
{
    if (m_outstanding.empty())
        return close(close_reason::unrequested_piece);
    const block_request block = m_recv.current;
    std::byte* data = m_recv.block_buffer(block.length);
    const tick_t now = loop().now();
    m_last_block_time = now;
    m_last_activity = now;
    if (m_host.download_over_limit(now))
    {
        m_download_paused = true; // the tick resumes reading once the window has closed
        return step::stop;
    }
    const std::uint32_t before = m_recv.done;
    const step s = read_into(data, block.length, m_recv.done, true);
    if (m_recv.done != before)
        m_host.count_received(m_slot, m_recv.done - before, now);
    if (s != step::next)
        return s;

    block_request stored = block;
    torrent_data* torrent = m_host.torrent();
    const write_result result = torrent != nullptr
        ? torrent->write_block_and_verify(m_slot.key, stored, std::span<const std::byte>(data, block.length))
        : write_result::nothing_stored;
    m_outstanding.erase(m_outstanding.begin());
    m_recv_state = receive_state::next_message;
    m_recv.done = 0;
    ++m_blocks_this_run;
    // May announce the piece on every connection of the task, this one included (which can
    // close it: two seeds).
    m_host.block_stored(block, result);
    if (!m_open)
        return step::closed;
    mark_active();

    // Ask for more at once instead of at the next tick, so one peer is not capped at a
    // pipeline per tick; but a few at a time: one request per block would cost a send (and
    // on loopback the peer's whole receive path) for every 16 KiB. What a tick composed
    // goes out now either way. The quiet first ticks after a reset stay quiet.
    const bool refill =
        !m_recv.choking && m_send.interested && m_outstanding.size() + refill_step() <= m_pipeline;
    if ((refill || m_send_state == send_state::buffer) && may_send_now())
        run_send(true);
    return m_open ? step::stop : step::closed;
}

PeerConnection::step PeerConnection::discard_block()
{
    // Read what is left of the block in buffer-sized steps and drop it.
    while (m_recv.done < m_recv.length)
    {
        std::uint32_t got = 0;
        const std::uint32_t chunk = std::min(m_recv.length - m_recv.done, buffer_size);
        const step s = read_into(m_recv.buffer.data(), chunk, got);
        m_recv.done += got;
        if (s != step::next)
            return s;
    }
    m_recv.done = 0;
    m_recv_state = receive_state::next_message;
    mark_active();
    return step::stop;
}

} // namespace torrent
