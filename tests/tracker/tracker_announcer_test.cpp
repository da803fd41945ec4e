#include "tracker/tracker_announcer.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "announcer_rig.h"
#include "scripted_http_server.h"
#include "tracker/name_lookup.h"
#include "tracker/worker_count.h"

namespace torrent
{
namespace
{

using test::announcer_rig;
using test::http_reply;
using test::http_request;
using test::make_reply;
using test::scripted_http_server;

constexpr std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return (std::uint32_t{a} << 24U) | (std::uint32_t{b} << 16U) | (std::uint32_t{c} << 8U) | d;
}

std::string compact(std::uint32_t address, std::uint16_t port)
{
    const char bytes[6] = {
        static_cast<char>(address >> 24U),
        static_cast<char>(address >> 16U),
        static_cast<char>(address >> 8U),
        static_cast<char>(address),
        static_cast<char>(port >> 8U),
        static_cast<char>(port)};
    return {bytes, 6};
}

std::string answer(int interval, std::string_view compact_peers = {})
{
    return "d8:intervali" + std::to_string(interval) + "e5:peers" + std::to_string(compact_peers.size()) + ":"
        + std::string(compact_peers) + "e";
}

std::string event_of(const http_request& r)
{
    const std::size_t at = r.target.find("&event=");
    return at == std::string::npos ? "" : r.target.substr(at + 7);
}

constexpr tick_t minute = 60000;

TEST(AnnouncerEvents, StartedThenNoneThenCompletedThenStopped)
{
    announcer_rig rig;
    std::vector<tick_t> times;
    scripted_http_server tracker(
        [&](const http_request&)
        {
            times.push_back(rig.clock.now());
            if (times.size() == 2)
                rig.task.have = rig.task.total.load(); // the download completes
            return make_reply(200, "OK", answer(1800));
        });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 25 * minute);
    announcer->Run();

    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(
        requests[0].target,
        "/announce?info_hash=%01%23Eg%89%AB%CD%EF%01%23Eg%89%AB%CD%EF%01%23Eg&peer_id=ZRV%05%FF%FF%0A%E1%"
        "1Aabcdefghijk"
        "&port=6881&uploaded=0&downloaded=0&left=1000&compact=1&ip=192.0.2.77&event=started");
    EXPECT_EQ(event_of(requests[1]), "");
    EXPECT_EQ(event_of(requests[2]), "completed");
    EXPECT_NE(requests[2].target.find("&downloaded=1000&left=0&"), std::string::npos);
    EXPECT_EQ(event_of(requests[3]), "stopped");
    // An interval of 1800 s is announced again after 600 s (in 2 s steps of the wait).
    EXPECT_GE(times[1] - times[0], 10 * minute);
    EXPECT_LE(times[1] - times[0], 10 * minute + 2000);
    EXPECT_TRUE(rig.task.ended); // stopped while the task was still its own: the window ends it
    EXPECT_EQ(announcer->trackers().entries().front().state, tracker_state::stopped);
    for (const auto& r : requests)
        EXPECT_NE(r.head.find("\r\nAccept: application/x-bittorrent"), std::string::npos);
}

TEST(AnnouncerEvents, ATaskCompleteFromTheStartNeverReportsCompleted)
{
    announcer_rig rig;
    rig.task.have = rig.task.total.load();
    scripted_http_server tracker([](const http_request&) { return make_reply(200, "OK", answer(600)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 25 * minute);
    announcer->Run();
    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(event_of(requests[0]), "started");
    EXPECT_EQ(event_of(requests[1]), "");
    EXPECT_EQ(event_of(requests[2]), "");
    EXPECT_EQ(event_of(requests[3]), "stopped");
}

TEST(AnnouncerEvents, AUrlListedTwiceIsAnnouncedOnceAtTheStartAndOnceAtTheStop)
{
    announcer_rig rig;
    scripted_http_server tracker([](const http_request&) { return make_reply(200, "OK", answer(600)); });
    const std::string url = tracker.url("/announce");
    rig.home.write("trackerFavorite.txt", url + "\r\n"); // a favourite too
    auto announcer = rig.make({url, url}); // in announce and in announce-list
    EXPECT_EQ(announcer->trackers().size(), 1U);
    rig.clock.stop_at(1000 + 5 * minute);
    announcer->Run();
    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(event_of(requests[0]), "started");
    EXPECT_EQ(event_of(requests[1]), "stopped");
}

TEST(AnnouncerSchedule, AShortIntervalWaitsTwoMinutes)
{
    announcer_rig rig;
    std::vector<tick_t> times;
    scripted_http_server tracker(
        [&](const http_request&)
        {
            times.push_back(rig.clock.now());
            return make_reply(200, "OK", answer(30));
        });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 5 * minute);
    announcer->Run();
    ASSERT_GE(times.size(), 3U);
    EXPECT_GE(times[1] - times[0], 2 * minute);
    EXPECT_LE(times[1] - times[0], 2 * minute + 2000);
}

TEST(AnnouncerSchedule, TrackersTakeTurnsAndEachKeepsItsOwnTime)
{
    announcer_rig rig;
    std::vector<std::pair<char, tick_t>> calls;
    std::mutex m;
    auto handler = [&](char name)
    {
        return [&, name](const http_request&)
        {
            std::lock_guard lock(m);
            calls.emplace_back(name, rig.clock.now());
            return make_reply(200, "OK", answer(name == 'a' ? 120 : 600));
        };
    };
    scripted_http_server a(handler('a'));
    scripted_http_server b(handler('b'));
    auto announcer = rig.make({a.url("/announce"), b.url("/announce")});
    rig.clock.stop_at(1000 + 9 * minute);
    announcer->Run();
    // a at 0, b at once after it; then a waits its 2 minutes, b its 10 (the rotation waits
    // for the tracker whose turn it is).
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ(calls[0].first, 'a');
    EXPECT_EQ(calls[1].first, 'b');
    EXPECT_EQ(calls[1].second, calls[0].second);
    EXPECT_EQ(calls[2].first, 'a');
    EXPECT_GE(calls[2].second - calls[0].second, 2 * minute);
}

TEST(AnnouncerPeers, CompactPeersReachTheTaskButOurOwnAddressDoesNot)
{
    announcer_rig rig;
    const std::string peers =
        compact(ip(10, 1, 0, 1), 6881) + compact(ip(192, 0, 2, 77), 6881) + compact(ip(10, 1, 0, 2), 7000);
    scripted_http_server tracker([&](const http_request&)
                                 { return make_reply(200, "OK", answer(1800, peers)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 20000); // before the 30 s re-offer
    announcer->Run();
    const auto connects = rig.task.connects();
    ASSERT_EQ(connects.size(), 2U);
    EXPECT_EQ(connects[0].endpoint.ip, ip(10, 1, 0, 1));
    EXPECT_EQ(connects[0].endpoint.port, 6881);
    EXPECT_EQ(connects[0].endpoint.alt_ip, 0U);
    EXPECT_EQ(connects[1].endpoint.ip, ip(10, 1, 0, 2));
    EXPECT_EQ(connects[1].endpoint.port, 7000);
    EXPECT_EQ(rig.task.peer_count, 2U);
}

TEST(AnnouncerPeers, CandidatesAreOfferedAgainEveryThirtySeconds)
{
    announcer_rig rig;
    rig.task.answer = connect_answer::known;
    const std::string peers = compact(ip(10, 1, 0, 1), 6881);
    scripted_http_server tracker([&](const http_request&)
                                 { return make_reply(200, "OK", answer(1800, peers)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 2 * minute);
    announcer->Run();
    const auto connects = rig.task.connects();
    ASSERT_GE(connects.size(), 3U);
    EXPECT_GE(connects[1].at - connects[0].at, 30000U);
    EXPECT_LE(connects[1].at - connects[0].at, 32000U);
}

TEST(AnnouncerPeers, ARefusedCandidateCostsAFiveSecondWait)
{
    announcer_rig rig;
    rig.task.answer = connect_answer::refused;
    const std::string peers = compact(ip(10, 1, 0, 1), 6881) + compact(ip(10, 1, 0, 2), 6881);
    scripted_http_server tracker([&](const http_request&)
                                 { return make_reply(200, "OK", answer(1800, peers)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 20000);
    announcer->Run();
    const auto connects = rig.task.connects();
    ASSERT_GE(connects.size(), 2U);
    EXPECT_EQ(connects[1].at - connects[0].at, 5000U);
    EXPECT_NE(connects[0].endpoint.ip, connects[1].endpoint.ip); // the walk moved on
}

TEST(AnnouncerPeers, SameAddressFromTwoTrackersIsOneCandidate)
{
    announcer_rig rig;
    const std::string peers = compact(ip(10, 1, 0, 1), 6881);
    scripted_http_server a([&](const http_request&) { return make_reply(200, "OK", answer(1800, peers)); });
    scripted_http_server b([&](const http_request&) { return make_reply(200, "OK", answer(1800, peers)); });
    auto announcer = rig.make({a.url("/announce"), b.url("/announce")});
    rig.clock.stop_at(1000 + 10000);
    announcer->Run();
    EXPECT_EQ(announcer->candidates().size(), 1U);
    EXPECT_EQ(rig.task.peer_count, 1U);
}

TEST(AnnouncerPeers, DictionaryPeersSkipOurIdAndUseInternalAddressesOfOurs)
{
    announcer_rig rig;
    // A peer of ours: internal 10.0.0.5:45790 carried in its id, seen outside at 203.0.113.9:7000.
    const std::string theirs = std::string("ZRV\x05\xff\xff\x0a\xde\xb2", 9) + "ABCDEFGHIJK";
    auto peer = [](std::string_view addr, std::string_view id, int port)
    {
        return "d2:ip" + std::to_string(addr.size()) + ":" + std::string(addr)
            + "7:peer id20:" + std::string(id) + "4:porti" + std::to_string(port) + "ee";
    };
    const std::string body = "d8:intervali1800e5:peersl" + peer("198.51.100.1", test::rig_peer_id, 6881)
        + peer("203.0.113.9", theirs, 7000) + "ee";
    scripted_http_server tracker([&](const http_request&) { return make_reply(200, "OK", body); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 10000);
    announcer->Run();
    const auto connects = rig.task.connects();
    ASSERT_EQ(connects.size(), 1U);
    EXPECT_EQ(connects[0].endpoint.ip, ip(10, 0, 0, 5));
    EXPECT_EQ(connects[0].endpoint.port, 45790);
    EXPECT_EQ(connects[0].endpoint.alt_ip, ip(203, 0, 113, 9));
    EXPECT_EQ(connects[0].endpoint.alt_port, 7000);
}

TEST(AnnouncerPeers, AnInternalAddressGatheredByTheTaskStandsForItsExternalOne)
{
    announcer_rig rig;
    scripted_http_server tracker(
        [&](const http_request&)
        { return make_reply(200, "OK", answer(1800, compact(ip(203, 0, 113, 9), 7000))); });
    auto announcer = rig.make({tracker.url("/announce")});
    // A handshake told the task that 203.0.113.9:7000 is 10.0.0.5:45790 inside.
    rig.task.gather({internal_candidate_key(ip(10, 0, 0, 5), 45790, 7000), ip(203, 0, 113, 9), 0});
    rig.clock.stop_at(1000 + 10000);
    announcer->Run();
    EXPECT_EQ(announcer->candidates().size(), 1U); // the tracker's plain entry is not added again
    EXPECT_TRUE(announcer->candidates().contains(internal_candidate_key(ip(10, 0, 0, 5), 45790, 7000)));
    const auto connects = rig.task.connects();
    ASSERT_EQ(connects.size(), 1U);
    EXPECT_EQ(connects[0].endpoint.ip, ip(10, 0, 0, 5));
    EXPECT_EQ(connects[0].endpoint.alt_ip, ip(203, 0, 113, 9));
}

TEST(AnnouncerFailures, HttpErrorsAreRetriedThreeTimesThenWaitTwoMinutes)
{
    announcer_rig rig;
    std::vector<tick_t> times;
    scripted_http_server tracker(
        [&](const http_request&)
        {
            times.push_back(rig.clock.now());
            return make_reply(404, "Not Found", "nope");
        });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 3 * minute);
    announcer->Run();
    ASSERT_EQ(times.size(), 6U); // 3 attempts, 2 minutes later 3 more; nothing accepted: no "stopped"
    EXPECT_EQ(times[1] - times[0], 2000U);
    EXPECT_EQ(times[2] - times[1], 2000U);
    EXPECT_GE(times[3] - times[2], 2 * minute);
    for (const auto& r : tracker.requests())
        EXPECT_EQ(event_of(r), "started");
}

TEST(AnnouncerFailures, BadAnswersNeverMakeTheAnnouncerHammerATracker)
{
    for (const std::string& body :
         {std::string("d14:failure reason6:bannede"),
          std::string("d8:intervali1800e5:peers12:abc"),
          "d8:intervali60e5:peers" + std::string(5000, 'l') + std::string(5000, 'e') + "e",
          std::string("<html>hello</html>"),
          std::string("d5:peers0:e")})
    {
        announcer_rig rig;
        scripted_http_server tracker([&](const http_request&) { return make_reply(200, "OK", body); });
        auto announcer = rig.make({tracker.url("/announce")});
        rig.clock.stop_at(1000 + 10 * minute);
        announcer->Run();
        EXPECT_LE(tracker.request_count(), 6U) << body.substr(0, 30);
        EXPECT_GE(tracker.request_count(), 4U) << body.substr(0, 30);
        EXPECT_TRUE(rig.task.connects().empty());
    }
}

TEST(AnnouncerFailures, AFailureReasonIsNotTakenAsAcceptingStarted)
{
    announcer_rig rig;
    int n = 0;
    scripted_http_server tracker(
        [&](const http_request&)
        { return make_reply(200, "OK", ++n == 1 ? "d14:failure reason4:busye" : answer(1800)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + 5 * minute);
    announcer->Run();
    const auto requests = tracker.requests();
    ASSERT_GE(requests.size(), 2U);
    EXPECT_EQ(event_of(requests[0]), "started");
    EXPECT_EQ(event_of(requests[1]), "started");
    // The reason reaches the task for its display, and is cleared once the tracker accepts.
    const std::string url = tracker.url("/announce");
    EXPECT_EQ(
        rig.task.tracker_failures(),
        (std::vector<std::pair<std::string, std::string>>{{url, "busy"}, {url, ""}}));
}

TEST(AnnouncerFailures, ATenMiBAnswerIsRefusedAndTheAnnouncerCarriesOn)
{
    announcer_rig rig;
    scripted_http_server tracker(
        [](const http_request&)
        {
            http_reply r;
            r.raw = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nd8:intervali60e5:peers10485760:";
            r.stream_bytes = std::size_t{10} << 20;
            return r;
        });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.stop_at(1000 + minute);
    announcer->Run();
    EXPECT_EQ(tracker.request_count(), 3U);
    EXPECT_TRUE(announcer->candidates().empty());
}

TEST(AnnouncerFailures, ARedirectedTrackerIsFollowed)
{
    announcer_rig rig;
    scripted_http_server tracker(
        [](const http_request& r)
        {
            if (r.target.starts_with("/old"))
                return make_reply(302, "Found", "", "Location: /new" + r.target.substr(4) + "\r\n");
            return make_reply(200, "OK", answer(1800, compact(ip(10, 1, 0, 1), 6881)));
        });
    auto announcer = rig.make({tracker.url("/old")});
    rig.clock.stop_at(1000 + 10000);
    announcer->Run();
    ASSERT_EQ(rig.task.connects().size(), 1U);
    const auto requests = tracker.requests();
    ASSERT_GE(requests.size(), 2U);
    EXPECT_TRUE(requests[1].target.starts_with("/new?info_hash="));
}

TEST(AnnouncerStop, AStalledTrackerDoesNotDelayTheStop)
{
    announcer_rig rig;
    scripted_http_server tracker(
        [](const http_request&)
        {
            http_reply r;
            r.how = http_reply::mode::stall;
            return r;
        });
    auto announcer = rig.make({tracker.url("/announce")});
    worker_count workers;
    ASSERT_TRUE(TrackerAnnouncer::start(std::move(announcer), workers));
    ASSERT_TRUE(tracker.wait_for_requests(1, 5000));
    const auto stop_at = std::chrono::steady_clock::now();
    rig.stop.set();
    ASSERT_TRUE(workers.wait_idle(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - stop_at, std::chrono::seconds(5));
    EXPECT_EQ(workers.failures(), 0U);
    EXPECT_TRUE(rig.task.ended);
}

// A resolver stand-in that blocks until released, counting its lookups.
struct stuck_resolver
{
    std::mutex mutex;
    std::condition_variable cond;
    bool released = false;
    std::atomic<int> lookups{0};

    host_resolver get()
    {
        return [this](const std::string&)
        {
            ++lookups;
            std::unique_lock lock(mutex);
            cond.wait(lock, [this] { return released; });
            return ip(10, 0, 0, 9);
        };
    }

    // Lets every lookup end and waits until their helper threads are gone (they hold this).
    ~stuck_resolver()
    {
        {
            const std::lock_guard lock(mutex);
            released = true;
        }
        cond.notify_all();
        for (int i = 0; i < 500 && lookup_helpers_running() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

TEST(NameLookup, ALookupIsBoundedInTimeAndEndsAtACancel)
{
    stuck_resolver stuck;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(resolve_with_limit(stuck.get(), "slow.example", 150), 0U);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    start = std::chrono::steady_clock::now();
    std::atomic<bool> cancel{false};
    std::thread canceller(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            cancel = true;
        });
    EXPECT_EQ(resolve_with_limit(stuck.get(), "slow.example", 60000, [&] { return cancel.load(); }), 0U);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(resolve_with_limit(stuck.get(), "slow.example", 60000, [] { return true; }), 0U);
    EXPECT_EQ(stuck.lookups.load(), 2); // a cancelled wait starts no lookup
    const host_resolver quick = [](const std::string&)
    {
        return ip(10, 0, 0, 7);
    };
    EXPECT_EQ(resolve_with_limit(quick, "fast.example", 5000), ip(10, 0, 0, 7));
}

TEST(AnnouncerStop, AStopInTheMiddleOfSlowNameLookupsEndsTheAnnouncerAtOnce)
{
    announcer_rig rig;
    std::string peers = "l";
    for (int i = 0; i < 10; ++i)
    {
        const std::string name = "peer" + std::to_string(i) + ".example";
        peers += "d2:ip" + std::to_string(name.size()) + ":" + name + "4:porti6881ee";
    }
    peers += "e";
    scripted_http_server tracker([&](const http_request&)
                                 { return make_reply(200, "OK", "d8:intervali1800e5:peers" + peers + "e"); });
    stuck_resolver stuck;
    auto announcer = rig.make({tracker.url("/announce")});
    announcer->set_host_resolver(stuck.get());
    worker_count workers;
    ASSERT_TRUE(TrackerAnnouncer::start(std::move(announcer), workers));
    for (int i = 0; i < 500 && stuck.lookups.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(stuck.lookups.load(), 1);
    const auto stop_at = std::chrono::steady_clock::now();
    rig.stop.set();
    ASSERT_TRUE(workers.wait_idle(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - stop_at, std::chrono::seconds(1));
    EXPECT_EQ(stuck.lookups.load(), 1); // the other names are not looked up after the stop
    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(event_of(requests[1]), "stopped");
    EXPECT_TRUE(rig.task.connects().empty());
}

TEST(AnnouncerStop, ALostSlotEndsTheAnnouncerWithAStoppedAnnounceButNoEndedFlag)
{
    announcer_rig rig;
    scripted_http_server tracker([&](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    auto announcer = rig.make({tracker.url("/announce")});
    rig.clock.on_wait(
        [&](tick_t now)
        {
            if (now >= 1000 + 10000 && rig.task.gen == 77)
            {
                rig.task.up = 4242; // the slot now holds another torrent
                rig.task.gen = 78;
            }
        });
    rig.clock.stop_at(1000 + 10 * minute);
    announcer->Run();
    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(event_of(requests[0]), "started");
    EXPECT_EQ(event_of(requests[1]), "stopped");
    EXPECT_NE(requests[1].target.find("&uploaded=0&"), std::string::npos); // not the new torrent's counters
    EXPECT_FALSE(rig.task.ended);
    EXPECT_LT(rig.clock.now(), 1000 + minute); // ended at once, not at the stop time
}

TEST(AnnouncerStop, StoppedGoesOnlyToTrackersThatAcceptedStarted)
{
    announcer_rig rig;
    scripted_http_server good([](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    scripted_http_server bad([](const http_request&) { return make_reply(500, "Oops", ""); });
    auto announcer = rig.make({good.url("/announce"), bad.url("/announce")});
    rig.clock.stop_at(1000 + minute);
    announcer->Run();
    EXPECT_EQ(event_of(good.requests().back()), "stopped");
    for (const auto& r : bad.requests())
        EXPECT_EQ(event_of(r), "started");
}

TEST(AnnouncerNoTracker, NeitherSpinsNorEndsAndStillHandsOnGatheredPeers)
{
    for (const std::vector<std::string>& trackers :
         {std::vector<std::string>{},
          std::vector<std::string>{"udp://127.0.0.1:1/announce", "abc", "ftp://x/"}})
    {
        announcer_rig rig;
        rig.task.gather({internal_candidate_key(ip(10, 0, 0, 5), 45790, 7000), ip(203, 0, 113, 9), 0});
        auto announcer = rig.make(trackers);
        rig.clock.stop_at(1000 + 10 * minute);
        announcer->Run();
        EXPECT_GE(rig.clock.now(), 1000 + 10 * minute); // ran until stopped
        EXPECT_LE(rig.clock.waits(), 10U * 60U / 2U + 40U); // in 2 s steps (plus 30 s re-offers), no spin
        EXPECT_FALSE(rig.task.connects().empty());
        EXPECT_EQ(rig.task.connects()[0].endpoint.ip, ip(10, 0, 0, 5));
        EXPECT_EQ(rig.task.connects()[0].endpoint.alt_port, 7000);
    }
}

TEST(AnnouncerCheck, AFailedOrStoppedCheckEndsBeforeAnyAnnounce)
{
    announcer_rig rig;
    rig.task.check_answer = -1;
    scripted_http_server tracker([](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    auto announcer = rig.make({tracker.url("/announce")});
    announcer->set_check_first(true);
    announcer->Run();
    EXPECT_EQ(rig.task.checks, 1);
    EXPECT_EQ(tracker.request_count(), 0U);
    EXPECT_TRUE(rig.task.ended);
}

TEST(AnnouncerCheck, NoPiecesOnDiskIsAFreshDownloadNotAnEnd)
{
    announcer_rig rig;
    rig.task.check_answer = 0;
    scripted_http_server tracker([](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    auto announcer = rig.make({tracker.url("/announce")});
    announcer->set_check_first(true);
    rig.clock.stop_at(1000 + minute);
    announcer->Run();
    EXPECT_EQ(rig.task.checks, 1);
    EXPECT_EQ(tracker.request_count(), 2U); // started, stopped
}

TEST(AnnouncerFavourites, PublicTorrentsUseThemPrivateOnesNever)
{
    scripted_http_server own([](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    scripted_http_server favourite([](const http_request&) { return make_reply(200, "OK", answer(1800)); });
    for (const bool private_torrent : {false, true})
    {
        announcer_rig rig;
        rig.home.write("trackerFavorite.txt", favourite.url("/announce") + "\r\n");
        const std::size_t before = favourite.request_count();
        auto announcer = rig.make({own.url("/announce")}, private_torrent);
        EXPECT_EQ(announcer->trackers().size(), private_torrent ? 1U : 2U);
        rig.clock.stop_at(1000 + 10000);
        announcer->Run();
        EXPECT_EQ(favourite.request_count() > before, !private_torrent);
    }
}

TEST(AnnouncerThread, TheWorkerDeletesItselfAndIsCounted)
{
    announcer_rig rig;
    worker_count workers;
    auto announcer = rig.make({});
    ASSERT_TRUE(TrackerAnnouncer::start(std::move(announcer), workers));
    EXPECT_EQ(workers.live(), 1U);
    rig.stop.set();
    ASSERT_TRUE(workers.wait_idle(5000));
    EXPECT_EQ(workers.live(), 0U);
    EXPECT_FALSE(TrackerAnnouncer::start(nullptr, workers));
}

} // namespace
} // namespace torrent
