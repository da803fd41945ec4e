#include "app/start_options.h"

#include <set>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

random_source fixed(std::uint32_t value)
{
    return [value]
    {
        return value;
    };
}

TEST(StartOptions, TaskLimitFallsBackToTenOutsideItsRange)
{
    EXPECT_EQ(read_max_tasks(command_line("")), 10);
    EXPECT_EQ(read_max_tasks(command_line("-tc1")), 1);
    EXPECT_EQ(read_max_tasks(command_line("-tc10")), 10);
    EXPECT_EQ(read_max_tasks(command_line("-tc0")), 10);
    EXPECT_EQ(read_max_tasks(command_line("-tc11")), 10);
    EXPECT_EQ(read_max_tasks(command_line("-tc-3")), 10);
    EXPECT_EQ(read_max_tasks(command_line("-tc 8")), 10); // blank before the number
    EXPECT_EQ(read_max_tasks(command_line("-TC8")), 8);
}

TEST(StartOptions, ConnectionLimitFallsBackTo64OutsideItsRange)
{
    EXPECT_EQ(read_max_connections(command_line("")), 64);
    EXPECT_EQ(read_max_connections(command_line("-pc4")), 64);
    EXPECT_EQ(read_max_connections(command_line("-pc5")), 5);
    EXPECT_EQ(read_max_connections(command_line("-pc255")), 255);
    EXPECT_EQ(read_max_connections(command_line("-pc256")), 64);
    EXPECT_EQ(read_max_connections(command_line("-PC35")), 35);
}

TEST(StartOptions, ConnectQuotaIsTwoThirdsOfTheConnectionLimit)
{
    const start_options opts = read_start_options(command_line("-TC8 -PC35"), fixed(0));
    EXPECT_EQ(opts.max_tasks, 8);
    EXPECT_EQ(opts.max_connections, 35);
    EXPECT_EQ(opts.connect_quota, 23);
    EXPECT_EQ(read_start_options(command_line(""), fixed(0)).connect_quota, 42);
}

TEST(StartOptions, PortIsTakenAsGivenOrDrawnIn5000To64999)
{
    EXPECT_EQ(read_listen_port(command_line("-port6881"), fixed(0)), 6881);
    EXPECT_EQ(read_listen_port(command_line("-port65535"), fixed(0)), 65535);
    EXPECT_EQ(read_listen_port(command_line("-port1"), fixed(0)), 1);
    // Absent, 0, or no possible port: random.
    EXPECT_EQ(read_listen_port(command_line(""), fixed(123456)), 123456 % 60000 + 5000);
    EXPECT_EQ(read_listen_port(command_line("-port0"), fixed(0)), 5000);
    EXPECT_EQ(read_listen_port(command_line("-port70000"), fixed(59999)), 64999);
    EXPECT_EQ(read_listen_port(command_line("-port-1"), fixed(60000)), 5000);
    EXPECT_EQ(read_listen_port(command_line("-port 6881"), fixed(1)), 5001);
    EXPECT_EQ(read_listen_port(command_line(""), fixed(UINT32_MAX)), UINT32_MAX % 60000 + 5000);
}

TEST(StartOptions, SystemRandomPortsDifferBetweenStarts)
{
    std::set<std::uint16_t> ports;
    for (int i = 0; i < 8; ++i)
    {
        const std::uint16_t port = read_listen_port(command_line(""), system_random_source());
        EXPECT_GE(port, 5000);
        EXPECT_LE(port, 64999);
        ports.insert(port);
    }
    EXPECT_GT(ports.size(), 1U);
}

TEST(StartOptions, OnlyPathsAndSetLinesGoToARunningCopy)
{
    EXPECT_FALSE(hands_over_to_running_copy(command_line("")));
    EXPECT_FALSE(hands_over_to_running_copy(command_line("   ")));
    EXPECT_FALSE(hands_over_to_running_copy(command_line("-tc5")));
    EXPECT_TRUE(hands_over_to_running_copy(command_line("/home/me/A.torrent")));
    EXPECT_TRUE(hands_over_to_running_copy(command_line("\"/home/me/a b.torrent\"")));
    EXPECT_TRUE(hands_over_to_running_copy(command_line("-us20 -set")));
    EXPECT_TRUE(hands_over_to_running_copy(command_line("-us20 -SET")));
}

} // namespace
} // namespace torrent
