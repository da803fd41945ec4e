#include "tracker/tracker_list.h"

#include <algorithm>

namespace torrent
{

bool TrackerList::add(std::string_view url)
{
    if (url.size() < min_url_length)
        return false;
    if (std::any_of(
            m_entries.begin(), m_entries.end(), [url](const TrackerEntry& e) { return e.url == url; }))
        return false;
    TrackerEntry entry;
    entry.url.assign(url);
    m_entries.push_back(std::move(entry));
    return true;
}

TrackerEntry* TrackerList::rotate()
{
    if (m_entries.empty())
        return nullptr;
    m_entries.splice(m_entries.end(), m_entries, m_entries.begin());
    return &m_entries.back();
}

} // namespace torrent
