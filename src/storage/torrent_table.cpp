#include "storage/torrent_table.h"

#include "storage/torrent_data.h"

namespace torrent
{

bool torrent_table::insert(const std::string& info_hash, std::shared_ptr<torrent_data> data)
{
    const std::lock_guard lock(m_mutex);
    return m_map.try_emplace(info_hash, std::move(data)).second;
}

std::shared_ptr<torrent_data> torrent_table::erase(std::string_view info_hash)
{
    const std::lock_guard lock(m_mutex);
    const auto it = m_map.find(info_hash);
    if (it == m_map.end())
        return nullptr;
    std::shared_ptr<torrent_data> out = std::move(it->second);
    m_map.erase(it);
    return out;
}

std::shared_ptr<torrent_data> torrent_table::find(std::string_view info_hash) const
{
    const std::lock_guard lock(m_mutex);
    const auto it = m_map.find(info_hash);
    return it == m_map.end() ? nullptr : it->second;
}

bool torrent_table::contains(std::string_view info_hash) const
{
    const std::lock_guard lock(m_mutex);
    return m_map.find(info_hash) != m_map.end();
}

std::size_t torrent_table::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_map.size();
}

std::vector<std::string> torrent_table::hashes() const
{
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    out.reserve(m_map.size());
    for (const auto& [hash, data] : m_map)
        out.push_back(hash);
    return out;
}

} // namespace torrent
