#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/event.h"
#include "base/tick.h"
#include "tracker/announce_clock.h"
#include "tracker/announce_response.h"
#include "tracker/http_fetcher.h"
#include "tracker/peer_candidate.h"
#include "tracker/tracker_list.h"

namespace torrent
{

class announce_sink;
class external_address;
class worker_count;

// Announces one task to its trackers in turn and hands the peer addresses they give to the
// task, one by one, so the task opens connections.
//
// A cycle takes the next usable tracker of the rotating list, then walks the candidate set
// (handing every due candidate to the task, re-offering each every 30 s, merging the
// addresses the task gathered from peer ids of ours) in 2 s steps on the stop event until
// that tracker's next announce is due, then sends the request: up to 3 attempts, 2 s apart,
// and the whole announce (every attempt, however slowly a tracker answers) within 20 s, so
// one slow tracker cannot keep the others from being asked. The answer's interval (clamped to 120..600 s)
// sets when that tracker is due again; an announce that fails, or is answered without a usable interval,
// makes it due again after 120 s (never at once, so a broken tracker is not hammered in a loop).
//
// Events: "started" on the first announce to each tracker; "completed" once, to a tracker
// that saw the task incomplete, when nothing is left; "stopped" when the announcer ends, to
// every tracker that accepted "started" (within 3 s in all, whatever the trackers do).
//
// No usable tracker (an empty list, or only URLs the fetcher refuses, such as udp://):
// the announcer neither spins nor ends. It keeps walking the candidate set in 2 s steps,
// so addresses the task gathers from incoming peers are still tried, until the task is
// stopped or its slot changes hands; the task keeps serving incoming connections.
//
// Ends when the stop event is seen, when the task's generation stamp changes or its state
// leaves 0..2, or when the check of existing data fails or is stopped. A transfer in
// progress notices the stop event within about 100 ms.
//
// Owner: its own thread (start() moves it there; the thread deletes it at the end).
// Runs on: the announcer thread; built (BuildTrackerList and the setters) by the task pool
// before start().
class TrackerAnnouncer final : public HttpFetcher
{
public:
    static constexpr tick_t candidate_retry_ms = 30000;
    static constexpr unsigned refused_wait_ms = 5000;
    static constexpr unsigned step_wait_ms = 2000;
    static constexpr unsigned retry_wait_ms = 2000;
    static constexpr int max_attempts = 3;
    // A whole announce, every attempt and wait included, ends within this time (about what
    // common clients allow a tracker); the next tracker is asked after it.
    static constexpr tick_t announce_limit_ms = 20000;
    // Names in an answer's peer list are looked up for at most this long each, and for at
    // most answer_lookup_ms in all; a stop ends a lookup at once.
    static constexpr unsigned lookup_limit_ms = 3000;
    static constexpr unsigned answer_lookup_ms = 10000;
    static constexpr tick_t failed_retry_ms = 120000;
    static constexpr tick_t stopped_budget_ms = 3000;
    static constexpr tick_t stopped_request_ms = 2000;

    // own_peer_id: the process's peer id (zero-padded to 20 bytes). external: the address
    // and port announced to trackers (changes when a router mapping succeeds).
    TrackerAnnouncer(
        std::string_view own_peer_id,
        const external_address& external,
        announce_clock& clock = system_announce_clock());
    ~TrackerAnnouncer() override;
    TrackerAnnouncer(const TrackerAnnouncer&) = delete;
    TrackerAnnouncer& operator=(const TrackerAnnouncer&) = delete;

    // Binds the task (remembering its generation stamp) and builds the tracker list: the
    // metainfo's URLs in order, then, unless the torrent is private, the favourites.
    void BuildTrackerList(
        announce_sink& task, std::span<const std::string> metainfo_trackers, bool private_torrent);

    // The task's stop event (owned by its view; must outlive the announcer).
    void set_stop_event(event& stop) noexcept { m_stop = &stop; }

    // The task's existing data must be checked before the first announce.
    void set_check_first(bool check) noexcept { m_check_first = check; }

    // Folder of the favourites file (default: the data folder).
    void set_favourites_folder(std::string folder) { m_favourites_folder = std::move(folder); }

    // Name lookups for dictionary peers (default: the system resolver). Each lookup runs
    // bounded in time and cancelled by a stop (resolve_with_limit).
    void set_host_resolver(host_resolver resolve) { m_resolve = std::move(resolve); }

    // The thread body; returns when the announcer has finished.
    void Run();

    // Waits on the stop event: true on time-out; on the event, sets the stop flag and
    // returns false (and keeps returning false at once).
    bool Wait(unsigned ms);

    // Starts the announcer's thread, which owns the object and deletes it when Run ends.
    // workers counts it from now until after the deletion. False (object deleted) when no
    // thread could be started.
    static bool start(std::unique_ptr<TrackerAnnouncer> self, worker_count& workers);

    [[nodiscard]] const TrackerList& trackers() const noexcept { return m_trackers; }

    [[nodiscard]] const candidate_set& candidates() const noexcept { return m_candidates; }

    [[nodiscard]] bool stop_flag() const noexcept { return m_stop_flag; }

private:
    struct counters
    {
        std::uint64_t uploaded = 0;
        std::uint64_t held = 0;
        std::uint64_t total = 0;
    };

    [[nodiscard]] bool task_alive() const;
    // The stop event is set or the task is gone (peeks: the signal stays for Wait).
    [[nodiscard]] bool stop_requested() const;
    [[nodiscard]] std::uint32_t
    lookup(const std::string& name, std::chrono::steady_clock::time_point until) const;
    [[nodiscard]] counters read_counters();
    bool run_cycle();
    TrackerEntry* choose_entry();
    bool wait_until_due(const TrackerEntry* entry);
    bool hand_to_task(std::uint64_t key, const candidate_set::slot& candidate);
    void merge_gathered();
    void announce(TrackerEntry& entry);
    void handle_answer(TrackerEntry& entry, announce_event sent, bool incomplete);
    void send_stopped();
    void finish();
    [[nodiscard]] std::string
    request_url(const TrackerEntry& entry, announce_event e, const counters& c) const;

    announce_clock& m_clock;
    const external_address& m_external;
    std::string m_peer_id;
    announce_sink* m_task = nullptr;
    event m_never; // stands in when no stop event was given
    event* m_stop = &m_never;
    bool m_stop_flag = false;
    bool m_check_first = false;
    bool m_final_phase = false;
    TrackerList m_trackers;
    candidate_set m_candidates;
    counters m_counters;
    std::string m_favourites_folder;
    host_resolver m_resolve;
    std::vector<PeerCandidate> m_gathered; // reused buffer
};

} // namespace torrent
