#include "app/stop_signals.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

using namespace std::chrono_literals;

volatile std::sig_atomic_t g_earlier_calls = 0;

void earlier_handler(int)
{
    g_earlier_calls = g_earlier_calls + 1;
}

// Sets `action` for `sig` for the life of the object, then puts back what was there.
class signal_action
{
public:
    signal_action(int sig, void (*handler)(int))
        : m_sig(sig)
    {
        struct sigaction action
        {
        };

        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, &m_saved);
    }

    ~signal_action() { ::sigaction(m_sig, &m_saved, nullptr); }

    signal_action(const signal_action&) = delete;
    signal_action& operator=(const signal_action&) = delete;

private:
    int m_sig;

    struct sigaction m_saved
    {
    };
};

TEST(StopSignals, ASignalEndsTheWaitAWakeOnlyEndsItAndTheEarlierHandlerComesBack)
{
    const signal_action earlier(SIGTERM, earlier_handler);
    g_earlier_calls = 0;
    {
        stop_signals stops;
        ASSERT_GE(stops.fd(), 0);
        EXPECT_FALSE(stops.wait_for(0ms));

        // A wake from another thread ends a long wait without counting as a stop.
        std::thread waker([&] { stops.wake(); });
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(stops.wait_for(60s));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
        waker.join();

        ASSERT_EQ(std::raise(SIGTERM), 0);
        EXPECT_TRUE(stops.wait_for(0ms));
        EXPECT_TRUE(stops.wait_for(0ms)); // it stays true
        EXPECT_TRUE(stops.came());
        EXPECT_EQ(g_earlier_calls, 0);
    }
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(g_earlier_calls, 1);
}

TEST(StopSignals, AnInterruptIsTakenAlsoWhenTheParentIgnoredIt)
{
    // A script's background job starts with SIGINT ignored; `kill -INT` must still stop it.
    const signal_action ignored(SIGINT, SIG_IGN);
    stop_signals stops;
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(stops.wait_for(0ms));
}

} // namespace
} // namespace torrent
