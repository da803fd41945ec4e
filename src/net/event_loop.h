#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/tick.h"
#include "base/unique_fd.h"

namespace torrent
{

class AsyncSocket;
class NetHandler;

// The network thread's reactor: one epoll set with an eventfd for cross-thread requests
// and a 50 ms timerfd tick, a socket map (fd -> AsyncSocket) and a timer map
// (key -> NetHandler, ascending; a withdrawn entry is null and erased on the next walk).
//
// The loop runs on whichever thread calls run() (NetUIThread), or step by step through
// run_once() and tick() on the thread that created it (tests). Both maps and every
// AsyncSocket and NetHandler are touched only on the loop thread; other threads reach them
// only through the synchronous requests below, which run on the loop thread while the
// caller waits for the answer.
//
// Rules for callers:
// 1. Hold no mutex while making a request.
// 2. Handlers never block and never make requests to another thread.
// 3. Requests flow only toward the network thread (UI, poller, announcers).
// 4. A request made on the loop thread runs inline; after stop() every request is refused
//    at once (the answer is 0 / false) and none ever hangs.
// Owner: NetUIThread (or a test). Runs on: network thread.
class event_loop
{
public:
    static constexpr int tick_period_ms = 50;

    struct options
    {
        // Arms the 50 ms timerfd; tests that drive tick() by hand turn it off.
        bool periodic_tick = true;
    };

    explicit event_loop(clock& time = system_clock()) noexcept;
    event_loop(clock& time, options opts) noexcept;
    ~event_loop();
    event_loop(const event_loop&) = delete;
    event_loop& operator=(const event_loop&) = delete;

    // False when the epoll set, eventfd or timerfd could not be made (errno in error()).
    [[nodiscard]] bool valid() const noexcept { return m_valid; }

    [[nodiscard]] int error() const noexcept { return m_error; }

    // ---- driving the loop -------------------------------------------------------------

    // Runs until quit(): binds the loop to the calling thread. Refused (returns at once)
    // after stop.
    void run();
    // One wait of at most timeout_ms (-1 = no limit) and the dispatch of what is ready:
    // sockets, queued requests, the tick. Returns the number of readiness reports handled.
    int run_once(int timeout_ms);
    // One walk of the timer map (also what the timerfd triggers). Ignored when re-entered.
    void tick();
    // Asks run() to return after the current step; safe from any thread.
    void quit() noexcept;
    // Marks the loop stopped: queued and future requests from other threads are refused.
    // Called by run() on its way out; also usable directly.
    void stop() noexcept;

    [[nodiscard]] bool stopped() const noexcept { return m_stopped.load(std::memory_order_acquire); }

    [[nodiscard]] bool in_loop_thread() const noexcept
    {
        return std::this_thread::get_id() == m_thread_id.load();
    }

    void assert_in_loop_thread() const noexcept;

    // Makes the calling thread the loop thread (run() does this itself; NetUIThread calls
    // it before reporting the thread started).
    void bind_to_current_thread() noexcept;

    // The time source handlers use in on_tick (the seam that lets tests move time).
    [[nodiscard]] tick_t now() const noexcept { return m_clock.now(); }

    // Counters for tests and benchmarks (read from any thread).
    [[nodiscard]] std::uint64_t iterations() const noexcept
    {
        return m_iterations.load(std::memory_order_relaxed);
    }

    // The 50 ms timerfd runs (only while a socket or a timer handler is registered).
    [[nodiscard]] bool tick_armed() const noexcept { return m_tick_armed; }

    [[nodiscard]] std::uint64_t ticks() const noexcept { return m_ticks.load(std::memory_order_relaxed); }

    // Handler calls that ended in an exception (each caught; that connection was closed).
    [[nodiscard]] std::uint64_t handler_faults() const noexcept
    {
        return m_handler_faults.load(std::memory_order_relaxed);
    }

    // ---- synchronous requests (any thread) ----------------------------------------------

    // Runs f on the loop thread and returns its result; inline when already there; a
    // value-initialised result when refused (after stop).
    template <class F>
    auto call(F f) -> std::invoke_result_t<F&>;

    // Withdraws a tick registration: the key's handler becomes null (erased on the next
    // walk). Answers the key when it was registered, else 0.
    std::uint32_t timer_withdraw(std::uint32_t key);
    // Hands a socket to a handler on the loop thread (the handler's attach). 1, or 0 when
    // refused (the socket is then closed).
    int attach(NetHandler& handler, unique_fd socket, std::uint32_t mask);
    // Closes the handler's socket with notification. 1, or 0 when refused.
    int close(NetHandler& handler);
    // Clears every tick registration; answers 1 while sockets are registered, else 0.
    int drain();
    // Dispatches a socket event as if reported by the platform: 1 read, 2 write, 32 close
    // (others ignored); an fd not in the socket map is ignored. Answers 1 (0 when refused).
    int socket_event(int fd, std::uint32_t event, int error);
    // Socket map maintenance (used by AsyncSocket). 1, or 0 when refused.
    int socket_remove(int fd);
    int socket_add(int fd, AsyncSocket* socket);

    // ---- loop thread only ----------------------------------------------------------------

    // Gives the handler the next key (1, or the largest key + 1) and registers it.
    [[nodiscard]] std::uint32_t start_timer(NetHandler* handler);
    // Sets the epoll interest of a socket in the map (no-op when unchanged).
    void select(int fd, std::uint32_t epoll_events);

    [[nodiscard]] std::size_t socket_count() const noexcept { return m_socket_count; }

    [[nodiscard]] std::size_t timer_count() const noexcept { return m_timers.size(); }

    [[nodiscard]] AsyncSocket* find_socket(int fd) const noexcept;

private:
    struct socket_entry
    {
        AsyncSocket* socket = nullptr;
        std::uint32_t generation = 0; // tells a stale readiness report from a reused fd
        std::uint32_t registered = 0; // epoll interest currently set, ~0u = not in the set
    };

    void enqueue(std::function<void()> job);
    void run_queued();
    void wake() noexcept;
    void dispatch(std::uint64_t data, std::uint32_t events);
    void dispatch_steps(std::uint64_t data, std::uint32_t events);
    // A handler threw: counted, and its connection is closed (with notification, so its
    // owner gives everything back); the loop goes on with the other sockets.
    void handler_failed(AsyncSocket* socket) noexcept;

    clock& m_clock;
    unique_fd m_epoll;
    unique_fd m_wake;
    unique_fd m_timer;
    bool m_valid = false;
    int m_error = 0;

    std::atomic<std::thread::id> m_thread_id;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<std::uint64_t> m_iterations{0};
    std::atomic<std::uint64_t> m_ticks{0};
    std::atomic<std::uint64_t> m_handler_faults{0};

    std::mutex m_mutex; // guards m_queue only
    std::vector<std::function<void()>> m_queue;

    std::vector<socket_entry> m_sockets; // indexed by fd
    std::size_t m_socket_count = 0;
    std::uint32_t m_generation = 0;
    std::map<std::uint32_t, NetHandler*> m_timers;
    bool m_in_tick = false;
    bool m_periodic = false; // the 50 ms tick is wanted at all
    bool m_tick_armed = false; // the timerfd runs now
    // Runs the timerfd only while a socket or a timer handler is registered: a loop with
    // neither has nothing to do on its tick, so it sleeps until a request comes.
    void arm_tick_for_work() noexcept;
};

template <class F>
auto event_loop::call(F f) -> std::invoke_result_t<F&>
{
    using result_t = std::invoke_result_t<F&>;
    if (in_loop_thread() && !stopped())
        return f();
    if (stopped())
        return result_t();
    std::packaged_task<result_t()> task(std::move(f));
    auto done = task.get_future();
    // The job only references the task; if the loop stops before running it, the job is
    // destroyed unrun, which breaks the promise and releases the caller below.
    auto shared = std::make_shared<std::packaged_task<result_t()>>(std::move(task));
    enqueue([shared] { (*shared)(); });
    shared.reset();
    try
    {
        return done.get();
    }
    catch (const std::future_error&)
    {
        return result_t();
    }
}

} // namespace torrent
