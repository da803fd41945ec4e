#include <memory>
#include <string>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "base/tick.h"
#include "net/connection_poller.h"
#include "net/handshake_dispatcher.h"
#include "net/peer_listener.h"
#include "poller_test_util.h"
#include "support/process_env.h"

namespace torrent
{
namespace
{

using test::loopback_ip;
using test::pump;
using namespace std::string_literals;

// A listener on 127.0.0.1 in a poller driven pass by pass from the test.
class IncomingSockets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto listener = std::make_unique<PeerListener>(m_observer, m_limit);
        ASSERT_TRUE(listener->open(m_port, m_clock.now(), loopback_ip));
        listener->set_targets(m_poller.get(), &m_dispatcher);
        m_listener = listener.get();
        m_poller->add(std::move(listener), false);
        m_poller->service_pass();
    }

    void TearDown() override
    {
        m_poller.reset();
        if (m_recognizer != nullptr)
            m_recognizer->taken.clear();
        EXPECT_EQ(test::count_open_fds(), m_fds_before);
    }

    test::prefix_recognizer& use_prefix_recognizer()
    {
        auto r = std::make_unique<test::prefix_recognizer>();
        m_recognizer = r.get();
        m_dispatcher.add(std::move(r));
        return *m_recognizer;
    }

    [[nodiscard]] std::size_t incoming() const { return m_poller->active_count() - 1; }

    // Connects a client and runs passes until the poller holds its socket.
    unique_fd accepted_client()
    {
        unique_fd client = test::connect_loopback(m_port);
        const std::uint64_t want = m_listener->accepted_count() + 1;
        EXPECT_TRUE(pump(*m_poller, [&] { return m_listener->accepted_count() == want; }));
        m_poller->service_pass(); // the accepted socket joins the active list
        return client;
    }

    void passes(int n)
    {
        for (int i = 0; i < n; ++i)
            m_poller->run_once(5);
    }

    const int m_fds_before = test::count_open_fds();
    manual_clock m_clock;
    test::recording_observer m_observer;
    pending_connect_limit m_limit;
    HandshakeDispatcher m_dispatcher;
    test::prefix_recognizer* m_recognizer = nullptr;
    std::unique_ptr<ConnectionPoller> m_poller =
        std::make_unique<ConnectionPoller>(m_clock, nullptr, loopback_ip);
    PeerListener* m_listener = nullptr;
    std::uint16_t m_port = 0;
};

TEST_F(IncomingSockets, SplitHandshakeIsTakenOpenWithTheBytesThatFollowedIt)
{
    auto& recognizer = use_prefix_recognizer();
    const unique_fd client = accepted_client();
    ASSERT_EQ(incoming(), 1U);
    const std::string hs = test::handshake_bytes();
    const std::string after = std::string("\0\0\0\x02\x05\xFF", 6) + "\0\0\0\x01\x02"s;

    ASSERT_TRUE(test::send_all(client.get(), hs.substr(0, 30)));
    passes(5);
    EXPECT_EQ(incoming(), 1U);
    EXPECT_TRUE(recognizer.taken.empty());

    ASSERT_TRUE(test::send_all(client.get(), hs.substr(30) + after));
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    ASSERT_EQ(recognizer.taken.size(), 1U);
    const ConnectionRecord& record = recognizer.records.at(0);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(record.carried.data()), record.carried.size()), after);
    EXPECT_EQ(record.endpoint.ip, loopback_ip);
    EXPECT_EQ(record.endpoint.port, test::local_port_of(client.get()));
    EXPECT_EQ(record.live, 1);

    // Removal left the socket open: both directions still work.
    EXPECT_FALSE(test::peer_closed(client.get(), 50));
    ASSERT_TRUE(test::send_all(recognizer.taken[0].get(), "pong"));
    char buf[4] = {};
    EXPECT_EQ(::recv(client.get(), buf, sizeof(buf), MSG_WAITALL), 4);
}

TEST_F(IncomingSockets, HandshakeFollowedByMoreThan512BytesIsTakenWithAllOfThem)
{
    // A peer may send its bitfield right behind its handshake; both arrive in one read.
    auto& recognizer = use_prefix_recognizer();
    const unique_fd client = accepted_client();
    const std::string bitfield = std::string("\0\0\x0B\xB9\x05", 5) + std::string(3000, '\xFF');
    ASSERT_TRUE(test::send_all(client.get(), test::handshake_bytes() + bitfield));
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    ASSERT_EQ(recognizer.taken.size(), 1U);
    const ConnectionRecord& record = recognizer.records.at(0);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(record.carried.data()), record.carried.size()), bitfield);
}

TEST_F(IncomingSockets, NonHandshakeBytesAreClosedOnThePassThatReadsThem)
{
    auto& recognizer = use_prefix_recognizer();
    const unique_fd client = accepted_client();
    ASSERT_TRUE(test::send_all(client.get(), std::string(600, 'x')));
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    EXPECT_TRUE(test::peer_closed(client.get()));
    EXPECT_TRUE(recognizer.taken.empty());

    // A 68-byte block with the wrong length byte is no handshake either.
    const unique_fd second = accepted_client();
    std::string bad = test::handshake_bytes();
    bad[0] = 18;
    ASSERT_TRUE(test::send_all(second.get(), bad));
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    EXPECT_TRUE(test::peer_closed(second.get()));
}

TEST_F(IncomingSockets, GuardAllowsAtMost512UnidentifiedBytes)
{
    m_dispatcher.add(std::make_unique<test::patient_recognizer>());
    const unique_fd client = accepted_client();
    ASSERT_TRUE(test::send_all(client.get(), std::string(512, 'x')));
    passes(10);
    EXPECT_EQ(incoming(), 1U);
    ASSERT_TRUE(test::send_all(client.get(), "y"));
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    EXPECT_TRUE(test::peer_closed(client.get()));
}

TEST_F(IncomingSockets, SilentSocketIsClosedAfterSixtySeconds)
{
    use_prefix_recognizer();
    const unique_fd client = accepted_client();
    passes(3);
    m_clock.advance(HandshakeGuard::max_unidentified_ms);
    passes(1);
    EXPECT_EQ(incoming(), 1U);
    m_clock.advance(1);
    m_poller->service_pass();
    EXPECT_EQ(incoming(), 0U);
    EXPECT_TRUE(test::peer_closed(client.get()));
}

TEST_F(IncomingSockets, PeerThatClosesOrResetsAtOnceIsRemoved)
{
    auto& recognizer = use_prefix_recognizer();
    {
        unique_fd client = test::connect_loopback(m_port);
        client.reset();
    }
    {
        unique_fd client = test::connect_loopback(m_port);
        const linger hard{1, 0}; // close with a reset
        ASSERT_EQ(::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard)), 0);
        client.reset();
    }
    ASSERT_TRUE(pump(*m_poller, [&] { return m_listener->accepted_count() == 2 && incoming() == 0; }));
    EXPECT_TRUE(recognizer.taken.empty());
}

TEST_F(IncomingSockets, WithoutARecognizerOnlyTheGuardAnswersAndTheSocketIsClosed)
{
    const unique_fd client = accepted_client();
    ASSERT_TRUE(pump(*m_poller, [&] { return incoming() == 0; }));
    EXPECT_TRUE(test::peer_closed(client.get()));
}

} // namespace
} // namespace torrent
