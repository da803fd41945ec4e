// Life of a task slot: reset, configuration, binding a torrent, the check of existing data
// and closing.
#include "engine/task.h"

#include "engine/piece_picker.h"
#include "engine/rate_meter.h"
#include "net/event_loop.h"
#include "net/peer_connection.h"
#include "storage/check_progress.h"
#include "storage/stored_task.h"
#include "storage/torrent_data.h"
#include "storage/torrent_manager.h"

namespace torrent
{

namespace
{

// Generation stamps come from one counter, so a stamp never repeats in a run, whichever
// slot it was given to.
std::atomic<std::uint64_t> g_generation{0};

std::uint64_t next_generation() noexcept
{
    return g_generation.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

Task::Task()
{
    Reset(task_state::free_slot);
}

Task::~Task()
{
    // Connections still bound to a stopped network thread are destroyed quietly here.
    for (auto& r : m_records)
        r->connection.reset();
}

tick_t Task::now() const noexcept
{
    return m_network.time != nullptr ? m_network.time->now() : system_clock().now();
}

template <class F>
void Task::on_network_thread(F f)
{
    if (m_network.loop == nullptr || m_network.loop->stopped())
    {
        f(); // nothing runs there any more
        return;
    }
    m_network.loop->call(
        [&f]
        {
            f();
            return 1;
        });
}

void Task::Reset(task_state state)
{
    const std::lock_guard lock(m_state_lock);
    m_generation.store(next_generation(), std::memory_order_release);
    m_total.store(0, std::memory_order_relaxed);
    m_uploaded.store(0, std::memory_order_relaxed);
    m_held.store(0, std::memory_order_relaxed);
    m_downloaded.store(0, std::memory_order_relaxed);
    m_connected.store(0, std::memory_order_relaxed);
    m_last_slot = 0;
    m_announcer_ended.store(false, std::memory_order_relaxed);
    m_tracker_peers.store(0, std::memory_order_relaxed);
    m_state.store(state, std::memory_order_release);
    m_info_hash.clear();
    m_save_folder.clear();
    m_torrent_path.clear();
    m_known_addresses.clear();
    m_known_peer_ids.clear();
    m_banned.clear();
}

void Task::SetState(task_state state)
{
    const std::lock_guard lock(m_state_lock);
    m_state.store(state, std::memory_order_release);
}

bool Task::Configure(std::uint16_t slot_count, RateMeter& upload, RateMeter& download)
{
    if (state() != task_state::free_slot)
        return false;
    destroy_connections();
    const std::lock_guard lock(m_state_lock);
    if (state() != task_state::free_slot)
        return false;
    m_slot_count = slot_count != 0 ? slot_count : default_slot_count;
    m_records.clear();
    m_records.reserve(m_slot_count);
    for (std::uint16_t i = 0; i < m_slot_count; ++i)
    {
        auto r = std::make_unique<PeerRecord>();
        r->key = i;
        m_records.push_back(std::move(r));
    }
    m_upload_meter = &upload;
    m_download_meter = &download;
    m_connected.store(0, std::memory_order_relaxed);
    m_last_slot = 0;
    return true;
}

void Task::set_network(task_network network)
{
    m_network = std::move(network);
}

bool Task::IsComplete() const noexcept
{
    return m_held.load(std::memory_order_relaxed) >= m_total.load(std::memory_order_relaxed);
}

bool Task::complete_outside_seeding() const noexcept
{
    return IsComplete() && state() != task_state::complete;
}

void Task::bind_torrent(
    std::string info_hash,
    std::string name,
    std::string save_folder,
    std::string torrent_path,
    std::uint32_t piece_length,
    std::uint64_t total,
    std::uint64_t held)
{
    std::shared_ptr<torrent_data> data;
    if (m_network.torrents != nullptr && !info_hash.empty())
        data = m_network.torrents->find_torrent(info_hash);
    const std::lock_guard lock(m_state_lock);
    m_info_hash = std::move(info_hash);
    m_name = std::move(name);
    m_save_folder = std::move(save_folder);
    m_torrent_path = std::move(torrent_path);
    m_piece_length = piece_length;
    m_total.store(total, std::memory_order_relaxed);
    m_held.store(held, std::memory_order_relaxed);
    m_torrent = std::move(data);
    m_picker = m_torrent != nullptr ? dynamic_cast<PiecePicker*>(m_torrent->picker()) : nullptr;
}

std::string Task::name() const
{
    const std::lock_guard lock(m_state_lock);
    return m_name;
}

bool Task::has_info_hash(std::string_view info_hash) const
{
    const std::lock_guard lock(m_state_lock);
    return state() != task_state::free_slot && m_info_hash == info_hash;
}

std::string Task::info_hash_text() const
{
    const std::lock_guard lock(m_state_lock);
    return m_info_hash;
}

int Task::check_existing_data(event& stop)
{
    const std::shared_ptr<torrent_data> data =
        m_network.torrents != nullptr ? m_network.torrents->find_torrent(info_hash_text()) : nullptr;
    if (data == nullptr)
        return -1;
    SetState(task_state::checking);
    const check_progress progress{&m_downloaded, &m_held};
    const std::int64_t present = data->check_existing_data(progress, stop);
    if (present < 0)
        return -1; // stopped or failed: the task stays in state 2 and its announcer ends

    // Held: every verified piece we announce, the last one at its real length.
    m_downloaded.store(0, std::memory_order_relaxed);
    bitfield wanted;
    data->copy_have_wanted(wanted);
    const std::uint32_t count = wanted.bit_count();
    const std::uint64_t total = m_total.load(std::memory_order_relaxed);
    m_held.store(
        stored_downloaded_bytes(
            wanted.count(), count > 0 && wanted.test(count - 1), count, m_piece_length, total),
        std::memory_order_relaxed);

    // The picker learns what was found, where it runs.
    bitfield have;
    data->copy_have(have);
    on_network_thread(
        [this, &have]
        {
            if (m_picker != nullptr)
                m_picker->assign_have(have);
        });
    // Every piece present: nothing is left to download.
    SetState(have.all() ? task_state::complete : task_state::downloading);
    return static_cast<int>(present);
}

void Task::destroy_connections()
{
    on_network_thread(
        [this]
        {
            for (auto& r : m_records)
                r->connection.reset();
            m_scores.clear();
            m_verdicts.clear();
        });
}

void Task::Close()
{
    if (m_records.empty())
        return;
    std::string hash;
    {
        const std::lock_guard lock(m_state_lock);
        m_state.store(task_state::free_slot, std::memory_order_release);
        m_generation.store(next_generation(), std::memory_order_release);
        hash = m_info_hash;
    }
    // Each connection closes on the network thread and gives its record back. A record's
    // connection object is made and reset on that thread (PeerConnection::ready_for), so it
    // is looked at there only.
    if (m_network.loop != nullptr)
    {
        on_network_thread(
            [this]
            {
                for (auto& r : m_records)
                {
                    if (r->connection != nullptr)
                        static_cast<void>(m_network.loop->close(*r->connection));
                }
            });
    }
    {
        const std::lock_guard lock(m_state_lock);
        m_known_addresses.clear();
        m_known_peer_ids.clear();
        // Records still waiting for a connect are given up as well: their attempts belong
        // to the old generation and are refused when they finish.
        for (auto& r : m_records)
            r->state.store(peer_state::gone);
        m_connected.store(0, std::memory_order_relaxed);
    }
    if (m_network.torrents != nullptr && !hash.empty())
        m_network.torrents->remove_torrent(hash);
    destroy_connections();
    {
        const std::lock_guard lock(m_state_lock);
        m_torrent.reset();
        m_picker = nullptr;
    }
    const std::lock_guard lock(m_task_lock);
    m_gathered.clear();
    m_tracker_failure_url.clear();
    m_tracker_failure.clear();
    m_tracker_failure_serial.fetch_add(1, std::memory_order_release);
}

open_storage_result Task::choose_more_files(const file_selection& choice)
{
    std::shared_ptr<torrent_data> data;
    {
        const std::lock_guard lock(m_state_lock);
        if (state() == task_state::free_slot)
            return open_storage_result::ok;
        data = m_torrent;
    }
    if (data == nullptr)
        return open_storage_result::ok;
    std::vector<std::uint32_t> added;
    const open_storage_result result = data->choose_more_files(choice, added);
    if (result != open_storage_result::ok || added.empty())
        return result;

    // Held: the verified pieces we still have (some shared with the new files are fetched again).
    bitfield wanted;
    data->copy_have_wanted(wanted);
    const std::uint32_t count = wanted.bit_count();
    m_held.store(
        stored_downloaded_bytes(
            wanted.count(),
            count > 0 && wanted.test(count - 1),
            count,
            m_piece_length,
            m_total.load(std::memory_order_relaxed)),
        std::memory_order_relaxed);

    // The picker learns the pieces that are wanted now, and every connection whose peer has
    // one of them asks for it.
    bitfield have;
    data->copy_have(have);
    on_network_thread(
        [this, &have]
        {
            if (m_picker != nullptr)
                m_picker->assign_have(have);
            for (auto& r : m_records)
            {
                if (r->connection != nullptr)
                    r->connection->rethink_interest();
            }
        });
    {
        const std::lock_guard lock(m_state_lock);
        if (state() == task_state::complete && !have.all())
            m_state.store(task_state::downloading, std::memory_order_release);
    }
    return open_storage_result::ok;
}

} // namespace torrent
