// The whole road through the network layer: NetworkContext opens the listener, which
// makes the mapping with the factory the application installs and drives it from the
// poller thread; the announced address changes, and shutdown deletes the mapping.
// Needs the gateway of tests/upnp/miniupnpd_test.sh; skipped elsewhere.
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "net/connection_poller.h"
#include "net/network_context.h"
#include "support/process_env.h"
#include "support/wait_until.h"
#include "upnp/miniupnp_gateway.h"
#include "upnp/scripted_gateway.h"
#include "upnp/start_port_mapping.h"

namespace torrent
{
namespace
{

using test::recording_observer;
using test::scoped_env;

std::string env_or_empty(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Wakes the poller thread and waits until it has run two more passes, so every pass that
// the test's clock allows has run at least once from start to end.
bool two_passes(NetworkContext& context)
{
    ConnectionPoller& poller = *context.poller();
    const std::uint64_t from = poller.passes();
    poller.wake();
    if (!test::wait_until([&] { return poller.passes() > from; }))
        return false;
    poller.wake();
    return test::wait_until([&] { return poller.passes() > from + 1; });
}

bool has_line(const recording_observer& observer, const std::string& line)
{
    for (const std::string& l : observer.lines())
    {
        if (l == line)
            return true;
    }
    return false;
}

int gateway_lookup(const std::string& url, const std::string& local, std::uint16_t port)
{
    scoped_env direct("ZORVIK_IGD_URL", url);
    int found = 0;
    auto gateway = find_miniupnp_gateway(local, -1, found);
    if (!gateway)
        return found;
    mapping_entry entry;
    return gateway->get_port_mapping(port, "TCP", entry);
}

struct network_fixture
{
    std::string url = env_or_empty("ZORVIK_TEST_GATEWAY_URL");
    std::string local = env_or_empty("ZORVIK_TEST_LOCAL_IP");
    std::string external = env_or_empty("ZORVIK_TEST_EXTERNAL_IP");
    manual_clock clock;
    recording_observer observer;

    std::unique_ptr<NetworkContext> start(std::uint16_t port)
    {
        network_options options;
        options.wanted_port = port;
        // The gateway runs on this very host and refuses to forward a port that one of its
        // own sockets holds on the outside address, so the listener keeps to the inside one.
        options.listen_address = ntohl(inet_addr(local.c_str()));
        options.upnp_wanted = true;
        options.mapper_factory = make_port_mapper_factory();
        options.observer = &observer;
        options.time = &clock;
        auto context = std::make_unique<NetworkContext>(std::move(options));
        EXPECT_EQ(context->start(), network_start_result::started);
        return context;
    }
};

TEST(RealGatewayNetwork, ListenerMapsItsPortAndTheRoutersAddressIsAnnounced)
{
    network_fixture f;
    if (f.url.empty())
        GTEST_SKIP() << "needs the gateway of tests/upnp/miniupnpd_test.sh";
    // The local address is the one that routes toward the gateway's network.
    scoped_env probe("ZORVIK_PROBE_ADDRESS", f.local);
    scoped_env direct("ZORVIK_IGD_URL", f.url);
    constexpr std::uint16_t port = 45800;

    auto context = f.start(port);
    ASSERT_EQ(context->listen_port(), port);
    EXPECT_EQ(context->external().text(), f.local) << "the local address until the router answers";
    ASSERT_TRUE(two_passes(*context));
    EXPECT_EQ(gateway_lookup(f.url, f.local, port), -714) << "no attempt before 5000 ms";

    f.clock.advance(5001);
    const std::string status = "status created " + f.external + " " + std::to_string(port);
    ASSERT_TRUE(test::wait_until([&] { return has_line(f.observer, status); }, test::patience));
    EXPECT_EQ(context->external().text(), f.external);
    EXPECT_EQ(context->external().port(), port);
    EXPECT_TRUE(has_line(f.observer, "chime"));
    EXPECT_EQ(gateway_lookup(f.url, f.local, port), upnp_ok);

    context->shutdown();
    EXPECT_EQ(gateway_lookup(f.url, f.local, port), -714) << "deleted when the listener goes";
}

TEST(RealGatewayNetwork, PeerArrivingFirstEndsTheMappingWithoutAskingTheRouter)
{
    network_fixture f;
    if (f.url.empty())
        GTEST_SKIP() << "needs the gateway of tests/upnp/miniupnpd_test.sh";
    scoped_env probe("ZORVIK_PROBE_ADDRESS", f.local);
    scoped_env direct("ZORVIK_IGD_URL", f.url);
    constexpr std::uint16_t port = 45801;

    auto context = f.start(port);
    ASSERT_EQ(context->listen_port(), port);
    unique_fd peer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, f.local.c_str(), &to.sin_addr);
    ASSERT_EQ(::connect(peer.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    ASSERT_TRUE(test::wait_until([&] { return has_line(f.observer, "beep"); }, test::patience));

    f.clock.advance(60000);
    ASSERT_TRUE(two_passes(*context));
    EXPECT_EQ(gateway_lookup(f.url, f.local, port), -714);
    for (const std::string& line : f.observer.lines())
        EXPECT_NE(line.rfind("status", 0), 0u) << "no status line: " << line;
    EXPECT_EQ(context->external().text(), f.local);
    context->shutdown();
}

} // namespace
} // namespace torrent
