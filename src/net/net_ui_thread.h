#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "base/tick.h"
#include "net/event_loop.h"

namespace torrent
{

// The network thread: one std::jthread running the event_loop that carries every
// established peer connection. start() returns once the loop runs; stop() drains the
// sockets for at most `drain_limit` (clearing tick registrations on each drain request),
// then ends the thread. Requests made after stop() are refused and never hang.
// Owner: the network root object. Runs on: created and stopped on the UI thread.
class NetUIThread final
{
public:
    static constexpr std::chrono::milliseconds default_drain_limit{3000};
    static constexpr std::chrono::milliseconds drain_pause{10};

    explicit NetUIThread(clock& time = system_clock());
    NetUIThread(clock& time, event_loop::options opts);
    ~NetUIThread(); // stop()
    NetUIThread(const NetUIThread&) = delete;
    NetUIThread& operator=(const NetUIThread&) = delete;

    // Starts the thread and waits until its loop runs. False when the loop could not be
    // made or the thread was already started once.
    [[nodiscard]] bool start();

    // Sends drain requests until no socket is registered or the limit has passed (pausing
    // 10 ms between answers of 1), then quits the loop and joins the thread. Returns the
    // number of drain requests made. Safe to call more than once.
    int stop(std::chrono::milliseconds drain_limit = default_drain_limit);

    [[nodiscard]] bool running() const noexcept { return m_thread.joinable(); }

    [[nodiscard]] event_loop& loop() noexcept { return *m_loop; }

    // Loop steps that ended in an exception from a handler (each one caught and counted).
    [[nodiscard]] std::uint64_t failed_steps() const noexcept
    {
        return m_failed_steps.load(std::memory_order_relaxed);
    }

private:
    std::unique_ptr<event_loop> m_loop;
    std::jthread m_thread;
    bool m_started = false;
    std::atomic<std::uint64_t> m_failed_steps{0};
};

} // namespace torrent
