#include "net/event_loop.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net_test_util.h"

namespace torrent
{
namespace
{

using test::recording_handler;

class EventLoop : public ::testing::Test
{
protected:
    manual_clock m_clock;
    event_loop m_loop{m_clock, event_loop::options{.periodic_tick = false}};
};

TEST_F(EventLoop, TimerKeysAscendAndRestartAfterTheMapEmpties)
{
    recording_handler a(m_loop), b(m_loop), c(m_loop);
    ASSERT_TRUE(a.start_timer());
    ASSERT_TRUE(b.start_timer());
    EXPECT_EQ(a.timer_key(), 1u);
    EXPECT_EQ(b.timer_key(), 2u);
    EXPECT_TRUE(a.start_timer()); // already holds a key: kept
    EXPECT_EQ(a.timer_key(), 1u);

    EXPECT_TRUE(b.stop_timer());
    EXPECT_FALSE(b.stop_timer()); // nothing held any more
    ASSERT_TRUE(c.start_timer());
    EXPECT_EQ(c.timer_key(), 3u); // the withdrawn entry still counts until a walk
    EXPECT_TRUE(a.stop_timer());
    EXPECT_TRUE(c.stop_timer());
    m_loop.tick();
    EXPECT_EQ(m_loop.timer_count(), 0u);
    ASSERT_TRUE(b.start_timer());
    EXPECT_EQ(b.timer_key(), 1u);
    EXPECT_EQ(m_loop.timer_withdraw(42), 0u); // unknown key
}

TEST_F(EventLoop, TickWalksInKeyOrderAndSkipsWithdrawnHandlers)
{
    std::vector<int> order;
    recording_handler a(m_loop), b(m_loop), c(m_loop);
    a.tick_action = [&]
    {
        order.push_back(1);
        c.stop_timer(); // withdrawn before its turn: not ticked in this walk
        a.stop_timer(); // withdraws itself during its own tick
    };
    b.tick_action = [&]
    {
        order.push_back(2);
    };
    c.tick_action = [&]
    {
        order.push_back(3);
    };
    ASSERT_TRUE(a.start_timer() && b.start_timer() && c.start_timer());

    m_loop.tick();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(m_loop.timer_count(), 2u); // a nulled before the walk passed it, c erased on the walk
    m_loop.tick();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(m_loop.timer_count(), 1u);
    EXPECT_EQ(a.ticks, 1);
    EXPECT_EQ(c.ticks, 0);
}

TEST_F(EventLoop, TickIgnoresReentryAndHandlersMayRegisterDuringIt)
{
    recording_handler a(m_loop), late(m_loop);
    a.tick_action = [&]
    {
        m_loop.tick(); // re-entered: ignored
        late.start_timer();
    };
    ASSERT_TRUE(a.start_timer());
    m_loop.tick();
    EXPECT_EQ(a.ticks, 1);
    EXPECT_EQ(late.timer_key(), 2u);
    m_loop.tick();
    EXPECT_EQ(late.ticks, 1); // registered behind the walk's cursor: ticked from the next walk
}

TEST(EventLoopTick, RunsOnlyWhileASocketOrATimerIsRegistered)
{
    manual_clock clock;
    event_loop loop(clock);
    ASSERT_TRUE(loop.valid());
    loop.bind_to_current_thread();
    loop.run_once(0);
    EXPECT_FALSE(loop.tick_armed()); // nothing to tick: the thread sleeps until a request

    recording_handler timer(loop);
    ASSERT_TRUE(timer.start_timer());
    loop.run_once(0);
    EXPECT_TRUE(loop.tick_armed());
    ASSERT_TRUE(timer.stop_timer());
    loop.tick(); // the withdrawn entry goes with the next walk
    loop.run_once(0);
    EXPECT_FALSE(loop.tick_armed());

    recording_handler peer(loop);
    auto [ours, theirs] = test::socket_pair();
    peer.attach(std::move(ours), net_event_read | net_event_close);
    loop.run_once(0);
    EXPECT_TRUE(loop.tick_armed());
    peer.socket()->request_close(false);
    loop.run_once(0);
    EXPECT_FALSE(loop.tick_armed());

    event_loop manual(clock, event_loop::options{.periodic_tick = false});
    manual.bind_to_current_thread();
    recording_handler held(manual);
    ASSERT_TRUE(held.start_timer());
    manual.run_once(0);
    EXPECT_FALSE(manual.tick_armed()); // tests drive tick() themselves
}

TEST_F(EventLoop, DrainAnswersWhetherSocketsRemainAndClearsTicks)
{
    EXPECT_EQ(m_loop.drain(), 0); // nothing registered: shutdown need not wait

    recording_handler a(m_loop);
    auto [ours, theirs] = test::socket_pair();
    a.attach(std::move(ours), net_event_read | net_event_close);
    ASSERT_TRUE(a.start_timer());
    EXPECT_EQ(m_loop.drain(), 1);
    EXPECT_EQ(m_loop.timer_count(), 0u);
    m_loop.tick();
    EXPECT_EQ(a.ticks, 0);

    a.socket()->request_close(false);
    EXPECT_EQ(m_loop.drain(), 0);
}

TEST_F(EventLoop, DrainDuringTickKeepsTheWalkValid)
{
    recording_handler a(m_loop), b(m_loop);
    a.tick_action = [&]
    {
        m_loop.drain();
    };
    ASSERT_TRUE(a.start_timer() && b.start_timer());
    m_loop.tick();
    EXPECT_EQ(b.ticks, 0);
    m_loop.tick();
    EXPECT_EQ(m_loop.timer_count(), 0u);
}

TEST_F(EventLoop, AReusedFdNumberReplacesAStaleSocketEntry)
{
    // A socket closed without being unregistered leaves its entry behind; once the number
    // names a new socket, the new registration must win or the new socket is never heard.
    recording_handler old_owner(m_loop), new_owner(m_loop);
    AsyncSocket stale(m_loop, &old_owner);
    AsyncSocket fresh(m_loop, &new_owner);
    EXPECT_EQ(m_loop.socket_add(40, &stale), 1);
    EXPECT_EQ(m_loop.socket_add(40, &fresh), 1);
    EXPECT_EQ(m_loop.find_socket(40), &fresh);
    EXPECT_EQ(m_loop.socket_count(), 1u);
    m_loop.socket_event(40, net_event_read, 0);
    EXPECT_EQ(new_owner.readable, 1);
    EXPECT_EQ(old_owner.readable, 0);
    EXPECT_EQ(m_loop.socket_remove(40), 1);
    EXPECT_EQ(m_loop.socket_count(), 0u);
}

TEST_F(EventLoop, RequestsFromAnotherThreadRunOnTheLoopThread)
{
    std::atomic<bool> ran_here{false};
    std::atomic<int> answer{0};
    std::jthread caller(
        [&]
        {
            answer = m_loop.call(
                [&]
                {
                    ran_here = m_loop.in_loop_thread();
                    return 5;
                });
        });
    ASSERT_TRUE(test::run_until(
        m_loop, [&] { return answer.load() != 0; }, 500, 10));
    EXPECT_EQ(answer.load(), 5);
    EXPECT_TRUE(ran_here.load());
}

TEST_F(EventLoop, RequestsAfterStopAreRefusedAtOnce)
{
    m_loop.stop();
    EXPECT_EQ(m_loop.call([] { return 9; }), 0); // even on the loop's own thread
    std::jthread other([&] { EXPECT_EQ(m_loop.drain(), 0); });
    other.join();

    const int before = test::count_open_fds();
    recording_handler h(m_loop);
    auto [ours, theirs] = test::socket_pair();
    EXPECT_EQ(m_loop.attach(h, std::move(ours), net_event_read), 0);
    EXPECT_EQ(h.socket(), nullptr);
    EXPECT_EQ(test::count_open_fds(), before + 1); // the refused socket was closed
}

TEST_F(EventLoop, NowComesFromTheGivenClock)
{
    const tick_t start = m_loop.now();
    m_clock.advance(50);
    EXPECT_EQ(m_loop.now(), start + 50);
}

} // namespace
} // namespace torrent
