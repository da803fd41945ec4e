#pragma once

#include <atomic>
#include <cstdint>

#include "base/tick.h"

namespace torrent
{

// Counts transferred block bytes and caps them per second with a one-second window.
// One for upload and one for download, shared by every task; owned by the session controller.
//
// Runs on: the network thread counts bytes and asks whether a transfer must wait; the
// window thread reads the total and sets the limit. Every field is atomic, so counting
// from more than one thread loses no bytes from the total.
class RateMeter
{
public:
    explicit RateMeter(std::uint32_t limit = 0) noexcept
        : m_limit(limit)
    {
    }

    RateMeter(const RateMeter&) = delete;
    RateMeter& operator=(const RateMeter&) = delete;

    // Bytes per second; 0 means no limit.
    void set_limit(std::uint32_t bytes_per_second) noexcept
    {
        m_limit.store(bytes_per_second, std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint32_t limit() const noexcept { return m_limit.load(std::memory_order_relaxed); }

    // Every byte ever counted.
    [[nodiscard]] std::uint64_t total() const noexcept { return m_total.load(std::memory_order_relaxed); }

    // Counts bytes moved at `now`. With a limit, the first bytes after a window has closed
    // open a new one-second window.
    void account(std::uint64_t bytes, tick_t now) noexcept;

    // True when a transfer must wait: the current window has taken more than the limit.
    // A window may overshoot by one transfer; nothing starts after that until it closes.
    [[nodiscard]] bool over_limit(tick_t now) const noexcept;

    static constexpr tick_t window_ms = 1000;

private:
    std::atomic<tick_t> m_window_end{0};
    std::atomic<std::uint64_t> m_window_bytes{0};
    std::atomic<std::uint32_t> m_limit;
    std::atomic<std::uint64_t> m_total{0};
};

} // namespace torrent
