// Files chosen while a task runs.
#include "engine/piece_picker.h"
#include "engine/task.h"
#include "net/event_loop.h"
#include "net/peer_connection.h"
#include "storage/stored_task.h"
#include "storage/torrent_data.h"

namespace torrent
{

open_storage_result Task::choose_more_files(const file_selection& choice)
{
    std::shared_ptr<torrent_data> data;
    {
        const std::lock_guard lock(m_state_lock);
        if (state_value() == task_state::free_slot)
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
        if (state_value() == task_state::complete && !have.all())
            m_state.store(task_state::downloading, std::memory_order_release);
    }
    return open_storage_result::ok;
}

} // namespace torrent
