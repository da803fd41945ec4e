// A handler that throws on the network thread: the fault is counted and that connection
// closed, while the loop, its tick and its requests go on.
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/net_ui_thread.h"
#include "net_test_util.h"

namespace torrent
{
namespace
{

using test::recording_handler;

TEST(NetThreadFaults, AThrowingHandlerLosesItsConnectionAndTheLoopGoesOn)
{
    NetUIThread thread;
    ASSERT_TRUE(thread.start());
    event_loop& loop = thread.loop();
    recording_handler faulty(loop);
    recording_handler ticking(loop);
    recording_handler steady(loop);
    faulty.read_action = []
    {
        throw std::bad_alloc();
    };
    ticking.tick_action = [&]
    {
        if (ticking.ticks == 1)
            throw std::runtime_error("fault in a tick");
    };
    auto [ours, theirs] = test::socket_pair();
    auto [ours2, theirs2] = test::socket_pair();
    ASSERT_EQ(loop.attach(faulty, std::move(ours), net_event_read | net_event_close), 1);
    ASSERT_EQ(loop.attach(ticking, std::move(ours2), net_event_read | net_event_close), 1);
    ASSERT_TRUE(loop.call([&] { return ticking.start_timer() && steady.start_timer(); }));
    ASSERT_EQ(::write(theirs.get(), "x", 1), 1);

    // The faulty connections are closed (their owners told), the others are still ticked
    // and requests are still answered.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((loop.call([&] { return steady.ticks; }) < 4
            || loop.call([&] { return faulty.closed + ticking.closed; }) < 2)
           && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(loop.call([&] { return faulty.closed; }), 1);
    EXPECT_EQ(loop.call([&] { return ticking.closed; }), 1);
    EXPECT_GE(loop.call([&] { return ticking.ticks; }), 2);
    EXPECT_GE(loop.call([&] { return steady.ticks; }), 4);
    EXPECT_EQ(loop.handler_faults(), 2U);
    EXPECT_EQ(thread.failed_steps(), 0U);
    // The peers see the close (a reset where our end left data unread).
    const auto closed = [](const unique_fd& fd)
    {
        char c = 0;
        const ssize_t n = ::recv(fd.get(), &c, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    };
    EXPECT_TRUE(closed(theirs));
    EXPECT_TRUE(closed(theirs2));

    loop.call([&] { return ticking.stop_timer() && steady.stop_timer(); });
    thread.stop();
}

} // namespace
} // namespace torrent
