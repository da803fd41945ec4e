#include "tracker/peer_candidate.h"

namespace torrent
{

bool candidate_set::add(std::uint64_t key, std::uint32_t external_address)
{
    if (m_map.size() >= max_size)
        return false;
    if (external_address == 0 && m_replaced.count(key) != 0)
        return false;
    return m_map.try_emplace(key, slot{external_address, 0}).second;
}

bool candidate_set::add_replacing(std::uint64_t key, std::uint32_t external_address)
{
    if (external_address == 0)
        return add(key, external_address);
    const auto external_port = static_cast<std::uint16_t>((key >> 16U) & 0xFFFFU);
    const std::uint64_t plain = plain_candidate_key(external_address, external_port);
    m_map.erase(plain);
    const bool present = m_map.count(key) != 0;
    if (!present && m_map.size() >= max_size)
        return false;
    m_replaced.insert(plain);
    return !present && m_map.try_emplace(key, slot{external_address, 0}).second;
}

} // namespace torrent
