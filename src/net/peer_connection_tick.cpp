// The 50 ms tick of a peer connection: paced composing, keep-alives, the inactivity rule,
// and resuming transfers that waited for a rate meter.
#include "net/event_loop.h"
#include "net/peer_connection.h"

namespace torrent
{

void PeerConnection::on_tick()
{
    if (!m_open)
        return;
    const tick_t now = loop().now();
    measure_rate(now);

    // A rate meter held a transfer back, or a run left bytes read ahead: the socket will not
    // say so again.
    if (m_download_paused ? !m_host.download_over_limit(now) : has_buffered())
    {
        m_download_paused = false;
        run_receive();
        if (!m_open)
            return;
    }
    if (m_upload_paused && !m_host.upload_over_limit(now))
    {
        m_upload_paused = false;
        m_send_blocked = false;
        run_send(false);
        if (!m_open)
            return;
    }
    resume_requests();
    if (!m_open)
        return;

    // Changes are composed on the tick, but not in the first ticks after a reset.
    if (m_changed)
    {
        if (m_tick_count < m_tick_divider)
        {
            ++m_tick_count;
        }
        else
        {
            m_changed = false;
            run_send(false);
            if (!m_open)
                return;
        }
    }

    // Keep-alive while we still download and no block data has come for a while. A block
    // received by the resume above is stamped later than `now`.
    const tick_t quiet = elapsed_since(now, m_last_block_time);
    const bool complete = m_host.state() == task_state::complete || m_host.IsComplete();
    if (!complete && quiet >= keep_alive_ms && m_send_state == send_state::idle
        && is_due(now, m_next_keep_alive))
    {
        m_next_keep_alive = now + keep_alive_ms;
        queue_header(wire::keep_alive, 0, 0);
        m_send.done = 0;
        m_send_state = send_state::buffer;
        m_changed = true;
    }

    // A peer that has gone quiet is dropped: nothing from it but keep-alives and no block
    // data to or from it for 180 s, plus one second for every 3000 bytes it has sent us
    // so far. Serving a leecher keeps it (a seed receives no block data), and so does a
    // peer that keeps telling us things; our own messages do not, or a dead peer would
    // live on our keep-alives.
    const std::uint64_t grace = inactivity_ms + m_slot.downloaded.load(std::memory_order_relaxed) / 3;
    if (elapsed_since(now, m_last_activity) >= grace)
        close(close_reason::inactive);
}

} // namespace torrent
