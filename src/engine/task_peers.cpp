// A task's peers: outgoing connects, taking and freeing peer records, and the sets that
// keep addresses and peer ids unique.
#include "engine/task.h"
#include "net/connection_poller.h"
#include "net/outgoing_connect.h"
#include "net/peer_connection.h"
#include "net/peer_id.h"
#include "net/peer_listener.h"

namespace torrent
{

namespace
{

// Addresses of one's own network: private ranges, link-local and loopback.
bool is_lan_address(std::uint32_t ip) noexcept
{
    return (ip >> 24U) == 10 || (ip >> 20U) == 0xAC1 || (ip >> 16U) == 0xC0A8 || (ip >> 16U) == 0xA9FE
        || (ip >> 24U) == 127;
}

// Two copies of this program behind one router reach each other at their private
// addresses, and several may share an address: a peer of ours (its id, or the candidate,
// carries its internal address) on a LAN address may hold a connection beside another.
bool is_peer_of_ours_nearby(const PeerEndpoint& endpoint)
{
    if (!is_lan_address(endpoint.ip_in_use()))
        return false;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    return endpoint.alt_ip != 0 || decode_peer_id(endpoint.peer_id_text(), ip, port);
}

} // namespace

connect_answer Task::Connect(PeerEndpoint& endpoint)
{
    endpoint.result = 0;
    if (m_connected.load(std::memory_order_relaxed) >= m_slot_count)
        return connect_answer::full; // every record in use: no reason given
    ConnectionPoller* poller = m_network.poller;
    const int limit = m_network.connect_limit != nullptr ? m_network.connect_limit->get() : 0;
    if (poller == nullptr || m_network.loop == nullptr
        || poller->pending_count() >= static_cast<std::size_t>(std::max(limit, 0)))
    {
        endpoint.result = static_cast<std::uint8_t>(connect_answer::refused);
        return connect_answer::refused;
    }
    const std::uint64_t key = endpoint.address_key();
    if (IsKnownAddress(key, true))
    {
        endpoint.result = static_cast<std::uint8_t>(connect_answer::known);
        return connect_answer::known;
    }
    slot_refusal why = slot_refusal::none;
    PeerRecord* record = take_record(endpoint, true, why);
    if (record == nullptr)
    {
        forget_peer(key, {}); // only the key
        // An address that holds a connection already, or is banned, is handled: the
        // announcer goes on at once. Otherwise it waits before offering more.
        const bool handled = why == slot_refusal::address_held || why == slot_refusal::banned;
        const connect_answer answer = handled ? connect_answer::known : connect_answer::refused;
        endpoint.result = static_cast<std::uint8_t>(answer);
        return answer;
    }
    auto attempt = std::make_unique<OutgoingConnect>(this, generation(), record);
    record->state.store(peer_state::queued);
    poller->add(std::move(attempt), true);
    return connect_answer::connected;
}

bool Task::IsKnownAddress(std::uint64_t key, bool remember)
{
    const std::lock_guard lock(m_state_lock);
    if (m_known_addresses.count(key) != 0)
        return true;
    if (remember && state() != task_state::free_slot && !complete_outside_seeding())
        m_known_addresses.insert(key);
    return false;
}

peer_slot* Task::take_peer_slot(const PeerEndpoint& endpoint)
{
    slot_refusal why = slot_refusal::none;
    return take_record(endpoint, false, why);
}

PeerRecord* Task::take_record(const PeerEndpoint& endpoint, bool outgoing, slot_refusal& why)
{
    const std::lock_guard lock(m_state_lock);
    // No peers while the data on disk is checked: what we would announce is not known yet,
    // and blocks must not be written under the check.
    if (state() == task_state::free_slot || state() == task_state::checking || complete_outside_seeding())
    {
        why = slot_refusal::closed;
        return nullptr;
    }
    const std::uint32_t ip = endpoint.ip_in_use();
    if (m_banned.count(ip) != 0)
    {
        why = slot_refusal::banned;
        return nullptr;
    }
    // The limit is on what others can take from us: our own dials go to the candidates
    // we choose (a peer we reach twice is refused by its id at the handshake).
    if (!outgoing && !is_peer_of_ours_nearby(endpoint) && address_held_locked(ip))
    {
        why = slot_refusal::address_held;
        return nullptr;
    }
    const auto n = static_cast<std::uint16_t>(m_records.size());
    if (!outgoing && incoming_held_locked() + outgoing_reserve() >= n)
    {
        why = slot_refusal::reserved;
        return nullptr;
    }
    if (n == 0)
    {
        why = slot_refusal::full;
        return nullptr;
    }
    if (m_last_slot < m_connected.load(std::memory_order_relaxed) || m_last_slot >= n)
        m_last_slot = static_cast<std::uint16_t>(n - 1);
    // Round robin from the record after the last one taken; the last one is looked at last
    // (so a task with a single record can still take it).
    for (std::uint16_t i = 1; i <= n; ++i)
    {
        const auto index = static_cast<std::uint16_t>((m_last_slot + i) % n);
        PeerRecord& r = *m_records[index];
        if (r.state.load() != peer_state::gone)
            continue;
        r.state.store(peer_state::taken);
        r.endpoint = endpoint;
        r.endpoint.result = 0;
        r.have_count.store(0, std::memory_order_relaxed);
        r.uploaded.store(0, std::memory_order_relaxed);
        r.downloaded.store(0, std::memory_order_relaxed);
        r.outgoing.store(outgoing);
        r.id_registered.store(false);
        r.client.clear();
        r.taken_at = now();
        m_connected.fetch_add(1, std::memory_order_relaxed);
        m_last_slot = index;
        return &r;
    }
    why = slot_refusal::full;
    return nullptr;
}

bool Task::is_peer_id_unwelcome(std::string_view peer_id, bool remember)
{
    // A connection to ourselves is refused whatever the task's state.
    if (!peer_id.empty() && peer_id == m_network.own_peer_id)
        return true;
    const std::lock_guard lock(m_state_lock);
    if (state() == task_state::free_slot || complete_outside_seeding())
        return true;
    if (peer_id.size() != peer_id_size)
        return false; // not checked and not remembered
    if (m_known_peer_ids.count(peer_id) != 0)
        return true;
    if (remember)
        m_known_peer_ids.emplace(peer_id);
    return false;
}

void Task::forget_locked(std::uint64_t key, std::string_view peer_id)
{
    if (key != 0)
        m_known_addresses.erase(key);
    if (peer_id.size() == peer_id_size)
    {
        const auto found = m_known_peer_ids.find(peer_id);
        if (found != m_known_peer_ids.end())
            m_known_peer_ids.erase(found);
    }
}

void Task::forget_peer(std::uint64_t address_key, std::string_view peer_id)
{
    const std::lock_guard lock(m_state_lock);
    forget_locked(address_key, peer_id);
}

void Task::peer_connect_failed(peer_link& link)
{
    peer_slot* slot = slot_of(&link);
    if (slot == nullptr)
        return; // not one of ours (any more)
    const std::lock_guard lock(m_state_lock);
    const PeerEndpoint& ep = slot->endpoint;
    // Both addresses are forgotten, so a peer that failed on its alternate address can be
    // proposed again on its primary one. Only an id this record registered is unregistered.
    forget_locked(PeerEndpoint::make_address_key(ep.ip, ep.port), {});
    if (ep.alt_ip != 0)
        forget_locked(PeerEndpoint::make_address_key(ep.alt_ip, ep.alt_port), {});
    if (slot->id_registered.exchange(false))
        forget_locked(0, ep.peer_id_text());
    if (slot->state.load() != peer_state::gone)
    {
        slot->state.store(peer_state::gone);
        const std::uint16_t n = m_connected.load(std::memory_order_relaxed);
        if (n > 0)
            m_connected.store(static_cast<std::uint16_t>(n - 1), std::memory_order_relaxed);
    }
}

void Task::set_alternate_address(
    std::uint32_t decoded_ip, std::uint16_t decoded_port, std::uint32_t ip_in_use, std::uint16_t port_in_use)
{
    const std::lock_guard lock(m_task_lock);
    if (m_gathered.size() >= max_gathered)
        return;
    PeerCandidate c;
    c.key = internal_candidate_key(decoded_ip, decoded_port, port_in_use);
    c.external_address = ip_in_use;
    m_gathered.push_back(c);
}

void Task::take_gathered_addresses(std::vector<PeerCandidate>& out)
{
    const std::lock_guard lock(m_task_lock);
    out.insert(out.end(), m_gathered.begin(), m_gathered.end());
    m_gathered.clear();
}

peer_slot* Task::slot_of(const peer_link* link)
{
    for (auto& r : m_records)
    {
        if (r.get() == link)
            return r.get();
    }
    return nullptr;
}

void Task::set_peer_id(peer_slot& slot, std::span<const std::byte> id)
{
    const std::lock_guard lock(m_state_lock);
    slot.endpoint.set_peer_id(id.data(), id.size());
    auto& record = static_cast<PeerRecord&>(slot);
    record.client = client_text_of(
        std::string_view(reinterpret_cast<const char*>(id.data()), std::min<std::size_t>(id.size(), 20)));
}

void Task::set_tracker_peer_count(std::size_t count)
{
    m_tracker_peers.store(count, std::memory_order_relaxed);
}

void Task::set_tracker_failure(const std::string& url, const std::string& reason)
{
    const std::lock_guard lock(m_task_lock);
    m_tracker_failure_url = reason.empty() ? std::string() : url;
    m_tracker_failure = reason;
    m_tracker_failure_serial.fetch_add(1, std::memory_order_release);
}

void Task::set_announcer_ended()
{
    m_announcer_ended.store(true, std::memory_order_relaxed);
}

void Task::piece_done(std::uint32_t index, bool complete)
{
    assert_network_thread();
    for (auto& r : m_records)
    {
        if (r->connection != nullptr && r->connection->is_open())
            r->connection->queue_have(index, complete);
    }
}

} // namespace torrent
