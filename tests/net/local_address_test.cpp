#include "net/local_address.h"

#include <arpa/inet.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/process_env.h"

namespace torrent
{
namespace
{

TEST(LocalAddress, RouteQueryFindsLoopbackSource)
{
    EXPECT_EQ(route_source_address("127.0.0.1"), 0x7F000001u);
    const test::scoped_env probe(probe_address_variable, "127.0.0.1");
    EXPECT_EQ(route_source_address(), 0x7F000001u); // the default destination is replaced
}

TEST(LocalAddress, NoRouteYieldsZero)
{
    // A fresh network namespace has no interface up, so no destination has a route.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(77);
        ::_exit(route_source_address("127.0.0.1") == 0 && route_source_address("8.8.8.8") == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no permission to make a network namespace";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LocalAddress, ResolvesDottedTextInNetworkOrder)
{
    EXPECT_EQ(resolve_ipv4("10.0.0.5"), htonl(0x0A000005));
    EXPECT_EQ(resolve_ipv4("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(resolve_ipv4(""), 0u);
    EXPECT_EQ(parse_ipv4("192.168.1.5"), 0xC0A80105u);
    EXPECT_EQ(parse_ipv4("192.168.1"), 0u);
    EXPECT_EQ(parse_ipv4("not an address"), 0u);
    EXPECT_EQ(ipv4_text(0xC0A80105), "192.168.1.5");
    EXPECT_EQ(ipv4_text(0), "0.0.0.0");
}

TEST(ExternalAddress, StartsLocalThenTakesTheRoutersAddress)
{
    external_address external;
    external.set_external(45790, "192.168.1.5");
    EXPECT_EQ(external.ip(), 0xC0A80105u);
    EXPECT_EQ(external.port(), 45790);
    EXPECT_EQ(external.text(), "192.168.1.5");

    external.set_external(6881, "203.0.113.7");
    const auto now = external.get();
    EXPECT_EQ(now.ip, 0xCB007107u);
    EXPECT_EQ(now.port, 6881);
    EXPECT_EQ(now.text, "203.0.113.7");

    external.set_external(1, "garbage"); // text kept as given, address unknown
    EXPECT_EQ(external.ip(), 0u);
    EXPECT_EQ(external.text(), "garbage");
}

TEST(ExternalAddress, ReadersNeverSeeAHalfWrittenRecord)
{
    external_address external;
    external.set_external(1, "10.0.0.1");
    std::jthread writer(
        [&external]
        {
            for (int i = 0; i < 2000; ++i)
                external.set_external(i % 2 == 0 ? 2 : 1, i % 2 == 0 ? "10.0.0.2" : "10.0.0.1");
        });
    for (int i = 0; i < 2000; ++i)
    {
        const auto v = external.get();
        ASSERT_EQ(v.ip, 0x0A000000u + v.port);
        ASSERT_EQ(v.text, v.port == 2 ? "10.0.0.2" : "10.0.0.1");
    }
}

} // namespace
} // namespace torrent
