#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/polled_socket.h"

namespace torrent
{

class ConnectCompletion;

// The poller thread: drives every socket that is not yet a peer connection (the listener,
// unidentified incoming sockets, outgoing connects) with one poll() over their sockets plus
// an eventfd that is the wake event. It wakes on any socket event, on wake() or every
// 50 ms, and then runs one service pass: admit pending connects (at most 10 in flight,
// the most recently queued first), then service every active object and delete those that
// ask to be removed.
//
// The poller can also be driven without its thread: run_once() waits and runs one pass on
// the calling thread (tests). Its time comes from the clock it is given.
//
// Owner: NetworkContext. Runs on: its own thread; add(), wake(), pending_count() and
// stop() are safe from any thread.
class ConnectionPoller
{
public:
    static constexpr int max_connecting = 10;
    static constexpr int wait_ms = 50;

    ConnectionPoller(clock& time, ConnectCompletion* completion, std::uint32_t local_ip);
    // Stops the thread, then deletes every object still in its lists.
    ~ConnectionPoller();
    ConnectionPoller(const ConnectionPoller&) = delete;
    ConnectionPoller& operator=(const ConnectionPoller&) = delete;

    // False when the wake eventfd could not be made.
    [[nodiscard]] bool valid() const noexcept { return m_wake.valid(); }

    // Starts the thread; false when it is already running (or the poller is not valid).
    bool start();
    // Asks the thread to end, wakes it and joins it (it ends within one pass).
    void stop();

    [[nodiscard]] bool running() const noexcept { return m_thread.joinable(); }

    // Takes ownership. With `connect_later` the object waits in the pending list for a
    // connect slot; otherwise it joins the active list at the start of the next pass.
    // False only for a null object.
    bool add(std::unique_ptr<PolledSocket> object, bool connect_later);

    // Objects waiting in the pending list; read without a lock by the tasks.
    [[nodiscard]] std::size_t pending_count() const noexcept
    {
        return m_pending_count.load(std::memory_order_relaxed);
    }

    // Active objects that carry a peer record (outgoing connects in flight).
    [[nodiscard]] int connecting_count() const noexcept
    {
        return m_connecting.load(std::memory_order_relaxed);
    }

    // Objects in the active list.
    [[nodiscard]] std::size_t active_count() const noexcept
    {
        return m_active_count.load(std::memory_order_relaxed);
    }

    // Signals the wake event.
    void wake() noexcept;

    // One wait (at most timeout_ms; 0 polls) on the wake event and every active socket; the
    // readiness seen is handed to the objects. Answers the number of ready sockets.
    int wait(int timeout_ms);
    // wait_ms, or -1 (until a socket is ready or the poller is woken) when nothing it
    // holds has anything to do on a clock.
    [[nodiscard]] int idle_timeout();
    // One service pass at the clock's current time.
    void service_pass();

    // wait() then service_pass().
    void run_once(int timeout_ms)
    {
        wait(timeout_ms);
        service_pass();
    }

    // Service passes completed (read from any thread): a test that must see the poller act
    // on the current time wakes it and waits for the next pass instead of sleeping.
    [[nodiscard]] std::uint64_t passes() const noexcept { return m_passes.load(std::memory_order_acquire); }

    // Service-pass exceptions caught by the thread (each pass that threw counts once).
    [[nodiscard]] std::uint64_t failed_passes() const noexcept
    {
        return m_failed_passes.load(std::memory_order_relaxed);
    }

private:
    void thread_body();
    void take_arrivals();
    void admit_pending(const service_context& ctx);
    // With the list lock held: moves the object to the head of the active list and, with
    // `connect`, starts its connect (counted as in flight).
    void activate(std::unique_ptr<PolledSocket> object, bool connect, const service_context& ctx);
    [[nodiscard]] service_context context() const;

    clock& m_clock;
    ConnectCompletion* m_completion;
    std::uint32_t m_local_ip;
    unique_fd m_wake;

    std::atomic<bool> m_stop{true};
    std::thread m_thread;
    std::atomic<std::uint64_t> m_failed_passes{0};
    std::atomic<std::uint64_t> m_passes{0};

    // Touched only by the service pass (poller thread).
    std::list<std::unique_ptr<PolledSocket>> m_active;
    std::vector<pollfd> m_pollfds;
    std::vector<PolledSocket*> m_polled;
    std::atomic<std::size_t> m_active_count{0};

    std::mutex m_lock; // guards the two lists below and every change of m_connecting
    std::vector<std::unique_ptr<PolledSocket>> m_arrivals;
    std::vector<std::unique_ptr<PolledSocket>> m_pending;
    std::atomic<std::size_t> m_pending_count{0};
    std::atomic<int> m_connecting{0};
};

} // namespace torrent
