#include "net/network_context.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/tick.h"
#include "net/connection_poller.h"
#include "net/handshake_dispatcher.h"
#include "net/net_handler.h"
#include "net/net_ui_thread.h"
#include "net/outgoing_connect.h"
#include "net/peer_id.h"
#include "poller_test_util.h"
#include "support/process_env.h"
#include "support/wait_until.h"

namespace torrent
{
namespace
{

using test::loopback_ip;

using event_log = std::vector<std::string>;

class logged_mapper final : public port_mapper
{
public:
    explicit logged_mapper(event_log& log)
        : m_log(log)
    {
    }

    ~logged_mapper() override { m_log.emplace_back("mapper"); }

    logged_mapper(const logged_mapper&) = delete;
    logged_mapper& operator=(const logged_mapper&) = delete;

    [[nodiscard]] bool established() const override { return false; }

    void retry_step(tick_t) override {}

    [[nodiscard]] bool finished() const override { return false; }

private:
    event_log& m_log;
};

class logged_recognizer final : public HandshakeRecognizer
{
public:
    explicit logged_recognizer(event_log& log)
        : m_log(log)
    {
    }

    ~logged_recognizer() override { m_log.emplace_back("recognizer"); }

    logged_recognizer(const logged_recognizer&) = delete;
    logged_recognizer& operator=(const logged_recognizer&) = delete;

    recognize_result recognize(std::span<const std::byte>, ConnectionRecord&, tick_t, tick_t) override
    {
        return recognize_result::need_more;
    }

private:
    event_log& m_log;
};

class logged_completion final : public ConnectCompletion
{
public:
    explicit logged_completion(event_log& log)
        : m_log(log)
    {
    }

    ~logged_completion() override { m_log.emplace_back("completion"); }

    logged_completion(const logged_completion&) = delete;
    logged_completion& operator=(const logged_completion&) = delete;

    completion_result complete(ConnectionRecord&) override { return completion_result::refused; }

private:
    event_log& m_log;
};

class NetworkStart : public ::testing::Test
{
protected:
    network_options options()
    {
        network_options o;
        o.listen_address = loopback_ip;
        o.observer = &m_observer;
        o.time = &m_clock;
        o.recognizer = std::make_unique<logged_recognizer>(m_log);
        o.completion = std::make_unique<logged_completion>(m_log);
        return o;
    }

    const test::scoped_env m_probe{"ZORVIK_PROBE_ADDRESS", std::string("127.0.0.1")};
    const int m_fds_before = test::count_open_fds();
    manual_clock m_clock;
    test::recording_observer m_observer;
    event_log m_log;
};

TEST_F(NetworkStart, StartsEveryPartAndShutsDownInOrderWithoutLeaks)
{
    std::uint16_t wanted = 0;
    static_cast<void>(test::listen_loopback(1, wanted)); // a port that was just free
    std::vector<std::pair<std::uint32_t, std::uint16_t>> mapped;
    std::optional<port_mapping_env> mapper_env;
    {
        network_options o = options();
        o.wanted_port = wanted;
        o.upnp_wanted = true;
        o.mapper_factory = [&](std::uint32_t ip, std::uint16_t port, tick_t, port_mapping_env env)
        {
            mapped.emplace_back(ip, port);
            mapper_env.emplace(std::move(env));
            return std::make_unique<logged_mapper>(m_log);
        };
        NetworkContext ctx(std::move(o));
        ASSERT_EQ(ctx.start(), network_start_result::started);
        EXPECT_EQ(ctx.start(), network_start_result::already);
        EXPECT_TRUE(ctx.started());
        EXPECT_EQ(ctx.listen_port(), wanted);
        EXPECT_EQ(ctx.local_ip(), loopback_ip);

        std::uint32_t id_ip = 0;
        std::uint16_t id_port = 0;
        ASSERT_EQ(ctx.peer_id().size(), 20U);
        ASSERT_TRUE(decode_peer_id(ctx.peer_id(), id_ip, id_port));
        EXPECT_EQ(id_ip, loopback_ip);
        // The id cannot carry a 0xFF byte of the port: it comes back as 0x00.
        const auto as_carried = [](std::uint16_t port)
        {
            const unsigned low = (port & 0xFFU) == 0xFFU ? 0U : (port & 0xFFU);
            const unsigned high = (port >> 8U) == 0xFFU ? 0U : (port >> 8U);
            return static_cast<std::uint16_t>(high << 8U | low);
        };
        EXPECT_EQ(id_port, as_carried(wanted));
        ASSERT_EQ(mapped.size(), 1U);
        EXPECT_EQ(mapped[0].first, loopback_ip);
        EXPECT_EQ(mapped[0].second, wanted);
        // Announced: the local address and bound port, until the router's mapping answers.
        EXPECT_EQ(ctx.external().port(), wanted);
        EXPECT_EQ(ctx.external().text(), "127.0.0.1");
        ASSERT_TRUE(mapper_env);
        mapper_env->set_external(4321, "203.0.113.9");
        EXPECT_EQ(ctx.external().port(), 4321);
        EXPECT_EQ(ctx.external().ip(), 0xCB007109U);
        EXPECT_EQ(ctx.connect_limit().get(), 42);
        EXPECT_EQ(ctx.dispatcher()->size(), 2U);
        ASSERT_NE(ctx.net_thread(), nullptr);
        EXPECT_TRUE(ctx.net_thread()->running());
        EXPECT_TRUE(ctx.poller()->running());

        // The listener is on the running poller.
        const unique_fd client = test::connect_loopback(wanted);
        ASSERT_TRUE(test::wait_until([&] { return ctx.poller()->active_count() == 2; }));

        ctx.shutdown();
        EXPECT_FALSE(ctx.started());
        EXPECT_FALSE(ctx.net_thread()->running());
        EXPECT_TRUE(test::peer_closed(client.get()));
        EXPECT_EQ(m_log, (event_log{"mapper", "recognizer", "completion"}));
        ctx.shutdown(); // twice is harmless
    }
    EXPECT_EQ(m_log.size(), 3U);
    EXPECT_EQ(test::count_open_fds(), m_fds_before);
}

TEST_F(NetworkStart, WithoutAPortNothingStarts)
{
    {
        network_options o = options();
        o.wanted_port = 65535;
        NetworkContext ctx(std::move(o));
        EXPECT_EQ(ctx.start(), network_start_result::no_port);
        EXPECT_FALSE(ctx.started());
        EXPECT_EQ(ctx.listen_port(), 65535);
        EXPECT_EQ(ctx.net_thread(), nullptr);
        EXPECT_EQ(ctx.poller(), nullptr);
    }
    EXPECT_EQ(test::count_open_fds(), m_fds_before);
}

TEST_F(NetworkStart, ShutdownTakesAtMostThreeSecondsWithSocketsEverywhere)
{
    test::hanging_target hang;
    test::recording_owner owner;
    std::array<test::test_peer, 15> peers;
    const int fds_with_target = test::count_open_fds();
    {
        NetworkContext ctx(options());
        ASSERT_EQ(ctx.start(), network_start_result::started);

        // Unidentified incoming sockets on the poller.
        std::vector<unique_fd> clients;
        for (int i = 0; i < 20; ++i)
            clients.push_back(test::connect_loopback(ctx.listen_port()));
        ASSERT_TRUE(test::wait_until([&] { return ctx.poller()->active_count() == 21; }));
        // Connects in flight and waiting.
        for (auto& peer : peers)
        {
            peer.aim(hang.port);
            ctx.poller()->add(std::make_unique<OutgoingConnect>(&owner, owner.generation(), &peer), true);
        }
        ASSERT_TRUE(test::wait_until([&] { return ctx.poller()->connecting_count() == 10; }));
        // A connection that stays registered on the network thread.
        NetHandler handler(ctx.net_thread()->loop());
        int pair[2] = {-1, -1};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
        unique_fd ours(pair[0]);
        ASSERT_EQ(ctx.net_thread()->loop().attach(handler, unique_fd(pair[1]), 0x21), 1);

        const tick_t before = monotonic_ms();
        ctx.shutdown();
        const tick_t took = monotonic_ms() - before;
        EXPECT_LT(took, 3500U);
        EXPECT_EQ(owner.failures.size(), 10U); // the connects in flight were told
        for (const auto& client : clients)
            EXPECT_TRUE(test::peer_closed(client.get()));
    }
    EXPECT_EQ(test::count_open_fds(), fds_with_target);
}

} // namespace
} // namespace torrent
