#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "base/tick.h"
#include "tracker/announce_request.h"
#include "tracker/tracker_state.h"

namespace torrent
{

// One tracker URL of a task.
struct TrackerEntry
{
    std::string url;
    tracker_state state = tracker_state::never;
    tick_t next_announce = 0; // may be announced to again once the tick is past it
    // An announce was accepted while the task still had data to fetch; only then does a
    // later complete task report "completed" to this tracker.
    bool saw_incomplete = false;
    // The last answer was a "failure reason" (the task shows it until the tracker accepts).
    bool refused = false;
};

// The trackers of one task, rotated: the entry used next is always the first.
// Owner: the tracker announcer. Runs on: the thread that builds it, then the announcer's.
class TrackerList
{
public:
    // Entries of 3 characters or fewer are never stored.
    static constexpr std::size_t min_url_length = 4;

    // Appends a new entry (state 0, due at once) unless the URL is too short or already
    // listed (a URL in both announce and announce-list, or also a favourite, is announced
    // once). True when appended.
    bool add(std::string_view url);

    // Moves the first entry to the back and returns it (null when empty).
    TrackerEntry* rotate();

    void clear() noexcept { m_entries.clear(); }

    [[nodiscard]] bool empty() const noexcept { return m_entries.empty(); }

    [[nodiscard]] std::size_t size() const noexcept { return m_entries.size(); }

    [[nodiscard]] std::list<TrackerEntry>& entries() noexcept { return m_entries; }

    [[nodiscard]] const std::list<TrackerEntry>& entries() const noexcept { return m_entries; }

    info_hash_bytes info_hash{};
    std::uint64_t generation = 0;

private:
    std::list<TrackerEntry> m_entries; // a list: rotating keeps entries in place
};

} // namespace torrent
