#pragma once

#include <atomic>
#include <cstdint>

namespace torrent
{

// Milliseconds since an arbitrary start, from CLOCK_MONOTONIC, held in 64 bits so that
// nothing misbehaves after 49.7 days of uptime. A stored time is due when the current
// tick is greater than it.
using tick_t = std::uint64_t;

// Time source. Components that schedule take a clock (or a `now` argument) so tests can
// move time without waiting.
class clock
{
public:
    virtual ~clock() = default;
    [[nodiscard]] virtual tick_t now() const noexcept = 0;
};

// The real monotonic clock; the only place that reads the system time.
[[nodiscard]] tick_t monotonic_ms() noexcept;
[[nodiscard]] clock& system_clock() noexcept;

// A clock that moves only when told to; safe to read from several threads.
class manual_clock final : public clock
{
public:
    explicit manual_clock(tick_t start = 1000) noexcept
        : m_now(start)
    {
    }

    // With a step set, every reading moves the clock on by it (time passing inside a pass).
    [[nodiscard]] tick_t now() const noexcept override
    {
        return m_now.fetch_add(m_step.load(std::memory_order_relaxed), std::memory_order_relaxed);
    }

    void advance(tick_t ms) noexcept { m_now.fetch_add(ms, std::memory_order_relaxed); }

    void set_step(tick_t ms) noexcept { m_step.store(ms, std::memory_order_relaxed); }

    void set(tick_t t) noexcept { m_now.store(t, std::memory_order_relaxed); }

private:
    mutable std::atomic<tick_t> m_now;
    std::atomic<tick_t> m_step{0};
};

// Milliseconds from `since` to `now`; 0 when `since` is later, as a stamp taken after `now`
// was read can be (the clock moves while a pass works).
[[nodiscard]] constexpr tick_t elapsed_since(tick_t now, tick_t since) noexcept
{
    return now > since ? now - since : 0;
}

// True when `due` lies in the past: the tick is strictly greater than it.
[[nodiscard]] constexpr bool is_due(tick_t now, tick_t due) noexcept
{
    return now > due;
}

} // namespace torrent
