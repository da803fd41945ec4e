#include "net/connection_poller.h"

#include <array>
#include <memory>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "base/tick.h"
#include "net/outgoing_connect.h"
#include "poller_test_util.h"
#include "support/process_env.h"

namespace torrent
{
namespace
{

using test::loopback_ip;
using test::pump;
using test::recording_owner;
using test::scripted_completion;
using test::test_peer;

std::unique_ptr<OutgoingConnect> connect_for(recording_owner& owner, test_peer& peer)
{
    return std::make_unique<OutgoingConnect>(&owner, owner.generation(), &peer);
}

class OutgoingConnects : public ::testing::Test
{
protected:
    const int m_fds_before = test::count_open_fds();
    manual_clock m_clock;
    recording_owner m_owner;
    scripted_completion m_completion;
    std::unique_ptr<ConnectionPoller> m_poller =
        std::make_unique<ConnectionPoller>(m_clock, &m_completion, loopback_ip);

    void queue(test_peer& peer) { ASSERT_TRUE(m_poller->add(connect_for(m_owner, peer), true)); }

    // Runs passes until every queued connect has ended.
    bool settle()
    {
        return pump(
            *m_poller, [this] { return m_poller->active_count() == 0 && m_poller->pending_count() == 0; });
    }
};

TEST_F(OutgoingConnects, AtMostTenInFlightAndTheNewestPendingGoesFirst)
{
    test::hanging_target hang;
    const std::uint16_t refused = test::closed_port();
    std::array<test_peer, 12> peers;
    for (std::size_t i = 0; i < 10; ++i)
        peers[i].aim(i == 9 ? refused : hang.port);
    peers[10].aim(hang.port);
    peers[11].aim(hang.port);
    for (std::size_t i = 0; i < 10; ++i)
        queue(peers[i]);
    EXPECT_EQ(m_poller->pending_count(), 10U);

    m_poller->service_pass();
    EXPECT_EQ(m_poller->connecting_count(), 10);
    EXPECT_EQ(m_poller->pending_count(), 0U);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(peers[i].state.load(), peer_state::connecting);

    queue(peers[10]);
    queue(peers[11]);
    // While ten are in flight the new ones wait.
    ASSERT_TRUE(pump(*m_poller, [&] { return m_owner.failures.size() == 1; }));
    EXPECT_EQ(m_owner.failures_for(peers[9]), 1);
    EXPECT_EQ(peers[10].state.load(), peer_state::queued);
    EXPECT_EQ(peers[11].state.load(), peer_state::queued);

    // One slot is free: the most recently queued connect takes it.
    m_poller->service_pass();
    EXPECT_EQ(peers[11].state.load(), peer_state::connecting);
    EXPECT_EQ(peers[10].state.load(), peer_state::queued);
    EXPECT_EQ(m_poller->pending_count(), 1U);
    EXPECT_EQ(m_poller->connecting_count(), 10);

    // Nothing answers: after 60 s every attempt is given up and reported once.
    m_clock.advance(OutgoingConnect::connect_timeout_ms + 1);
    m_poller->service_pass();
    EXPECT_EQ(m_poller->connecting_count(), 0);
    m_poller->service_pass();
    EXPECT_EQ(peers[10].state.load(), peer_state::connecting);
    m_clock.advance(OutgoingConnect::connect_timeout_ms + 1);
    m_poller->service_pass();
    EXPECT_EQ(m_poller->active_count(), 0U);
    for (const auto& peer : peers)
        EXPECT_EQ(m_owner.failures_for(peer), 1);
    EXPECT_TRUE(m_completion.seen.empty());
    m_poller.reset();
    EXPECT_EQ(test::count_open_fds(), m_fds_before + 2); // the hanging target's two sockets
}

TEST_F(OutgoingConnects, RefusedConnectIsReportedOnceAndNeverCompleted)
{
    test_peer peer(test::closed_port());
    queue(peer);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_owner.failures_for(peer), 1);
    EXPECT_EQ(peer.state.load(), peer_state::gone);
    EXPECT_EQ(m_poller->connecting_count(), 0);
    EXPECT_TRUE(m_completion.seen.empty());
    m_poller.reset();
    EXPECT_EQ(m_owner.failures.size(), 1U);
    EXPECT_EQ(test::count_open_fds(), m_fds_before);
}

TEST_F(OutgoingConnects, ConnectedSocketIsHandedOverOpen)
{
    std::uint16_t port = 0;
    const unique_fd listener = test::listen_loopback(8, port);
    test_peer peer(port);
    const connect_owner* task = nullptr;
    task_generation generation = 0;
    m_completion.answer = [&](ConnectionRecord& record)
    {
        const auto* connect = dynamic_cast<const OutgoingConnect*>(record.owner);
        task = connect != nullptr ? connect->task() : nullptr;
        generation = connect != nullptr ? connect->generation() : 0;
        return completion_result::taken;
    };
    queue(peer);
    ASSERT_TRUE(settle());
    ASSERT_EQ(m_completion.seen.size(), 1U);
    const ConnectionRecord& record = m_completion.seen[0];
    EXPECT_EQ(record.endpoint.result, 0);
    EXPECT_EQ(record.live, 1);
    EXPECT_EQ(task, &m_owner);
    EXPECT_EQ(generation, 7U);
    EXPECT_TRUE(m_owner.failures.empty());
    EXPECT_EQ(m_poller->connecting_count(), 0);

    // The taken socket still works.
    const unique_fd accepted(::accept(listener.get(), nullptr, nullptr));
    ASSERT_TRUE(test::send_all(m_completion.taken.at(0).get(), "ping"));
    char buf[4] = {};
    EXPECT_EQ(::recv(accepted.get(), buf, sizeof(buf), MSG_WAITALL), 4);
}

TEST_F(OutgoingConnects, DeclinedConnectTriesTheAlternateAddressOnceWithAFreshDeadline)
{
    std::uint16_t primary = 0;
    std::uint16_t alternate = 0;
    const unique_fd first = test::listen_loopback(8, primary);
    const unique_fd second = test::listen_loopback(8, alternate);
    test_peer peer(primary);
    peer.endpoint.alt_ip = loopback_ip;
    peer.endpoint.alt_port = alternate;

    std::vector<tick_t> deadlines;
    std::vector<std::uint16_t> remote_ports;
    std::vector<std::size_t> failures_seen;
    m_completion.answer = [&](ConnectionRecord& record)
    {
        deadlines.push_back(dynamic_cast<OutgoingConnect*>(record.owner)->deadline());
        remote_ports.push_back(test::peer_port_of(record.socket.get()));
        failures_seen.push_back(m_owner.failures.size());
        return completion_result::failed;
    };
    const tick_t start = m_clock.now();
    queue(peer);
    m_poller->service_pass(); // admitted: the connect starts now
    m_clock.advance(5000);
    ASSERT_TRUE(settle());

    ASSERT_EQ(remote_ports.size(), 2U); // one try each, no loop
    EXPECT_EQ(remote_ports[0], primary);
    EXPECT_EQ(remote_ports[1], alternate);
    EXPECT_EQ(deadlines[0], start + OutgoingConnect::connect_timeout_ms);
    EXPECT_EQ(deadlines[1], start + 5000 + OutgoingConnect::connect_timeout_ms);
    // The record stayed with the attempt in between: it was not freed before the retry.
    EXPECT_EQ(failures_seen[1], 0U);
    ASSERT_EQ(m_owner.failures_for(peer), 1);
    EXPECT_EQ(m_owner.failed_keys[0], PeerEndpoint::make_address_key(loopback_ip, alternate));
    EXPECT_FALSE(peer.endpoint.use_alternate);
    m_poller.reset();
    m_completion.taken.clear();
}

TEST_F(OutgoingConnects, WithoutAnAlternateADeclinedSocketIsClosedAndReported)
{
    std::uint16_t port = 0;
    const unique_fd listener = test::listen_loopback(8, port);
    test_peer peer(port);
    m_completion.answer = [](ConnectionRecord&)
    {
        return completion_result::refused;
    };
    queue(peer);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_completion.seen.size(), 1U);
    EXPECT_EQ(m_owner.failures_for(peer), 1);
    const unique_fd accepted(::accept(listener.get(), nullptr, nullptr));
    EXPECT_TRUE(test::peer_closed(accepted.get()));
}

TEST_F(OutgoingConnects, ConnectWithoutASocketIsReportedOnTheNextPass)
{
    // Binding to an address this host does not have fails before anything is sent.
    m_poller = std::make_unique<ConnectionPoller>(m_clock, &m_completion, 0xC0000201); // 192.0.2.1
    test_peer peer(test::closed_port());
    queue(peer);
    m_poller->service_pass();
    EXPECT_EQ(m_poller->active_count(), 0U);
    EXPECT_EQ(m_owner.failures_for(peer), 1);
    m_poller.reset();
    EXPECT_EQ(m_owner.failures.size(), 1U);
    EXPECT_EQ(test::count_open_fds(), m_fds_before);
}

TEST_F(OutgoingConnects, UnansweredConnectEndsOnlyAfterSixtySeconds)
{
    test::hanging_target hang;
    test_peer peer(hang.port);
    queue(peer);
    m_poller->run_once(0);
    m_clock.advance(OutgoingConnect::connect_timeout_ms);
    m_poller->run_once(20);
    EXPECT_EQ(m_poller->active_count(), 1U);
    EXPECT_TRUE(m_owner.failures.empty());
    m_clock.advance(1);
    m_poller->run_once(0);
    EXPECT_EQ(m_poller->active_count(), 0U);
    EXPECT_EQ(m_owner.failures_for(peer), 1);
}

TEST_F(OutgoingConnects, DeletingThePollerReportsOpenConnectsAndClosesEverything)
{
    test::hanging_target hang;
    std::array<test_peer, 12> peers;
    for (auto& peer : peers)
    {
        peer.aim(hang.port);
        queue(peer);
    }
    m_poller->service_pass();
    m_poller.reset();
    // The ten in flight had sockets and hear of the failure; the two never started do not.
    EXPECT_EQ(m_owner.failures.size(), 10U);
    EXPECT_EQ(test::count_open_fds(), m_fds_before + 2);
}

TEST(ConnectionPollerThread, StartsOnceWakesAtOnceAndStopsQuickly)
{
    manual_clock clock;
    ConnectionPoller poller(clock, nullptr, 0);
    ASSERT_TRUE(poller.valid());
    EXPECT_TRUE(poller.start());
    EXPECT_FALSE(poller.start());
    const tick_t before = monotonic_ms();
    poller.stop();
    EXPECT_LT(monotonic_ms() - before, 150U);
    EXPECT_FALSE(poller.running());
    poller.stop(); // already stopped: returns at once
    EXPECT_TRUE(poller.start());
    EXPECT_FALSE(poller.add(nullptr, false));
}

} // namespace
} // namespace torrent
