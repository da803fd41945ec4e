#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

#include "base/tick.h"

namespace torrent
{

// A peer address learned from a tracker (or gathered by the task from a peer's id), waiting
// to be handed to the task.
//
// Key of a plain candidate (address A, port P): A in the high 32 bits, P in the low 16.
// Key of a candidate whose internal (LAN) address is known (internal IA:IP behind external
// EA:EP): IA in the high 32 bits, EP in bits 16-31, IP in bits 0-15, and EA in
// external_address. Addresses are in host byte order.
struct PeerCandidate
{
    std::uint64_t key = 0;
    std::uint32_t external_address = 0; // 0 for a plain candidate
    tick_t next_try = 0; // 0: due at once
};

[[nodiscard]] constexpr std::uint64_t plain_candidate_key(std::uint32_t address, std::uint16_t port) noexcept
{
    return (std::uint64_t{address} << 32U) | port;
}

[[nodiscard]] constexpr std::uint64_t internal_candidate_key(
    std::uint32_t internal_address, std::uint16_t internal_port, std::uint16_t external_port) noexcept
{
    return (std::uint64_t{internal_address} << 32U) | (std::uint64_t{external_port} << 16U) | internal_port;
}

// The addresses a candidate stands for: the address to try first and, for a candidate with
// an internal address, its external address as the alternate pair.
struct candidate_address
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::uint32_t alternate_address = 0;
    std::uint16_t alternate_port = 0;
};

[[nodiscard]] constexpr candidate_address
address_of(std::uint64_t key, std::uint32_t external_address) noexcept
{
    candidate_address a;
    a.address = static_cast<std::uint32_t>(key >> 32U);
    a.port = static_cast<std::uint16_t>(key & 0xFFFFU);
    if (external_address != 0)
    {
        a.alternate_address = external_address;
        a.alternate_port = static_cast<std::uint16_t>((key >> 16U) & 0xFFFFU);
    }
    return a;
}

// The announcer's candidates, ordered by key (unsigned), each key once. Bounded so that
// trackers handing out ever new addresses cannot grow it without end: once it holds
// max_size candidates, new keys are dropped.
// Owner: the tracker announcer. Runs on: its thread only.
class candidate_set
{
public:
    struct slot
    {
        std::uint32_t external_address = 0;
        tick_t next_try = 0;
    };

    using map_type = std::map<std::uint64_t, slot>;
    using iterator = map_type::iterator;

    static constexpr std::size_t max_size = 8192;

    // Adds a candidate unless its key is present (or the set is full). A plain candidate is
    // not added either when a candidate with an internal address already stands for it.
    // True when added.
    bool add(std::uint64_t key, std::uint32_t external_address);

    // Adds an internal-address candidate after removing the plain candidate of its external
    // address and port, so the peer is tried by its internal address (and that plain address
    // is not added again later). A plain candidate is added as with add().
    bool add_replacing(std::uint64_t key, std::uint32_t external_address);

    [[nodiscard]] bool contains(std::uint64_t key) const { return m_map.count(key) != 0; }

    [[nodiscard]] std::size_t size() const noexcept { return m_map.size(); }

    [[nodiscard]] bool empty() const noexcept { return m_map.empty(); }

    iterator begin() noexcept { return m_map.begin(); }

    iterator end() noexcept { return m_map.end(); }

    [[nodiscard]] const map_type& items() const noexcept { return m_map; }

    void clear() noexcept
    {
        m_map.clear();
        m_replaced.clear();
    }

private:
    map_type m_map;
    std::set<std::uint64_t> m_replaced; // plain keys that internal candidates stand for
};

} // namespace torrent
