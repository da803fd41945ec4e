#include "net/async_socket.h"

#include <cerrno>
#include <span>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "net_test_util.h"

namespace torrent
{
namespace
{

using test::recording_handler;

constexpr std::uint32_t all_events = net_event_read | net_event_write | net_event_close;

class AsyncSocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto [ours, theirs] = test::socket_pair();
        ASSERT_TRUE(ours.valid() && theirs.valid());
        m_ours_fd = ours.get();
        m_peer = std::move(theirs);
        m_handler.attach(std::move(ours), all_events);
    }

    void peer_send(const std::string& text)
    {
        ASSERT_EQ(
            ::send(m_peer.get(), text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    }

    bool step_until(const std::function<bool()>& done) { return test::run_until(m_loop, done); }

    manual_clock m_clock;
    event_loop m_loop{m_clock, event_loop::options{.periodic_tick = false}};
    recording_handler m_handler{m_loop};
    unique_fd m_peer;
    int m_ours_fd = -1;
};

TEST_F(AsyncSocketTest, TransfersReportPartialCompleteClosedAndBlocked)
{
    char buffer[16] = {};
    std::uint32_t done = 0;
    EXPECT_EQ(m_handler.read_some(buffer, 4, done), io_result::blocked); // nothing there yet

    peer_send("abcdef");
    EXPECT_EQ(m_handler.read_some(buffer, 4, done), io_result::complete);
    EXPECT_EQ(done, 4u);
    done = 0;
    EXPECT_EQ(m_handler.read_some(buffer, 8, done), io_result::partial);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");

    const std::string message = "0123456789";
    done = 3;
    EXPECT_EQ(m_handler.write_some(message.data() + done, 10, done), io_result::complete);
    char got[16] = {};
    EXPECT_EQ(::recv(m_peer.get(), got, sizeof got, 0), 7);
    EXPECT_EQ(std::string(got, 7), "3456789");

    ::shutdown(m_peer.get(), SHUT_WR);
    done = 0;
    EXPECT_EQ(m_handler.read_some(buffer, 8, done), io_result::closed); // orderly end
}

TEST_F(AsyncSocketTest, GatheredTransfersMoveBothBuffersInOrder)
{
    const auto bytes = [](std::string_view text)
    {
        return std::span<const std::byte>(reinterpret_cast<const std::byte*>(text.data()), text.size());
    };
    std::uint32_t moved = 0;
    EXPECT_EQ(m_handler.write_pair(bytes("head:"), bytes("body"), moved), io_result::complete);
    EXPECT_EQ(moved, 9u);
    char got[16] = {};
    EXPECT_EQ(::recv(m_peer.get(), got, sizeof got, 0), 9);
    EXPECT_EQ(std::string(got, 9), "head:body");

    // A read is complete once the first buffer is full; the second takes what else came.
    std::byte first[4] = {};
    std::byte second[8] = {};
    EXPECT_EQ(m_handler.read_pair(first, second, moved), io_result::blocked);
    peer_send("abcdefg");
    EXPECT_EQ(m_handler.read_pair(first, second, moved), io_result::complete);
    EXPECT_EQ(moved, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second), 3), "efg");
    peer_send("xy");
    EXPECT_EQ(m_handler.read_pair(first, second, moved), io_result::partial);
    EXPECT_EQ(moved, 2u);

    // Nothing over max_transfer in all, and a first buffer is needed.
    std::vector<std::byte> big(max_transfer);
    EXPECT_EQ(m_handler.write_pair(big, bytes("x"), moved), io_result::closed);
    EXPECT_EQ(m_handler.read_pair({}, second, moved), io_result::closed);
    EXPECT_EQ(test::drain_fd(m_peer.get()), 0u);

    ::shutdown(m_peer.get(), SHUT_WR);
    EXPECT_EQ(m_handler.read_pair(first, second, moved), io_result::closed);
}

TEST_F(AsyncSocketTest, RefusesOversizedOrFinishedTransfersWithoutTouchingTheSocket)
{
    std::vector<char> big(max_transfer + 1, 'x');
    std::uint32_t done = 0;
    EXPECT_EQ(m_handler.write_some(big.data(), max_transfer + 1, done), io_result::closed);
    EXPECT_EQ(m_handler.read_some(big.data(), max_transfer + 1, done), io_result::closed);
    done = 5;
    EXPECT_EQ(m_handler.write_some(big.data(), 5, done), io_result::closed);
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(test::drain_fd(m_peer.get()), 0u);

    done = 0;
    EXPECT_EQ(m_handler.write_some(big.data(), max_transfer, done), io_result::complete);
    EXPECT_EQ(test::drain_fd(m_peer.get()), max_transfer);
}

TEST_F(AsyncSocketTest, WritableOnceAfterAttachThenOnlyWhileAWriteIsBlocked)
{
    ASSERT_TRUE(step_until([&] { return m_handler.writable == 1; }));
    for (int i = 0; i < 5; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.writable, 1); // no repeat while nothing is blocked

    // Block a write, then let the peer take everything: exactly one more report.
    std::vector<char> chunk(max_transfer, 'y');
    io_result r = io_result::complete;
    while (r != io_result::blocked)
    {
        std::uint32_t done = 0;
        r = m_handler.write_some(chunk.data(), max_transfer, done);
    }
    for (int i = 0; i < 5; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.writable, 1);
    test::drain_fd(m_peer.get());
    ASSERT_TRUE(step_until([&] { return m_handler.writable == 2; }));
    for (int i = 0; i < 5; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.writable, 2);

    m_handler.socket()->want_write(); // re-selecting write asks for one report
    ASSERT_TRUE(step_until([&] { return m_handler.writable == 3; }));
}

TEST_F(AsyncSocketTest, UnreadDataIsReportedOnceUntilTheOwnerReads)
{
    peer_send("hello");
    ASSERT_TRUE(step_until([&] { return m_handler.readable == 1; }));
    for (int i = 0; i < 5; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.readable, 1); // left unread (say, a download limit): no spinning

    char buffer[2];
    std::uint32_t done = 0;
    EXPECT_EQ(m_handler.read_some(buffer, 2, done), io_result::complete); // from a tick, say
    ASSERT_TRUE(step_until([&] { return m_handler.readable == 2; })); // the rest is reported

    m_handler.socket()->drop_read();
    peer_send("more");
    m_handler.read_action = [] {
    };
    for (int i = 0; i < 5; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.readable, 2);
    m_handler.socket()->want_read();
    ASSERT_TRUE(step_until([&] { return m_handler.readable == 3; }));
}

TEST_F(AsyncSocketTest, PeerCloseIsReportedAfterEverythingItSentWasRead)
{
    std::string received;
    m_handler.read_action = [&]
    {
        char buffer[3]; // small reads: several readable reports before the close
        std::uint32_t done = 0;
        if (m_handler.read_some(buffer, sizeof buffer, done) != io_result::closed)
            received.append(buffer, done);
    };
    peer_send("the last words of the peer");
    m_peer.reset();
    ASSERT_TRUE(step_until([&] { return m_handler.closed == 1; }));
    EXPECT_EQ(received, "the last words of the peer");
    EXPECT_EQ(m_handler.close_error, 0);
    EXPECT_EQ(m_loop.socket_count(), 0u);
    EXPECT_FALSE(m_handler.socket()->is_open());
}

TEST_F(AsyncSocketTest, CloseWaitsWhileTheOwnerHoldsBackReading)
{
    bool hold_back = true;
    std::string received;
    m_handler.read_action = [&]
    {
        if (hold_back)
            return;
        char buffer[64];
        std::uint32_t done = 0;
        if (m_handler.read_some(buffer, sizeof buffer, done) != io_result::closed)
            received.append(buffer, done);
    };
    peer_send("kept");
    m_peer.reset();
    for (int i = 0; i < 10; ++i)
        m_loop.run_once(0);
    EXPECT_EQ(m_handler.closed, 0);
    EXPECT_LE(m_handler.readable, 1);
    const auto quiet = m_loop.iterations();
    EXPECT_EQ(m_loop.run_once(0), 0); // parked: nothing reported while held back
    EXPECT_EQ(m_loop.iterations(), quiet + 1);

    hold_back = false;
    char buffer[2];
    std::uint32_t done = 0;
    ASSERT_EQ(m_handler.read_some(buffer, 2, done), io_result::complete);
    received.assign(buffer, 2);
    ASSERT_TRUE(step_until([&] { return m_handler.closed == 1; }));
    EXPECT_EQ(received, "kept");
}

TEST(AsyncSocketTcp, ResetReportsTheSocketError)
{
    manual_clock clock;
    event_loop loop(clock, event_loop::options{.periodic_tick = false});
    recording_handler handler(loop);
    auto [client, server] = test::loopback_tcp_pair();
    ASSERT_TRUE(client.valid() && server.valid());
    handler.attach(std::move(server), all_events);
    const linger abort_close{1, 0};
    ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    client.reset(); // sends a reset
    ASSERT_TRUE(test::run_until(
        loop, [&] { return handler.closed == 1; }, 100, 10));
    EXPECT_EQ(handler.close_error, ECONNRESET);
}

TEST_F(AsyncSocketTest, CloseRequestsNotifyOrNotAsAsked)
{
    EXPECT_EQ(m_handler.socket()->request_close(false), 0);
    EXPECT_EQ(m_handler.closed, 0);
    EXPECT_EQ(m_handler.socket()->request_close(true), 0); // nothing open any more
    EXPECT_EQ(m_handler.closed, 0);

    auto [ours, theirs] = test::socket_pair();
    m_handler.attach(std::move(ours), all_events);
    EXPECT_EQ(m_loop.close(m_handler), 1);
    EXPECT_EQ(m_handler.closed, 1);
    EXPECT_EQ(m_handler.close_error, 0);
    EXPECT_EQ(m_loop.socket_count(), 0u);
}

TEST_F(AsyncSocketTest, EventsForUnregisteredSocketsAreIgnored)
{
    peer_send("x");
    EXPECT_EQ(m_loop.socket_event(m_ours_fd, net_event_read, 0), 1);
    EXPECT_EQ(m_handler.readable, 1);
    EXPECT_EQ(m_loop.socket_event(m_ours_fd, 4, 0), 1); // unknown event: nothing
    m_handler.socket()->request_close(false);
    EXPECT_EQ(m_loop.socket_event(m_ours_fd, net_event_read, 0), 1);
    EXPECT_EQ(m_loop.socket_event(m_ours_fd, net_event_close, 0), 1);
    EXPECT_EQ(m_loop.socket_event(12345, net_event_read, 0), 1);
    EXPECT_EQ(m_handler.readable, 1);
    EXPECT_EQ(m_handler.closed, 0);
}

TEST(AsyncSocketBatch, ReportForASocketClosedEarlierInTheSameBatchIsDropped)
{
    manual_clock clock;
    event_loop loop(clock, event_loop::options{.periodic_tick = false});
    recording_handler one(loop), two(loop), newcomer(loop);
    auto [a, a_peer] = test::socket_pair();
    auto [b, b_peer] = test::socket_pair();
    one.attach(std::move(a), net_event_read | net_event_close);
    two.attach(std::move(b), net_event_read | net_event_close);
    unique_fd newcomer_peer;
    // Whichever is dispatched first closes the other and hands the freed fd number to a
    // new connection at once (the kernel reuses the lowest free number).
    auto close_other = [&](recording_handler& other)
    {
        if (!other.socket()->is_open())
            return;
        const int freed = other.socket()->fd();
        other.socket()->request_close(false);
        auto [c, c_peer] = test::socket_pair();
        EXPECT_EQ(c.get(), freed);
        newcomer_peer = std::move(c_peer);
        newcomer.attach(std::move(c), net_event_read | net_event_close);
    };
    one.read_action = [&]
    {
        close_other(two);
    };
    two.read_action = [&]
    {
        close_other(one);
    };
    ASSERT_EQ(::send(a_peer.get(), "1", 1, 0), 1);
    ASSERT_EQ(::send(b_peer.get(), "2", 1, 0), 1);
    EXPECT_EQ(loop.run_once(0), 2); // both are ready in one batch
    EXPECT_EQ(one.readable + two.readable, 1);
    EXPECT_EQ(newcomer.readable, 0); // the stale report did not reach the reused fd number
}

TEST(AsyncSocketBatch, WritableReportTakenBeforeAWriteBlockedIsNotLost)
{
    manual_clock clock;
    event_loop loop(clock, event_loop::options{.periodic_tick = false});
    recording_handler reader(loop), writer(loop);
    auto [a, a_peer] = test::socket_pair();
    auto [b, b_peer] = test::socket_pair();
    reader.attach(std::move(a), net_event_read | net_event_close);
    writer.attach(std::move(b), all_events);
    ASSERT_TRUE(test::run_until(loop, [&] { return writer.writable == 1; }));
    EXPECT_EQ(loop.run_once(0), 0); // nothing left on the ready list: the order below holds

    // In one batch: the reader's report comes first and fills the writer's socket, then
    // the writer's writable report (taken before the fill) is handled.
    reader.read_action = [&]
    {
        std::vector<char> chunk(max_transfer, 'w');
        io_result r = io_result::complete;
        while (r == io_result::complete)
        {
            std::uint32_t done = 0;
            r = writer.write_some(chunk.data(), max_transfer, done);
        }
    };
    ASSERT_EQ(::send(a_peer.get(), "go", 2, 0), 2);
    writer.socket()->want_write();
    EXPECT_EQ(loop.run_once(0), 2);
    EXPECT_EQ(reader.readable, 1);
    EXPECT_EQ(writer.writable, 1); // the stale report was not delivered...

    test::drain_fd(b_peer.get());
    ASSERT_TRUE(test::run_until(loop, [&] { return writer.writable == 2; })); // ...nor lost
}

TEST(AsyncSocketLife, HandlerDestructionClosesSocketAndWithdrawsTimer)
{
    manual_clock clock;
    const int before = test::count_open_fds();
    {
        event_loop loop(clock, event_loop::options{.periodic_tick = false});
        unique_fd peer;
        {
            recording_handler handler(loop);
            auto [ours, theirs] = test::socket_pair();
            peer = std::move(theirs);
            handler.attach(std::move(ours), all_events);
            ASSERT_TRUE(handler.start_timer());
        }
        EXPECT_EQ(loop.socket_count(), 0u);
        loop.tick(); // the withdrawn entry is erased, nothing dangling is ticked
        EXPECT_EQ(loop.timer_count(), 0u);
        char c = 0;
        EXPECT_EQ(::recv(peer.get(), &c, 1, 0), 0); // our side is really closed
    }
    EXPECT_EQ(test::count_open_fds(), before);
}

} // namespace
} // namespace torrent
