#include "tracker/tracker_announcer.h"

#include <algorithm>
#include <thread>

#include "base/data_folder.h"
#include "net/local_address.h"
#include "net/peer_endpoint.h"
#include "net/peer_id.h"
#include "tracker/announce_sink.h"
#include "tracker/name_lookup.h"
#include "tracker/tracker_favourites.h"
#include "tracker/worker_count.h"

namespace torrent
{

TrackerAnnouncer::TrackerAnnouncer(
    std::string_view own_peer_id, const external_address& external, announce_clock& clock)
    : m_clock(clock)
    , m_external(external)
    , m_peer_id(own_peer_id.substr(0, peer_id_size))
    , m_resolve(&resolve_host_ipv4)
{
    m_peer_id.resize(peer_id_size, '\0');
}

TrackerAnnouncer::~TrackerAnnouncer() = default;

void TrackerAnnouncer::BuildTrackerList(
    announce_sink& task, std::span<const std::string> metainfo_trackers, bool private_torrent)
{
    m_task = &task;
    m_trackers.clear();
    m_trackers.generation = task.generation();
    m_trackers.info_hash = {};
    static_cast<void>(decode_info_hash(task.info_hash_text(), m_trackers.info_hash));
    for (const std::string& url : metainfo_trackers)
        m_trackers.add(url);
    if (!private_torrent)
        AddFavourites(m_trackers, m_favourites_folder.empty() ? data_folder() : m_favourites_folder);
    m_counters = read_counters();
}

bool TrackerAnnouncer::start(std::unique_ptr<TrackerAnnouncer> self, worker_count& workers)
{
    if (!self)
        return false;
    workers.enter();
    try
    {
        std::thread(
            [announcer = std::move(self), &workers]() mutable
            {
                try
                {
                    announcer->Run();
                }
                catch (...)
                {
                    workers.note_failure();
                }
                announcer.reset(); // the worker deletes its own object
                workers.leave();
            })
            .detach();
        return true;
    }
    catch (...)
    {
        // No thread: the lambda, and the announcer with it, is already gone.
        workers.leave();
        return false;
    }
}

bool TrackerAnnouncer::Wait(unsigned ms)
{
    if (m_stop_flag)
        return false;
    if (m_clock.wait(*m_stop, ms) == wait_result::signalled)
    {
        m_stop_flag = true;
        return false;
    }
    return true;
}

bool TrackerAnnouncer::task_alive() const
{
    return m_task != nullptr && m_task->generation() == m_trackers.generation
        && m_task->state() <= task_state::checking;
}

bool TrackerAnnouncer::stop_requested() const
{
    return m_stop->is_set() || !task_alive();
}

std::uint32_t
TrackerAnnouncer::lookup(const std::string& name, std::chrono::steady_clock::time_point until) const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0; // the answer's lookup time is used up
    const auto limit = static_cast<unsigned>(std::min<std::int64_t>(lookup_limit_ms, left.count()));
    return resolve_with_limit(m_resolve, name, limit, [this] { return stop_requested(); });
}

TrackerAnnouncer::counters TrackerAnnouncer::read_counters()
{
    // Once the slot has changed hands its counters belong to another torrent: keep the last.
    if (task_alive())
        m_counters = {m_task->uploaded(), m_task->held(), m_task->total_length()};
    return m_counters;
}

void TrackerAnnouncer::Run()
{
    if (m_task == nullptr)
        return;
    set_cancel_check([this] { return !m_final_phase && stop_requested(); });
    if (m_check_first && m_task->check_existing_data(*m_stop) < 0)
    {
        finish();
        return;
    }
    while (run_cycle())
    {
    }
    send_stopped();
    finish();
}

void TrackerAnnouncer::finish()
{
    if (m_task->generation() == m_trackers.generation && m_task->state() < task_state::free_slot)
        m_task->set_announcer_ended();
}

bool TrackerAnnouncer::run_cycle()
{
    if (m_stop_flag || !task_alive())
        return false;
    TrackerEntry* entry = choose_entry();
    if (!wait_until_due(entry))
        return false;
    announce(*entry);
    Reset();
    return !m_stop_flag;
}

TrackerEntry* TrackerAnnouncer::choose_entry()
{
    for (std::size_t i = 0, n = m_trackers.size(); i < n; ++i)
    {
        TrackerEntry* entry = m_trackers.rotate();
        if (entry->state > tracker_state::completed)
            continue;
        if (!SetUrl(entry->url))
        {
            entry->state = tracker_state::unusable;
            continue;
        }
        return entry;
    }
    return nullptr; // nothing to announce to: the wait below runs until the task ends
}

bool TrackerAnnouncer::wait_until_due(const TrackerEntry* entry)
{
    auto it = m_candidates.begin();
    for (;;)
    {
        if (m_stop_flag || !task_alive())
            return false;
        if (it != m_candidates.end())
        {
            const tick_t now = m_clock.now();
            if (!is_due(now, it->second.next_try))
            {
                ++it;
                continue;
            }
            it->second.next_try = now + candidate_retry_ms;
            if (hand_to_task(it->first, it->second))
                ++it;
            else
                static_cast<void>(Wait(refused_wait_ms)); // same position: its next try lies ahead now
            continue;
        }
        merge_gathered();
        it = m_candidates.begin();
        if (entry != nullptr && is_due(m_clock.now(), entry->next_announce))
            return true;
        static_cast<void>(Wait(step_wait_ms));
    }
}

bool TrackerAnnouncer::hand_to_task(std::uint64_t key, const candidate_set::slot& candidate)
{
    const candidate_address a = address_of(key, candidate.external_address);
    PeerEndpoint endpoint{};
    endpoint.ip = a.address;
    endpoint.port = a.port;
    endpoint.alt_ip = a.alternate_address;
    endpoint.alt_port = a.alternate_port;
    const connect_answer answer = m_task->Connect(endpoint);
    return answer == connect_answer::connected || answer == connect_answer::known;
}

void TrackerAnnouncer::merge_gathered()
{
    m_gathered.clear();
    m_task->take_gathered_addresses(m_gathered);
    for (const PeerCandidate& c : m_gathered)
        m_candidates.add_replacing(c.key, c.external_address);
}

std::string
TrackerAnnouncer::request_url(const TrackerEntry& entry, announce_event e, const counters& c) const
{
    const external_address::value self = m_external.get();
    announce_values v;
    v.tracker_url = entry.url;
    v.info_hash = m_trackers.info_hash;
    v.peer_id = m_peer_id;
    v.port = self.port;
    v.uploaded = c.uploaded;
    v.downloaded = c.held;
    v.left = c.held >= c.total ? 0 : c.total - c.held;
    v.ip_text = self.text;
    v.event = e;
    return format_announce_url(v);
}

void TrackerAnnouncer::announce(TrackerEntry& entry)
{
    const counters c = read_counters();
    const bool incomplete = c.held < c.total;
    announce_event e = announce_event::none;
    if (entry.state == tracker_state::never)
        e = announce_event::started;
    else if (entry.state == tracker_state::started && !incomplete && entry.saw_incomplete)
        e = announce_event::completed;

    if (!SetUrl(request_url(entry, e, c)))
    {
        entry.state = tracker_state::unusable;
        return;
    }
    AddHeader("Accept", "application/x-bittorrent");
    const tick_t first = m_clock.now();
    bool ok = false;
    for (int attempt = 1;; ++attempt)
    {
        // Each attempt gets what is left of the announce's time, however the tracker drips.
        const tick_t spent = m_clock.now() - first;
        if (spent >= announce_limit_ms)
            break;
        set_request_timeout(static_cast<unsigned>(announce_limit_ms - spent));
        ok = Fetch();
        if (ok || attempt >= max_attempts || m_clock.now() - first + retry_wait_ms >= announce_limit_ms)
            break;
        if (!Wait(retry_wait_ms))
            break;
    }
    set_request_timeout(0);
    if (!ok)
    {
        entry.next_announce = m_clock.now() + failed_retry_ms;
        return;
    }
    handle_answer(entry, e, incomplete);
}

void TrackerAnnouncer::handle_answer(TrackerEntry& entry, announce_event sent, bool incomplete)
{
    announce_answer answer;
    if (const std::string* body = Body(); body != nullptr)
    {
        const external_address::value self = m_external.get();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer_lookup_ms);
        answer = decode_announce_response(
            *body,
            announce_self{self.ip, self.port, m_peer_id},
            [this, until](const std::string& name) { return lookup(name, until); });
    }
    const tick_t now = m_clock.now();
    if (answer.outcome == announce_outcome::failure)
    {
        // Kept and shown: the tracker's own words are often the only hint (not registered,
        // banned client, passkey).
        entry.refused = true;
        m_task->set_tracker_failure(entry.url, answer.failure_reason);
    }
    if (answer.outcome == announce_outcome::not_dictionary || answer.outcome == announce_outcome::failure)
    {
        entry.next_announce = now + failed_retry_ms;
        return;
    }
    if (entry.refused)
    {
        entry.refused = false;
        m_task->set_tracker_failure(entry.url, {});
    }
    // The tracker accepted the announce.
    if (entry.state == tracker_state::never)
        entry.state = tracker_state::started;
    if (sent == announce_event::completed)
        entry.state = tracker_state::completed;
    if (incomplete)
        entry.saw_incomplete = true;
    if (answer.outcome != announce_outcome::ok)
    {
        entry.next_announce = now + failed_retry_ms;
        return;
    }
    entry.next_announce = now + announce_delay_ms(answer.interval);
    for (const announced_peer& peer : answer.peers)
        m_candidates.add_replacing(peer.key, peer.external_address);
    m_task->set_tracker_peer_count(m_candidates.size());
}

void TrackerAnnouncer::send_stopped()
{
    m_final_phase = true; // from here on the stop event no longer cuts requests short
    Reset();
    const counters c = read_counters();
    const tick_t deadline = m_clock.now() + stopped_budget_ms;
    for (TrackerEntry& entry : m_trackers.entries())
    {
        if (entry.state != tracker_state::started && entry.state != tracker_state::completed)
            continue;
        const tick_t now = m_clock.now();
        if (now >= deadline)
            break;
        entry.state = tracker_state::stopped;
        if (!SetUrl(request_url(entry, announce_event::stopped, c)))
            continue;
        AddHeader("Accept", "application/x-bittorrent");
        set_request_timeout(static_cast<unsigned>(std::min(stopped_request_ms, deadline - now)));
        static_cast<void>(Fetch());
        Reset();
    }
    set_request_timeout(0);
}

} // namespace torrent
