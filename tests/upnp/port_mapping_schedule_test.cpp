#include "upnp/port_mapping_schedule.h"

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process_env.h"
#include "upnp/scripted_gateway.h"
#include "upnp/start_port_mapping.h"

namespace torrent
{
namespace
{

using test::count_open_fds;
using test::count_threads;
using test::count_threads_settled;
using test::gateway_script;
using test::recording_observer;

constexpr std::uint32_t local_ip = 0xC0A80105; // 192.168.1.5
constexpr std::uint16_t listen_port = 45790;
constexpr tick_t opened_at = 100000;
constexpr tick_t pass_ms = 50; // the poller's idle pass

struct announced
{
    std::uint16_t port;
    std::string address;
};

// One schedule over a scripted gateway, driven pass by pass with a manual clock.
struct fixture
{
    std::shared_ptr<gateway_script> script = std::make_shared<gateway_script>();
    manual_clock clock{opened_at};
    recording_observer observer;
    std::vector<announced> externals;
    std::unique_ptr<port_mapper> mapper;

    fixture() { script->time = &clock; }

    port_mapping_env env()
    {
        return {
            observer,
            [this](std::uint16_t port, const std::string& address)
            {
                externals.push_back({port, address});
            }};
    }

    void start()
    {
        mapper = start_port_mapping(local_ip, listen_port, opened_at, env(), test::scripted_finder(script));
    }

    PortMappingSchedule& schedule() { return static_cast<PortMappingSchedule&>(*mapper); }

    // Runs idle passes as the listener does (only while not established) until the
    // schedule finishes or `ms` of clock time pass. Each attempt is let finish before
    // the next pass, so outcomes are taken one pass after their attempt started.
    void run_for(tick_t ms)
    {
        const tick_t end = clock.now() + ms;
        while (clock.now() < end && !mapper->established())
        {
            clock.advance(pass_ms);
            mapper->retry_step(clock.now());
            ASSERT_TRUE(schedule().wait_attempt(10000));
        }
    }
};

TEST(PortMappingSchedule, RefusingRouterIsTried999TimesFiveSecondsApartThenGivenUp)
{
    fixture f;
    f.script->add_default = -718; // ConflictInMappingEntry
    f.start();
    f.run_for(5000);
    EXPECT_EQ(f.script->add_count(), 0) << "the first attempt waits more than 5000 ms after opening";

    f.run_for(999 * 5100);
    ASSERT_EQ(f.script->add_count(), 999);
    EXPECT_GT(f.script->add_times.front(), opened_at + 5000);
    for (std::size_t i = 1; i < f.script->add_times.size(); ++i)
        ASSERT_GT(f.script->add_times[i] - f.script->add_times[i - 1], 5000u) << "attempt " << i;
    EXPECT_EQ(f.script->finds, 1) << "a gateway that answers is kept between attempts";
    // Spaced from start to start: with 50 ms passes, 999 attempts span about 83 minutes.
    EXPECT_LT(f.script->add_times.back() - opened_at, 999u * 5060u);
    EXPECT_TRUE(f.mapper->finished());
    EXPECT_FALSE(f.mapper->established());

    const std::vector<std::string> expected = {"established 0", "beep", "wanted 0", "status failed"};
    EXPECT_EQ(f.observer.lines(), expected);
    EXPECT_TRUE(f.externals.empty());

    // Given up: no further attempts however long the listener keeps calling.
    f.run_for(3600 * 1000);
    EXPECT_EQ(f.script->add_count(), 999);
    EXPECT_EQ(f.observer.lines().size(), expected.size());
    f.mapper.reset();
    EXPECT_EQ(f.script->delete_count(), 0);
    EXPECT_EQ(f.script->live_gateways, 0);
}

TEST(PortMappingSchedule, AcceptingRouterAnnouncesExternalAddressOnceAndMappingIsDeletedAtTheEnd)
{
    fixture f;
    f.start();
    f.run_for(20000);
    ASSERT_TRUE(f.mapper->established());
    EXPECT_TRUE(f.mapper->finished());
    ASSERT_EQ(f.script->add_count(), 1);
    EXPECT_GT(f.script->add_times[0], opened_at + 5000);

    const mapping_request& r = f.script->adds[0];
    EXPECT_EQ(r.external_port, listen_port);
    EXPECT_EQ(r.internal_port, listen_port);
    EXPECT_EQ(r.protocol, "TCP");
    EXPECT_EQ(r.internal_client, "192.168.1.5");
    EXPECT_EQ(r.description, "Zorvik");

    ASSERT_EQ(f.externals.size(), 1u);
    EXPECT_EQ(f.externals[0].port, listen_port);
    EXPECT_EQ(f.externals[0].address, "203.0.113.7");
    const std::vector<std::string> expected = {
        "established 1", "chime", "wanted 0", "status created 203.0.113.7 45790"};
    EXPECT_EQ(f.observer.lines(), expected);
    EXPECT_EQ(f.schedule().attempt_count(), PortMappingSchedule::count_when_done);

    // Further passes (the listener stops calling, but a stray call must be harmless).
    f.mapper->retry_step(f.clock.now() + 60000);
    EXPECT_EQ(f.script->add_count(), 1);

    EXPECT_EQ(f.script->delete_count(), 0);
    f.mapper.reset();
    ASSERT_EQ(f.script->delete_count(), 1);
    EXPECT_EQ(f.script->deletes[0].first, listen_port);
    EXPECT_EQ(f.script->deletes[0].second, "TCP");
    EXPECT_EQ(f.script->live_gateways, 0);
}

TEST(PortMappingSchedule, EveryKindOfFailureCountsAndTheGatewayIsFoundAgainAfterLosingIt)
{
    fixture f;
    f.script->find_failures = 2; // nothing answers discovery twice
    f.script->add_results = {-718, -606, -3}; // refused, not authorised, connection lost
    f.start();
    f.run_for(10 * 5100);
    ASSERT_TRUE(f.mapper->established());
    EXPECT_EQ(f.script->add_count(), 4);
    // Found on the third discovery, kept through two refusals, lost with the connection.
    EXPECT_EQ(f.script->finds, 4);
    EXPECT_EQ(f.externals.size(), 1u);
    EXPECT_EQ(f.observer.lines().size(), 4u);
    EXPECT_EQ(f.observer.lines().back(), "status created 203.0.113.7 45790");
    f.mapper.reset();
    EXPECT_EQ(f.script->live_gateways, 0);
}

// The router took the mapping but gives no usable external address or port back: the
// failure is counted, nothing is announced, and the mapping stays (and is deleted later).
TEST(PortMappingSchedule, MappingWithoutReadableExternalPortStaysButIsNotAnnounced)
{
    struct variant
    {
        const char* name;
        int entry_result;
        int external_result;
        const char* address;
    };

    const variant variants[] = {
        {"entry not found", -714, upnp_ok, "203.0.113.7"},
        {"address query fails", upnp_ok, -501, ""},
        {"no outside address", upnp_ok, upnp_ok, "0.0.0.0"},
        {"empty address", upnp_ok, upnp_ok, ""},
        {"garbage address", upnp_ok, upnp_ok, "not-an-address"},
    };
    for (const variant& v : variants)
    {
        SCOPED_TRACE(v.name);
        fixture f;
        f.script->entry_result = v.entry_result;
        f.script->external_result = v.external_result;
        f.script->external_address = v.address;
        f.start();
        f.run_for(30000);
        EXPECT_TRUE(f.mapper->established());
        EXPECT_TRUE(f.mapper->finished());
        EXPECT_EQ(f.script->add_count(), 1);
        EXPECT_EQ(f.schedule().attempt_count(), 1);
        EXPECT_TRUE(f.externals.empty());
        EXPECT_TRUE(f.observer.lines().empty());
        f.mapper.reset();
        EXPECT_EQ(f.script->delete_count(), 1);
    }
}

TEST(PortMappingSchedule, DroppedBeforeTheFirstAttemptNeverTalksToTheGateway)
{
    const int threads = count_threads();
    const int fds = count_open_fds();
    fixture f;
    f.start();
    f.run_for(5000);
    EXPECT_FALSE(f.mapper->established());
    EXPECT_FALSE(f.mapper->finished());
    EXPECT_EQ(count_threads(), threads) << "no helper thread before the first attempt";
    f.mapper.reset();
    EXPECT_EQ(f.script->traffic(), 0);
    EXPECT_TRUE(f.observer.lines().empty());
    EXPECT_EQ(count_open_fds(), fds);
}

// The listener drops the schedule when a peer connects in first, perhaps while an
// attempt blocks on the router: the destructor waits for it (it cannot be cut short)
// and deletes the mapping if the attempt added it after all.
TEST(PortMappingSchedule, DroppedWhileAnAttemptIsInFlightWaitsForItAndCleansUp)
{
    for (const int add_result : {upnp_ok, -718})
    {
        SCOPED_TRACE(add_result);
        const int threads = count_threads();
        event entered;
        event release;
        fixture f;
        f.script->add_default = add_result;
        f.script->add_entered = &entered;
        f.script->add_release = &release;
        f.start();
        f.clock.advance(5001);
        f.mapper->retry_step(f.clock.now());
        ASSERT_EQ(entered.wait_for(10000), wait_result::signalled);
        EXPECT_EQ(count_threads(), threads + 1);

        auto dropped = std::async(std::launch::async, [&f] { f.mapper.reset(); });
        EXPECT_EQ(dropped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
            << "the destructor waits for the attempt";
        release.set();
        ASSERT_EQ(dropped.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "no hang";
        dropped.get();

        EXPECT_EQ(f.script->delete_count(), add_result == upnp_ok ? 1 : 0);
        EXPECT_EQ(f.script->queries, 0) << "a dropped schedule does not ask for the external address";
        EXPECT_TRUE(f.observer.lines().empty());
        EXPECT_TRUE(f.externals.empty());
        EXPECT_EQ(f.script->live_gateways, 0);
        EXPECT_EQ(count_threads_settled(threads), threads);
    }
}

// A gateway search (2 s when nothing answers) ends at once when the schedule is dropped,
// so neither shutdown nor an early peer holds the poller thread for it.
TEST(PortMappingSchedule, DroppedDuringAGatewaySearchEndsItAtOnce)
{
    const int threads = count_threads();
    fixture f;
    f.script->find_waits_for_stop = true;
    f.start();
    f.clock.advance(5001);
    f.mapper->retry_step(f.clock.now());
    EXPECT_FALSE(f.schedule().wait_attempt(100)) << "searching";
    const auto started = std::chrono::steady_clock::now();
    f.mapper.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(f.script->finds, 1);
    EXPECT_EQ(f.script->add_count(), 0);
    EXPECT_TRUE(f.observer.lines().empty());
    EXPECT_EQ(count_threads_settled(threads), threads);
}

TEST(PortMappingSchedule, HelperThreadEndsOnceTheScheduleIsDone)
{
    const int threads = count_threads();
    fixture f;
    f.start();
    f.run_for(20000);
    ASSERT_TRUE(f.mapper->established());
    EXPECT_EQ(count_threads_settled(threads), threads);
}

// Turning UPnP on again makes a new schedule through the same factory; it keeps the
// spacing from the previous schedule's last attempt rather than the socket's open time.
// Attempts are spaced from start to start, so 999 failures take about 83 minutes.
TEST(PortMappingSchedule, ScheduleMadeAgainKeepsFiveSecondsFromThePreviousAttempt)
{
    auto script = std::make_shared<gateway_script>();
    manual_clock clock{opened_at};
    script->time = &clock;
    script->add_default = -718;
    recording_observer observer;
    const port_mapper_factory factory = make_port_mapper_factory(test::scripted_finder(script));

    auto first = factory(local_ip, listen_port, opened_at, {observer, {}});
    clock.advance(5001);
    const tick_t started_at = clock.now();
    first->retry_step(started_at);
    ASSERT_TRUE(static_cast<PortMappingSchedule&>(*first).wait_attempt(10000));
    clock.advance(pass_ms);
    first->retry_step(clock.now()); // outcome: one failure
    first.reset();

    auto second = factory(local_ip, listen_port, opened_at, {observer, {}});
    auto& schedule = static_cast<PortMappingSchedule&>(*second);
    for (tick_t t = started_at; t <= started_at + 5000; t += pass_ms)
        second->retry_step(t);
    EXPECT_EQ(script->add_count(), 1);
    second->retry_step(started_at + 5001);
    ASSERT_TRUE(schedule.wait_attempt(10000));
    EXPECT_EQ(script->add_count(), 2);
}

} // namespace
} // namespace torrent
