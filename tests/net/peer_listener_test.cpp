#include "net/peer_listener.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/tick.h"
#include "net/connection_poller.h"
#include "net/handshake_dispatcher.h"
#include "poller_test_util.h"
#include "support/process_env.h"

namespace torrent
{
namespace
{

using test::loopback_ip;
using test::pump;

// Keeps `port` on 127.0.0.1 for the listener under test: a socket bound there with
// SO_REUSEADDR that never listens. Nothing else (a test running beside this one, a
// connect's ephemeral port) can bind the port meanwhile, yet a listener that sets
// SO_REUSEADDR still can. An empty descriptor when the port is taken.
unique_fd reserve_port(std::uint16_t port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(loopback_ip);
    addr.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) // NOLINT
        fd.reset();
    return fd;
}

TEST(PeerListenerOpen, WantedPortTakenBindsTheNextFreeOne)
{
    const int fds_before = test::count_open_fds();
    test::recording_observer observer;
    pending_connect_limit limit;
    // A taken port whose successor is free.
    std::uint16_t taken_port = 0;
    unique_fd holder;
    unique_fd next;
    for (int i = 0; i < 20 && !next; ++i)
    {
        taken_port = 0;
        holder = test::listen_loopback(4, taken_port);
        if (holder && taken_port < 65534)
            next = reserve_port(static_cast<std::uint16_t>(taken_port + 1));
    }
    ASSERT_TRUE(holder && next);

    {
        PeerListener listener(observer, limit);
        std::uint16_t port = taken_port;
        ASSERT_TRUE(listener.open(port, 1000, loopback_ip));
        EXPECT_EQ(port, taken_port + 1);
        EXPECT_EQ(listener.port(), port);
        EXPECT_EQ(listener.opened_at(), 1000U);
        EXPECT_TRUE(test::connect_loopback(port));
    }
    holder.reset();
    next.reset();
    EXPECT_EQ(test::count_open_fds(), fds_before);
}

TEST(PeerListenerOpen, NoPortLeftGives65535AndLeaksNothing)
{
    const int fds_before = test::count_open_fds();
    test::recording_observer observer;
    pending_connect_limit limit;
    PeerListener listener(observer, limit);
    std::uint16_t port = PeerListener::no_port;
    EXPECT_FALSE(listener.open(port, 0, loopback_ip));
    EXPECT_EQ(port, PeerListener::no_port);
    EXPECT_EQ(listener.socket(), -1);
    EXPECT_EQ(test::count_open_fds(), fds_before);
}

// A listener in a poller driven pass by pass; accepted sockets wait for a handshake.
class ListenerQuota : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dispatcher.add(std::make_unique<test::patient_recognizer>());
        auto listener = std::make_unique<PeerListener>(m_observer, m_limit);
        ASSERT_TRUE(listener->open(m_port, m_clock.now(), loopback_ip));
        listener->set_targets(m_poller.get(), &m_dispatcher);
        m_listener = listener.get();
        m_poller->add(std::move(listener), false);
        m_poller->service_pass();
    }

    void accept_peers(int n)
    {
        const std::uint64_t want = m_listener->accepted_count() + static_cast<std::uint64_t>(n);
        for (int i = 0; i < n; ++i)
            m_clients.push_back(test::connect_loopback(m_port));
        ASSERT_TRUE(pump(*m_poller, [&] { return m_listener->accepted_count() == want; }));
    }

    void idle_passes(int n)
    {
        for (int i = 0; i < n; ++i)
        {
            m_clock.advance(50);
            m_poller->service_pass();
        }
    }

    manual_clock m_clock;
    test::recording_observer m_observer;
    pending_connect_limit m_limit;
    HandshakeDispatcher m_dispatcher;
    std::unique_ptr<ConnectionPoller> m_poller =
        std::make_unique<ConnectionPoller>(m_clock, nullptr, loopback_ip);
    PeerListener* m_listener = nullptr;
    std::uint16_t m_port = 0;
    std::vector<unique_fd> m_clients;
    test::stub_mapper::stats m_mapping;
};

TEST_F(ListenerQuota, EighteenAcceptsLowerTheLimitFrom42To6AndMappingAttemptsRaiseItBack)
{
    m_limit.reset(64);
    ASSERT_EQ(m_limit.get(), 42);
    accept_peers(17);
    EXPECT_EQ(m_limit.get(), 8);
    accept_peers(1);
    EXPECT_EQ(m_limit.get(), 6);
    accept_peers(1);
    EXPECT_EQ(m_limit.get(), 6);
    // Without a mapping being attempted, idle passes leave it there.
    idle_passes(5);
    EXPECT_EQ(m_limit.get(), 6);

    m_listener->start_port_mapping(loopback_ip, 0, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    EXPECT_EQ(m_mapping.port, m_port);
    EXPECT_EQ(m_mapping.opened_at, m_listener->opened_at());
    idle_passes(10);
    EXPECT_EQ(m_limit.get(), 16);
    ASSERT_EQ(m_mapping.steps.size(), 10U);
    EXPECT_EQ(m_mapping.steps.back(), m_clock.now());
    idle_passes(40);
    EXPECT_EQ(m_limit.get(), 42); // the ceiling
    EXPECT_EQ(m_mapping.steps.size(), 50U);
    EXPECT_EQ(m_observer.beeps, 0);
}

TEST_F(ListenerQuota, OnlyAMappingAttemptOrAWaitingPeerKeepsThePollerWakingEvery50ms)
{
    // The listener alone waits for connections, however long.
    EXPECT_EQ(m_poller->idle_timeout(), -1);
    m_listener->start_port_mapping(loopback_ip, 0, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    EXPECT_EQ(m_poller->idle_timeout(), ConnectionPoller::wait_ms);
    m_mapping.established = true;
    idle_passes(1);
    EXPECT_EQ(m_poller->idle_timeout(), -1);
    // An accepted peer that has not identified its torrent has a time-out to keep.
    accept_peers(1);
    EXPECT_EQ(m_poller->idle_timeout(), ConnectionPoller::wait_ms);
}

TEST_F(ListenerQuota, FromAnOddStartTheLimitStopsAtFive)
{
    m_limit.reset(11);
    ASSERT_EQ(m_limit.get(), 7);
    accept_peers(3);
    EXPECT_EQ(m_limit.get(), 5);
}

TEST_F(ListenerQuota, APeerArrivingBeforeTheMappingEndsTheMappingForGood)
{
    m_limit.reset(64);
    m_listener->start_port_mapping(loopback_ip, 0, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    ASSERT_TRUE(m_listener->has_port_mapping());
    idle_passes(2);
    accept_peers(1);
    EXPECT_FALSE(m_listener->has_port_mapping());
    EXPECT_EQ(m_mapping.destroyed, 1);
    EXPECT_EQ(m_observer.established_calls, std::vector<bool>{false});
    EXPECT_EQ(m_observer.wanted_calls, std::vector<bool>{false});
    EXPECT_EQ(m_observer.beeps, 1);
    EXPECT_TRUE(m_observer.statuses.empty());
    const std::size_t steps = m_mapping.steps.size();
    const int limit = m_limit.get();
    idle_passes(5);
    EXPECT_EQ(m_mapping.steps.size(), steps);
    EXPECT_EQ(m_limit.get(), limit);
    // Asking again makes a new one (the user turned UPnP back on).
    m_listener->set_mapping_source(loopback_ip, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    m_listener->request_port_mapping();
    idle_passes(1);
    EXPECT_EQ(m_mapping.made, 2);
}

TEST_F(ListenerQuota, AnEstablishedMappingIsNeitherRetriedNorDroppedAndAGivenUpOneGoes)
{
    m_limit.reset(64);
    m_mapping.established = true;
    m_listener->start_port_mapping(loopback_ip, 0, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    m_listener->start_port_mapping(loopback_ip, 0, test::stub_mapper::factory(m_mapping), {m_observer, {}});
    EXPECT_EQ(m_mapping.made, 1); // one exists: nothing more is made
    accept_peers(2);
    idle_passes(3);
    EXPECT_TRUE(m_listener->has_port_mapping());
    EXPECT_TRUE(m_mapping.steps.empty());
    EXPECT_EQ(m_observer.beeps, 0);
    EXPECT_EQ(m_limit.get(), 38);

    m_mapping.established = false;
    m_mapping.finished = true; // gave up
    idle_passes(1);
    EXPECT_FALSE(m_listener->has_port_mapping());
    EXPECT_EQ(m_limit.get(), 38);
}

// Raises the soft descriptor limit for the life of the object.
class fd_limit
{
public:
    explicit fd_limit(rlim_t want)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        rlimit raised = m_old;
        raised.rlim_cur = std::min(want, m_old.rlim_max);
        m_ok = ::setrlimit(RLIMIT_NOFILE, &raised) == 0 && raised.rlim_cur >= want;
    }

    ~fd_limit() { ::setrlimit(RLIMIT_NOFILE, &m_old); }

    fd_limit(const fd_limit&) = delete;
    fd_limit& operator=(const fd_limit&) = delete;

    [[nodiscard]] bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};

TEST(PeerListenerLoad, AThousandPeersAtOnceAreServedAndEveryDescriptorIsReturned)
{
    const fd_limit limit_guard(4096);
    if (!limit_guard.ok())
        GTEST_SKIP() << "cannot raise the descriptor limit";
    const int fds_before = test::count_open_fds();
    constexpr int peers = 1000;
    {
        test::recording_observer observer;
        pending_connect_limit limit;
        HandshakeDispatcher dispatcher;
        auto recognizer = std::make_unique<test::prefix_recognizer>();
        auto* taker = recognizer.get();
        dispatcher.add(std::move(recognizer));
        ConnectionPoller poller(system_clock(), nullptr, loopback_ip);
        auto owned = std::make_unique<PeerListener>(observer, limit);
        std::uint16_t port = 0;
        ASSERT_TRUE(owned->open(port, monotonic_ms(), loopback_ip));
        owned->set_targets(&poller, &dispatcher);
        PeerListener* listener = owned.get();
        poller.add(std::move(owned), false);
        ASSERT_TRUE(poller.start());

        auto wait_for = [&](const std::function<bool()>& done)
        {
            const tick_t deadline = monotonic_ms() + 30000;
            while (!done() && monotonic_ms() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return done();
        };
        // Connects go out in bursts no larger than the listen backlog, so the kernel does not
        // drop SYNs (their retries would only make the test slow); all stay open together.
        std::vector<unique_fd> clients;
        clients.reserve(peers);
        for (int i = 0; i < peers; ++i)
        {
            unique_fd c(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(loopback_ip);
            addr.sin_port = htons(port);
            ::connect(c.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)); // NOLINT
            clients.push_back(std::move(c));
            if (clients.size() % 200 == 0)
            {
                ASSERT_TRUE(wait_for([&] { return listener->accepted_count() == clients.size(); }))
                    << "accepted " << listener->accepted_count() << " of " << clients.size();
            }
        }
        ASSERT_TRUE(wait_for([&] { return poller.active_count() == peers + 1; }))
            << "accepted " << listener->accepted_count() << ", active " << poller.active_count();
        EXPECT_EQ(listener->accepted_count(), static_cast<std::uint64_t>(peers));

        // A third send garbage, a third a handshake, a third just leave.
        const std::string hs = test::handshake_bytes();
        for (int i = 0; i < peers; ++i)
        {
            if (i % 3 == 0)
                EXPECT_TRUE(
                    test::send_all(clients[static_cast<std::size_t>(i)].get(), std::string(600, 'x')));
            else if (i % 3 == 1)
                EXPECT_TRUE(test::send_all(clients[static_cast<std::size_t>(i)].get(), hs));
            else
                clients[static_cast<std::size_t>(i)].reset();
        }
        ASSERT_TRUE(wait_for([&] { return poller.active_count() == 1; }));
        poller.stop();
        EXPECT_EQ(taker->taken.size(), static_cast<std::size_t>(peers / 3));
        EXPECT_EQ(poller.failed_passes(), 0U);
    }
    EXPECT_EQ(test::count_open_fds(), fds_before);
}

TEST(PeerListenerLoad, OutOfDescriptorsTheWaitingPeersAreShedInsteadOfSpinning)
{
    test::recording_observer observer;
    pending_connect_limit limit;
    HandshakeDispatcher dispatcher;
    manual_clock clock;
    ConnectionPoller poller(clock, nullptr, loopback_ip);
    auto owned = std::make_unique<PeerListener>(observer, limit);
    std::uint16_t port = 0;
    ASSERT_TRUE(owned->open(port, 0, loopback_ip));
    owned->set_targets(&poller, &dispatcher);
    PeerListener* listener = owned.get();
    poller.add(std::move(owned), false);
    poller.service_pass();

    std::vector<unique_fd> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(test::connect_loopback(port));

    // Use up every descriptor below a lowered limit.
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    std::vector<unique_fd> fillers;
    {
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(test::count_open_fds() + 64);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        for (;;)
        {
            unique_fd f(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            if (!f)
                break;
            fillers.push_back(std::move(f));
        }
        poller.run_once(100);
        ::setrlimit(RLIMIT_NOFILE, &old);
    }
    fillers.clear();
    EXPECT_EQ(listener->accepted_count(), 3U);
    EXPECT_EQ(poller.active_count(), 1U); // nothing could be kept
    for (const auto& c : clients)
        EXPECT_TRUE(test::peer_closed(c.get()));
    // The listening socket is no longer readable: the poller would wait, not spin.
    pollfd p{listener->socket(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

} // namespace
} // namespace torrent
