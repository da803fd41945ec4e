// The miniupnpc client against a real gateway. These tests need a gateway daemon and
// run only inside the network namespace that tests/upnp/miniupnpd_test.sh makes; the
// script names the gateway through the environment. Elsewhere they are skipped.
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/process_env.h"
#include "upnp/miniupnp_gateway.h"
#include "upnp/port_mapping_schedule.h"
#include "upnp/scripted_gateway.h"
#include "upnp/start_port_mapping.h"

namespace torrent
{
namespace
{

using test::count_open_fds;
using test::count_threads;
using test::count_threads_settled;
using test::recording_observer;
using test::scoped_env;

constexpr std::uint16_t allowed_port = 45790; // inside the gateway's allow rule
constexpr std::uint16_t refused_port = 30000; // outside it

std::string env_or_empty(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

struct real_gateway
{
    std::string url = env_or_empty("ZORVIK_TEST_GATEWAY_URL");
    std::string local = env_or_empty("ZORVIK_TEST_LOCAL_IP");
    std::string external = env_or_empty("ZORVIK_TEST_EXTERNAL_IP");

    [[nodiscard]] std::uint32_t local_ip() const
    {
        in_addr a{};
        inet_pton(AF_INET, local.c_str(), &a);
        return ntohl(a.s_addr);
    }

    // What the gateway holds for `port` right now (a fresh client, as another program would see it).
    int lookup(std::uint16_t port, mapping_entry& entry) const
    {
        scoped_env direct("ZORVIK_IGD_URL", url);
        int found = 0;
        auto gateway = find_miniupnp_gateway(local, -1, found);
        if (!gateway)
            return found;
        return gateway->get_port_mapping(port, "TCP", entry);
    }
};

#define REQUIRE_REAL_GATEWAY(g)                                                                              \
    if ((g).url.empty())                                                                                     \
    GTEST_SKIP() << "needs the gateway of tests/upnp/miniupnpd_test.sh"

// Drives a schedule with a manual clock until it is done or `passes` have run.
void drive(port_mapper& mapper, manual_clock& clock, int passes)
{
    auto& schedule = static_cast<PortMappingSchedule&>(mapper);
    for (int i = 0; i < passes && !mapper.finished(); ++i)
    {
        clock.advance(5001);
        mapper.retry_step(clock.now());
        ASSERT_TRUE(schedule.wait_attempt(30000));
        clock.advance(50);
        mapper.retry_step(clock.now());
    }
}

void map_announce_and_delete(const real_gateway& g, std::uint16_t port)
{
    const int fds = count_open_fds();
    const int threads = count_threads();
    manual_clock clock;
    recording_observer observer;
    std::string announced_address;
    std::uint16_t announced_port = 0;
    auto mapper = make_port_mapper_factory()(
        g.local_ip(),
        port,
        clock.now(),
        {observer,
         [&](std::uint16_t p, const std::string& a)
         {
             announced_port = p;
             announced_address = a;
         }});
    drive(*mapper, clock, 3);
    ASSERT_TRUE(mapper->established());
    EXPECT_EQ(announced_port, port);
    EXPECT_EQ(announced_address, g.external);
    ASSERT_FALSE(observer.lines().empty());
    EXPECT_EQ(observer.lines().back(), "status created " + g.external + " " + std::to_string(port));

    mapping_entry entry;
    ASSERT_EQ(g.lookup(port, entry), upnp_ok);
    EXPECT_EQ(entry.internal_client, g.local);
    EXPECT_EQ(entry.internal_port, port);
    EXPECT_EQ(entry.description, "Zorvik");

    mapper.reset();
    EXPECT_EQ(g.lookup(port, entry), -714) << "NoSuchEntryInArray: deleted at destruction";
    EXPECT_EQ(count_open_fds(), fds);
    EXPECT_EQ(count_threads_settled(threads), threads);
}

TEST(RealGateway, MapsThePortAnnouncesTheExternalAddressAndDeletesItAtTheEnd)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    scoped_env direct("ZORVIK_IGD_URL", g.url);
    map_announce_and_delete(g, allowed_port);
}

TEST(RealGateway, FindsTheGatewayBySsdpDiscovery)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    if (env_or_empty("ZORVIK_TEST_SSDP") != "1")
        GTEST_SKIP() << "discovery runs only inside the test's own namespace";
    scoped_env no_shortcut("ZORVIK_IGD_URL", std::nullopt);
    map_announce_and_delete(g, allowed_port + 1);
}

TEST(RealGateway, RefusedMappingIsTried999TimesThenGivenUp)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    scoped_env direct("ZORVIK_IGD_URL", g.url);
    const int fds = count_open_fds();
    const int threads = count_threads();
    manual_clock clock;
    recording_observer observer;
    bool announced = false;
    auto mapper = make_port_mapper_factory()(
        g.local_ip(),
        refused_port,
        clock.now(),
        {observer,
         [&](std::uint16_t, const std::string&)
         {
             announced = true;
         }});
    const auto started = std::chrono::steady_clock::now();
    drive(*mapper, clock, 1100);
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf(
        "999 refused attempts against the gateway took %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_TRUE(mapper->finished());
    EXPECT_FALSE(mapper->established());
    EXPECT_EQ(static_cast<PortMappingSchedule&>(*mapper).attempt_count(), 999);
    EXPECT_FALSE(announced);
    const std::vector<std::string> expected = {"established 0", "beep", "wanted 0", "status failed"};
    EXPECT_EQ(observer.lines(), expected);
    mapping_entry entry;
    EXPECT_NE(g.lookup(refused_port, entry), upnp_ok);
    mapper.reset();
    EXPECT_EQ(count_open_fds(), fds);
    EXPECT_EQ(count_threads_settled(threads), threads);
}

// A gateway behind another router calls itself not connected; it is asked all the same
// (this daemon then refuses, as it cannot forward from a private outside address).
TEST(RealGateway, GatewayWithPrivateOutsideAddressIsStillAsked)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    if (env_or_empty("ZORVIK_TEST_PRIVATE_OUTSIDE") != "1")
        GTEST_SKIP() << "needs a gateway whose outside address is private";
    scoped_env no_shortcut("ZORVIK_IGD_URL", std::nullopt);
    PortMapping mapping(g.local_ip(), allowed_port, find_miniupnp_gateway);
    const int rc = mapping.try_add();
    EXPECT_NE(rc, upnp_no_gateway) << "discovered, and asked to add the mapping";
    if (rc == upnp_ok)
    {
        EXPECT_EQ(mapping.remove(), upnp_ok);
    }
}

// A schedule dropped while it searches (a peer came in first, or shutdown) ends the
// search at once instead of holding the poller thread for the 2 s answer window.
TEST(RealGateway, DroppedDuringDiscoveryEndsTheSearchAtOnce)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    if (env_or_empty("ZORVIK_TEST_SSDP") != "1")
        GTEST_SKIP() << "discovery runs only inside the test's own namespace";
    scoped_env no_shortcut("ZORVIK_IGD_URL", std::nullopt);
    const int threads = count_threads();
    manual_clock clock;
    recording_observer observer;
    // Searching on loopback, where no gateway listens: the search runs its full window.
    auto mapper = make_port_mapper_factory()(0x7F000001, allowed_port, clock.now(), {observer, {}});
    clock.advance(5001);
    mapper->retry_step(clock.now());
    EXPECT_FALSE(static_cast<PortMappingSchedule&>(*mapper).wait_attempt(200)) << "still searching";
    const auto started = std::chrono::steady_clock::now();
    mapper.reset();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    std::printf("dropping the schedule during discovery took %lld ms\n", static_cast<long long>(took));
    EXPECT_LT(took, 1000);
    EXPECT_TRUE(observer.lines().empty());
    EXPECT_EQ(count_threads_settled(threads), threads);
}

TEST(RealGateway, NoGatewayAtTheUrlIsAFailedAttempt)
{
    const real_gateway g;
    REQUIRE_REAL_GATEWAY(g);
    // A port on the gateway's address where nothing listens: refused at once.
    scoped_env direct("ZORVIK_IGD_URL", "http://" + g.local + ":1/rootDesc.xml");
    int found = 0;
    EXPECT_EQ(find_miniupnp_gateway(g.local, -1, found), nullptr);
    EXPECT_EQ(found, upnp_no_gateway);
}

} // namespace
} // namespace torrent
