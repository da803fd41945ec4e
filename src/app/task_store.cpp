#include "app/task_store.h"

namespace torrent
{

entry_status status_to_write(const list_entry& entry) noexcept
{
    if (entry.status == entry_status::free_record || entry.total == 0 || entry.done < entry.total)
        return entry.status;
    return entry.status == entry_status::running ? entry_status::seeding : entry_status::finished;
}

bool memory_task_store::load_step(std::vector<list_entry>& out, const std::function<bool(list_entry&)>& claim)
{
    for (int n = 0; n < 2; ++n, ++m_next)
    {
        if (m_next >= m_records.size())
            return true;
        const record& r = m_records[m_next];
        if (r.status < 30 || r.status > 35 || r.status == 33)
            continue;
        list_entry e;
        e.torrent_path = r.torrent_path;
        e.save_folder = r.save_folder;
        e.status = static_cast<entry_status>(r.status);
        e.index = static_cast<std::uint16_t>(m_next + 1);
        if (e.status == entry_status::running || e.status == entry_status::seeding)
        {
            if (!claim || !claim(e))
                e.status = e.status == entry_status::seeding ? entry_status::finished : entry_status::stopped;
        }
        out.push_back(std::move(e));
    }
    return m_next >= m_records.size();
}

store_result memory_task_store::add(list_entry& entry)
{
    if (m_fail)
        return store_result::failed;
    if (entry.torrent_path.size() > 259 || entry.save_folder.size() > 259)
        return store_result::path_too_long;
    std::size_t i = 0;
    while (i < m_records.size() && m_records[i].status != 33)
        ++i;
    if (i == m_records.size())
        m_records.emplace_back();
    m_records[i] = {static_cast<std::uint8_t>(status_to_write(entry)), entry.torrent_path, entry.save_folder};
    entry.index = static_cast<std::uint16_t>(i + 1);
    return store_result::ok;
}

store_result memory_task_store::write_status(list_entry& entry)
{
    if (entry.status == entry_status::in_use || entry.status == entry_status::missing)
        return store_result::ok;
    if (m_fail || entry.index == 0 || entry.index > m_records.size())
        return store_result::failed;
    entry.status = status_to_write(entry);
    m_records[entry.index - 1u].status = static_cast<std::uint8_t>(entry.status);
    return store_result::ok;
}

store_result memory_task_store::remove(list_entry& entry)
{
    if (entry.status == entry_status::in_use)
        return store_result::in_use;
    if (m_fail || entry.index == 0 || entry.index > m_records.size())
        return store_result::failed;
    entry.status = entry_status::free_record;
    m_records[entry.index - 1u].status = 33;
    return store_result::ok;
}

store_result memory_task_store::write_settings(const stored_settings& settings)
{
    if (m_fail)
        return store_result::failed;
    m_settings = settings;
    return store_result::ok;
}

store_result memory_task_store::write_default_save_folder(std::string_view folder)
{
    if (m_fail)
        return store_result::failed;
    m_folder = folder;
    return store_result::ok;
}

std::uint8_t memory_task_store::stored_status(std::uint16_t index) const
{
    return index == 0 || index > m_records.size() ? 0 : m_records[index - 1u].status;
}

} // namespace torrent
