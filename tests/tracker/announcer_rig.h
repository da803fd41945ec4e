#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/event.h"
#include "base/tick.h"
#include "net/local_address.h"
#include "support/temp_dir.h"
#include "tracker/announce_clock.h"
#include "tracker/announce_sink.h"
#include "tracker/tracker_announcer.h"

namespace torrent::test
{

// Announcer time that moves only when the announcer waits: a wait of n ms advances the
// clock by n ms at once. At stop_at the wait reports the stop event instead.
class virtual_announce_clock final : public announce_clock
{
public:
    [[nodiscard]] tick_t now() const noexcept override { return m_clock.now(); }

    [[nodiscard]] wait_result wait(event& stop, unsigned ms) override
    {
        ++m_waits;
        if (m_on_wait)
            m_on_wait(m_clock.now());
        if (stop.wait_for(0) == wait_result::signalled)
            return wait_result::signalled;
        const tick_t at = m_stop_at.load();
        if (at != 0 && m_clock.now() + ms >= at)
        {
            if (m_clock.now() < at)
                m_clock.set(at);
            return wait_result::signalled;
        }
        m_clock.advance(ms);
        return wait_result::timed_out;
    }

    void stop_at(tick_t t) noexcept { m_stop_at.store(t); }

    // Called at the start of every wait with the time (on the announcer's thread).
    void on_wait(std::function<void(tick_t)> hook) { m_on_wait = std::move(hook); }

    [[nodiscard]] unsigned waits() const noexcept { return m_waits.load(); }

private:
    manual_clock m_clock{1000};
    std::atomic<tick_t> m_stop_at{0};
    std::atomic<unsigned> m_waits{0};
    std::function<void(tick_t)> m_on_wait;
};

// A stand-in task: counters the test sets, and a record of what the announcer did to it.
class fake_task final : public announce_sink
{
public:
    static constexpr const char* hash_text = "0123456789ABCDEF0123456789ABCDEF01234567";

    std::atomic<std::uint64_t> gen{77};
    std::atomic<torrent::task_state> state_now{torrent::task_state::downloading};
    std::atomic<std::uint64_t> up{0};
    std::atomic<std::uint64_t> have{0};
    std::atomic<std::uint64_t> total{1000};
    std::atomic<int> check_answer{5};
    std::atomic<int> checks{0};
    std::atomic<connect_answer> answer{connect_answer::connected};
    std::atomic<std::size_t> peer_count{0};
    std::atomic<bool> ended{false};

    [[nodiscard]] std::string info_hash_text() const override { return hash_text; }

    [[nodiscard]] std::uint64_t generation() const override { return gen.load(); }

    [[nodiscard]] task_state state() const override { return state_now.load(); }

    [[nodiscard]] std::uint64_t uploaded() const override { return up.load(); }

    [[nodiscard]] std::uint64_t held() const override { return have.load(); }

    [[nodiscard]] std::uint64_t total_length() const override { return total.load(); }

    int check_existing_data(event&) override
    {
        ++checks;
        return check_answer.load();
    }

    connect_answer Connect(PeerEndpoint& endpoint) override
    {
        std::lock_guard lock(m_mutex);
        m_connects.push_back({endpoint, m_clock_reading ? m_clock_reading->now() : 0});
        return answer.load();
    }

    void take_gathered_addresses(std::vector<PeerCandidate>& out) override
    {
        std::lock_guard lock(m_mutex);
        out.insert(out.end(), m_gathered.begin(), m_gathered.end());
        m_gathered.clear();
    }

    void set_tracker_peer_count(std::size_t count) override { peer_count = count; }

    void set_tracker_failure(const std::string& url, const std::string& reason) override
    {
        std::lock_guard lock(m_mutex);
        failures.emplace_back(url, reason);
    }

    [[nodiscard]] std::vector<std::pair<std::string, std::string>> tracker_failures() const
    {
        std::lock_guard lock(m_mutex);
        return failures;
    }

    void set_announcer_ended() override { ended = true; }

    struct connect_call
    {
        PeerEndpoint endpoint;
        tick_t at = 0;
    };

    void gather(const PeerCandidate& c)
    {
        std::lock_guard lock(m_mutex);
        m_gathered.push_back(c);
    }

    [[nodiscard]] std::vector<connect_call> connects() const
    {
        std::lock_guard lock(m_mutex);
        return m_connects;
    }

    void read_time_from(const clock& c) { m_clock_reading = &c; }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> failures;
    std::vector<connect_call> m_connects;
    std::vector<PeerCandidate> m_gathered;
    const clock* m_clock_reading = nullptr;
};

inline const std::string rig_peer_id = "ZRV\x05\xff\xff\x0a\xe1\x1a"
                                       "abcdefghijk";

// Everything an announcer under test needs: time, the task, the stop event, the announced
// address and a data folder whose favourites file the test controls (empty by default, so
// no default tracker is ever contacted).
struct announcer_rig
{
    virtual_announce_clock clock;
    fake_task task;
    event stop;
    external_address external;
    temp_dir home;

    announcer_rig()
    {
        external.set_external(6881, "192.0.2.77");
        home.write("trackerFavorite.txt", "");
        task.read_time_from(clock);
    }

    std::unique_ptr<TrackerAnnouncer>
    make(const std::vector<std::string>& trackers, bool private_torrent = false)
    {
        auto a = std::make_unique<TrackerAnnouncer>(rig_peer_id, external, clock);
        a->set_stop_event(stop);
        a->set_favourites_folder(home.path() + "/");
        a->set_host_resolver([](const std::string&) { return std::uint32_t{0}; });
        a->BuildTrackerList(task, trackers, private_torrent);
        return a;
    }
};

} // namespace torrent::test
