// A task's rules about its peers' addresses: how many connections an address may hold,
// and dropping an address that sends only corrupt pieces.
#include "engine/task.h"
#include "net/peer_connection.h"

namespace torrent
{

bool Task::address_held_locked(std::uint32_t ip) const
{
    for (const auto& r : m_records)
    {
        const peer_state s = r->state.load();
        if (s == peer_state::gone || r->endpoint.ip_in_use() != ip)
            continue;
        // A dial still under way holds nothing yet: it may fail (a peer that left), and a
        // peer behind the same address must still reach us meanwhile.
        const bool dialling = r->outgoing.load()
            && (s == peer_state::taken || s == peer_state::queued || s == peer_state::connecting);
        if (!dialling)
            return true;
    }
    return false;
}

std::uint16_t Task::incoming_held_locked() const
{
    std::uint16_t n = 0;
    for (const auto& r : m_records)
    {
        if (r->state.load() != peer_state::gone && !r->outgoing.load())
            ++n;
    }
    return n;
}

bool Task::is_banned(std::uint32_t ip) const
{
    const std::lock_guard lock(m_state_lock);
    return m_banned.count(ip) != 0;
}

void Task::judge_peers()
{
    if (m_picker == nullptr)
        return;
    m_verdicts.clear();
    m_picker->take_verdicts(m_verdicts);
    if (m_verdicts.empty())
        return;
    std::vector<std::uint32_t> banned_now;
    {
        // The records' endpoints are written under the state lock (by the poller too).
        const std::lock_guard lock(m_state_lock);
        for (const piece_verdict& v : m_verdicts)
        {
            for (const peer_key key : v.peers)
            {
                if (key >= m_records.size())
                    continue;
                const std::uint32_t ip = m_records[key]->endpoint.ip_in_use();
                if (ip == 0 || m_banned.count(ip) != 0)
                    continue;
                auto found = m_scores.find(ip);
                if (found == m_scores.end())
                {
                    // Full: addresses that only ever sent good pieces make room first.
                    if (m_scores.size() >= max_scored_addresses)
                        std::erase_if(m_scores, [](const auto& s) { return s.second.failed == 0; });
                    if (m_scores.size() >= max_scored_addresses)
                        continue;
                    found = m_scores.emplace(ip, peer_score{}).first;
                }
                peer_score& score = found->second;
                if (v.passed)
                    score.verified =
                        static_cast<std::uint16_t>(std::min<unsigned>(score.verified + 1U, 0xFFFFU));
                else
                    score.failed = static_cast<std::uint16_t>(std::min<unsigned>(score.failed + 1U, 0xFFFFU));
                if (score.verified == 0 && score.failed >= ban_after_failed_pieces)
                {
                    m_banned.insert(ip);
                    banned_now.push_back(ip);
                }
            }
        }
    }
    // Closing runs the connections' close steps (blocks back to the picker, the record
    // freed), which take the state lock themselves.
    for (const std::uint32_t ip : banned_now)
    {
        for (auto& r : m_records)
        {
            if (r->connection != nullptr && r->connection->is_open() && r->endpoint.ip_in_use() == ip)
                r->connection->drop(close_reason::corrupt_data);
        }
    }
}

} // namespace torrent
