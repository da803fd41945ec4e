#include "net/net_ui_thread.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net_test_util.h"
#include "support/wait_until.h"

namespace torrent
{
namespace
{

using namespace std::chrono_literals;
using test::recording_handler;

TEST(NetUIThread, RunsTheLoopOnItsOwnThreadAndTicksEvery50ms)
{
    NetUIThread thread;
    ASSERT_TRUE(thread.start());
    EXPECT_FALSE(thread.start()); // once only
    event_loop& loop = thread.loop();
    EXPECT_FALSE(loop.in_loop_thread());
    EXPECT_NE(
        loop.call([&] { return loop.in_loop_thread() ? std::this_thread::get_id() : std::thread::id{}; }),
        std::thread::id{});

    // The timer's own period: five ticks come, never faster than one per 50 ms (one tick per
    // reading of the timer, however late the thread reads it).
    recording_handler handler(loop);
    const auto start = std::chrono::steady_clock::now();
    const auto ticks_before = loop.ticks();
    ASSERT_TRUE(loop.call([&] { return handler.start_timer(); }));
    ASSERT_TRUE(test::wait_until([&] { return loop.ticks() - ticks_before >= 5; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4 * 50ms);
    EXPECT_GE(loop.call([&] { return handler.ticks; }), 5);
    loop.call([&] { return handler.stop_timer(); });
}

TEST(NetUIThread, IdleLoopAndBlockedWritesDoNotSpin)
{
    NetUIThread thread;
    ASSERT_TRUE(thread.start());
    event_loop& loop = thread.loop();
    recording_handler handler(loop);
    auto [ours, theirs] = test::socket_pair();
    ASSERT_EQ(loop.attach(handler, std::move(ours), net_event_read | net_event_write | net_event_close), 1);

    // Fill the socket until a write blocks; write interest stays on while it is blocked.
    ASSERT_TRUE(loop.call(
        [&]
        {
            std::vector<char> chunk(max_transfer, 'z');
            for (;;)
            {
                std::uint32_t done = 0;
                const io_result r = handler.write_some(chunk.data(), max_transfer, done);
                if (r == io_result::blocked || r == io_result::partial)
                    return true;
            }
        }));
    // Six ticks pass with nothing to do: the loop wakes for the ticks only, not for the
    // blocked socket (reading the counters does not wake it).
    const auto turns_before = loop.iterations();
    const auto ticks_before = loop.ticks();
    ASSERT_TRUE(test::wait_until([&] { return loop.ticks() - ticks_before >= 6; }));
    const auto ticks = loop.ticks() - ticks_before;
    const auto turns = loop.iterations() - turns_before;
    EXPECT_LE(turns, 2 * ticks) << "the loop woke " << turns << " times in " << ticks << " ticks";

    const int writable_before = loop.call([&] { return handler.writable; });
    test::drain_fd(theirs.get()); // room again: the blocked writer hears about it
    EXPECT_TRUE(
        test::wait_until([&] { return loop.call([&] { return handler.writable; }) > writable_before; }));
    EXPECT_EQ(loop.call([&] { return handler.writable; }), writable_before + 1);
    EXPECT_EQ(loop.close(handler), 1);
}

TEST(NetUIThread, StopWithoutSocketsDoesNotWait)
{
    NetUIThread thread;
    ASSERT_TRUE(thread.start());
    // One drain request answered 0 ends it: no pause, no waiting for the drain limit.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thread.stop(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, NetUIThread::default_drain_limit);
    EXPECT_FALSE(thread.running());
    EXPECT_EQ(thread.loop().drain(), 0); // refused after stop
    EXPECT_EQ(thread.stop(), 0); // a second stop is harmless
}

TEST(NetUIThread, StopWaitsForConnectionsToCloseWithinTheLimit)
{
    NetUIThread thread;
    ASSERT_TRUE(thread.start());
    event_loop& loop = thread.loop();
    recording_handler handler(loop);
    auto [ours, theirs] = test::socket_pair();
    ASSERT_EQ(loop.attach(handler, std::move(ours), net_event_read | net_event_close), 1);
    ASSERT_TRUE(loop.call([&] { return handler.start_timer(); }));

    // The peer goes away only once the first drain request has cleared the tick
    // registration and two more ticks of the loop have passed: the handler hears none of
    // them, and stop ends at the close, well before its limit.
    std::atomic<int> ticks_at_drain{-1};
    std::jthread closer(
        [&]
        {
            EXPECT_TRUE(test::wait_until([&] { return loop.call([&] { return loop.timer_count(); }) == 0; }));
            ticks_at_drain = loop.call([&] { return handler.ticks; });
            const auto loop_ticks = loop.ticks();
            EXPECT_TRUE(test::wait_until([&] { return loop.ticks() >= loop_ticks + 2; }));
            theirs.reset(); // the loop hears the close
        });
    constexpr auto limit = 20000ms;
    const auto asked = std::chrono::steady_clock::now();
    const int requests = thread.stop(limit);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, limit);
    closer.join();
    EXPECT_GE(requests, 2);
    EXPECT_EQ(handler.closed, 1);
    EXPECT_EQ(handler.ticks, ticks_at_drain.load()); // the first drain cleared the registration

    NetUIThread stuck;
    ASSERT_TRUE(stuck.start());
    recording_handler open_forever(stuck.loop());
    auto [s, s_peer] = test::socket_pair();
    ASSERT_EQ(stuck.loop().attach(open_forever, std::move(s), net_event_read), 1);
    const auto start = std::chrono::steady_clock::now();
    stuck.stop(150ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, NetUIThread::default_drain_limit); // the limit given, not the default
}

TEST(NetUIThread, CallsFromSeveralThreadsNeverHangWhileTheLoopStops)
{
    for (int round = 0; round < 20; ++round)
    {
        NetUIThread thread;
        ASSERT_TRUE(thread.start());
        std::atomic<int> answered{0};
        std::vector<std::future<void>> callers;
        for (int t = 0; t < 4; ++t)
        {
            callers.push_back(std::async(
                std::launch::async,
                [&]
                {
                    // Keep asking until refused: every call must come back.
                    while (thread.loop().call([] { return 1; }) == 1)
                        answered.fetch_add(1, std::memory_order_relaxed);
                }));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        thread.stop();
        for (auto& caller : callers)
            ASSERT_EQ(caller.wait_for(5s), std::future_status::ready) << "a request hung after stop";
    }
}

TEST(NetUIThread, LeavesNoDescriptorsBehind)
{
    const int before = test::count_open_fds();
    {
        NetUIThread thread;
        ASSERT_TRUE(thread.start());
        recording_handler handler(thread.loop());
        auto [ours, theirs] = test::socket_pair();
        ASSERT_EQ(thread.loop().attach(handler, std::move(ours), net_event_read | net_event_close), 1);
        EXPECT_EQ(thread.loop().close(handler), 1);
        thread.stop();
    }
    EXPECT_EQ(test::count_open_fds(), before);
}

} // namespace
} // namespace torrent
