// Copying a task into the window's display record.
#include "engine/task_view.h"

#include <algorithm>

#include "engine/task.h"

namespace torrent
{

namespace
{

// Bytes per second between two readings of a counter taken `seconds` apart. A counter that
// went back (the check of existing data starts the download count again) gives 0, never
// the wrapped difference.
std::uint64_t rate_between(std::uint64_t before, std::uint64_t after, std::uint64_t seconds) noexcept
{
    return after > before ? (after - before) / seconds : 0;
}

void copy_identity(PeerView& pv, const PeerRecord& r)
{
    pv.record = &r;
    pv.taken_at = r.taken_at;
    pv.client = r.client;
    pv.outgoing = r.outgoing.load();
    pv.ip = r.endpoint.ip_in_use();
    pv.port = r.endpoint.port_in_use();
    pv.uploaded = r.uploaded.load(std::memory_order_relaxed);
    pv.downloaded = r.downloaded.load(std::memory_order_relaxed);
    pv.upload_rate = 0;
    pv.download_rate = 0;
    pv.pieces_owned = r.have_count.load(std::memory_order_relaxed);
    pv.state = r.state.load();
}

} // namespace

void Task::copy_tracker_failure(TaskView& view) const
{
    const std::uint32_t serial = m_tracker_failure_serial.load(std::memory_order_acquire);
    if (serial == view.tracker_failure_serial)
        return;
    const std::lock_guard lock(m_task_lock);
    view.tracker_failure_serial = m_tracker_failure_serial.load(std::memory_order_relaxed);
    view.tracker_failure_url = m_tracker_failure_url;
    view.tracker_failure = m_tracker_failure;
    view.flags |= view_flag::tracker_failure;
}

void Task::FillView(TaskView& view) const
{
    {
        const std::lock_guard lock(m_state_lock);
        view.task = const_cast<Task*>(this);
        view.generation = generation();
        view.name = m_name;
        view.save_folder = m_save_folder;
        view.torrent_path = m_torrent_path;
        view.info_hash = m_info_hash;
        view.piece_length = m_piece_length;
        view.total = m_total.load(std::memory_order_relaxed);
        view.held = m_held.load(std::memory_order_relaxed);
        view.uploaded = m_uploaded.load(std::memory_order_relaxed);
        view.downloaded = m_downloaded.load(std::memory_order_relaxed);
        view.state = view_state_of(state());
        view.announcer_ended = m_announcer_ended.load(std::memory_order_relaxed);
        view.peer_count = m_connected.load(std::memory_order_relaxed);
        view.slot_count = m_slot_count;
        view.download_rate = 0;
        view.upload_rate = 0;
        view.tracker_peers = m_tracker_peers.load(std::memory_order_relaxed);
        view.upload_started = 0;
        view.last_refresh = 0;
        view.elapsed_seconds = 0;
        view.flags = view_flag::all;
        view.peers.assign(m_records.size(), PeerView{});
        for (std::size_t i = 0; i < m_records.size(); ++i)
        {
            copy_identity(view.peers[i], *m_records[i]);
            view.peers[i].flags = view.peers[i].state != peer_state::gone ? peer_view_flag::identity : 0;
        }
    }
    // The task lock after the state lock, never both at once.
    view.tracker_failure_serial = m_tracker_failure_serial.load(std::memory_order_acquire) - 1;
    copy_tracker_failure(view);
}

void Task::RefreshView(TaskView& view, tick_t at, bool with_peers) const
{
    if (view.last_refresh != 0 && at - view.last_refresh < 1000)
        return;
    const std::uint64_t s =
        view.last_refresh != 0 ? std::max<std::uint64_t>(1, (at - view.last_refresh) / 1000) : 1;
    view.last_refresh = at;
    view.elapsed_seconds = static_cast<std::uint32_t>(s);

    view.announcer_ended = m_announcer_ended.load(std::memory_order_relaxed);
    view.tracker_peers = m_tracker_peers.load(std::memory_order_relaxed);
    copy_tracker_failure(view);
    const view_state shown = view_state_of(state());
    if (shown != view.state)
    {
        view.state = shown;
        view.flags |= view_flag::state;
    }
    const std::uint16_t peers = m_connected.load(std::memory_order_relaxed);
    if (peers != view.peer_count)
    {
        view.peer_count = peers;
        view.flags |= view_flag::peer_count;
    }
    const std::uint64_t held = m_held.load(std::memory_order_relaxed);
    if (held != view.held)
    {
        view.held = held;
        view.flags |= view_flag::held;
    }

    // Rates per whole second; a counter that did not move halves its rate.
    const std::uint64_t down = m_downloaded.load(std::memory_order_relaxed);
    if (down == view.downloaded)
    {
        if (view.download_rate != 0)
            view.flags |= view_flag::download_rate;
        view.download_rate /= 2;
    }
    else
    {
        view.download_rate = rate_between(view.downloaded, down, s);
        view.downloaded = down;
        view.flags |= view_flag::download_rate;
    }
    const std::uint64_t up = m_uploaded.load(std::memory_order_relaxed);
    if (up == view.uploaded)
    {
        if (view.upload_rate != 0)
            view.flags |= view_flag::upload_rate;
        view.upload_rate /= 2;
    }
    else
    {
        view.upload_rate =
            up > view.uploaded ? (rate_between(view.uploaded, up, s) + view.upload_rate) >> 1 : 0;
        view.uploaded = up;
        view.flags |= view_flag::uploaded | view_flag::upload_rate;
    }

    if (!with_peers)
        return;
    const std::lock_guard lock(m_state_lock);
    if (view.peers.size() != m_records.size())
        view.peers.assign(m_records.size(), PeerView{});
    for (std::size_t i = 0; i < m_records.size(); ++i)
    {
        const PeerRecord& r = *m_records[i];
        PeerView& pv = view.peers[i];
        const peer_state rs = r.state.load();
        if (rs == peer_state::gone && pv.state == peer_state::gone)
            continue;
        if (pv.record != &r || pv.taken_at != r.taken_at)
        {
            copy_identity(pv, r);
            pv.flags |= peer_view_flag::identity;
            continue;
        }
        if (rs != pv.state)
        {
            pv.state = rs;
            pv.flags |= peer_view_flag::state;
        }
        if (pv.client.empty() && !r.client.empty())
        {
            pv.client = r.client;
            pv.flags |= peer_view_flag::client;
        }
        const std::uint64_t pd = r.downloaded.load(std::memory_order_relaxed);
        if (pd != pv.downloaded)
        {
            pv.download_rate = rate_between(pv.downloaded, pd, s);
            pv.downloaded = pd;
            pv.flags |= peer_view_flag::downloaded | peer_view_flag::download_rate;
        }
        else if (pv.download_rate != 0)
        {
            pv.download_rate = 0;
            pv.flags |= peer_view_flag::download_rate;
        }
        const std::uint64_t pu = r.uploaded.load(std::memory_order_relaxed);
        if (pu != pv.uploaded)
        {
            pv.upload_rate = rate_between(pv.uploaded, pu, s);
            pv.uploaded = pu;
            pv.flags |= peer_view_flag::uploaded | peer_view_flag::upload_rate;
        }
        else if (pv.upload_rate != 0)
        {
            pv.upload_rate = 0;
            pv.flags |= peer_view_flag::upload_rate;
        }
        const std::uint32_t owned = r.have_count.load(std::memory_order_relaxed);
        if (owned != pv.pieces_owned)
        {
            pv.pieces_owned = owned;
            pv.flags |= peer_view_flag::pieces;
        }
    }
}

} // namespace torrent
