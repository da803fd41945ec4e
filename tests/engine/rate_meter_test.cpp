#include "engine/rate_meter.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(RateMeter, NoLimitNeverWaitsAndStillCounts)
{
    RateMeter meter;
    for (tick_t t = 1000; t < 1010; ++t)
    {
        meter.account(1'000'000, t);
        EXPECT_FALSE(meter.over_limit(t));
    }
    EXPECT_EQ(meter.total(), 10'000'000U);
}

TEST(RateMeter, BlockOverTheLimitWaitsUntilTheWindowHasClosed)
{
    RateMeter meter(10000);
    EXPECT_FALSE(meter.over_limit(1000));
    meter.account(16384, 1000); // opens the window 1000..2000
    EXPECT_TRUE(meter.over_limit(1000));
    EXPECT_TRUE(meter.over_limit(2000)); // the window end itself still belongs to it
    EXPECT_FALSE(meter.over_limit(2001));
    meter.account(16384, 2001); // the next block opens a new window
    EXPECT_TRUE(meter.over_limit(2500));
    EXPECT_FALSE(meter.over_limit(3002));
    EXPECT_EQ(meter.total(), 32768U);
}

TEST(RateMeter, ReachingTheLimitExactlyDoesNotWait)
{
    RateMeter meter(10000);
    meter.account(6000, 5000);
    meter.account(4000, 5999);
    EXPECT_FALSE(meter.over_limit(5999));
    meter.account(1, 6000);
    EXPECT_TRUE(meter.over_limit(6000));
    meter.set_limit(0); // lifting the limit frees the transfer at once
    EXPECT_FALSE(meter.over_limit(6000));
}

TEST(RateMeter, LimitSetLaterStartsWithAFreshWindow)
{
    RateMeter meter;
    meter.account(50000, 1000); // unlimited: no window is kept
    meter.set_limit(1000);
    EXPECT_FALSE(meter.over_limit(1001));
    meter.account(500, 1001);
    EXPECT_FALSE(meter.over_limit(1001));
    meter.account(501, 1500);
    EXPECT_TRUE(meter.over_limit(1500));
}

// The window thread reads the totals and changes the limit while the network side counts;
// counting from several threads at once loses nothing.
TEST(RateMeter, TotalsStayExactUnderConcurrentUse)
{
    RateMeter meter(1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&meter, t]
            {
                for (int i = 0; i < 50000; ++i)
                {
                    meter.account(3, static_cast<tick_t>(i));
                    (void)meter.over_limit(static_cast<tick_t>(i));
                    if (t == 0 && i % 1000 == 0)
                        meter.set_limit(static_cast<std::uint32_t>(i % 3) * 1000);
                }
            });
    }
    std::uint64_t last = 0;
    while (last < 600000)
    {
        const std::uint64_t now = meter.total();
        ASSERT_GE(now, last);
        last = now;
        std::this_thread::yield();
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(meter.total(), 600000U);
}

} // namespace
} // namespace torrent
