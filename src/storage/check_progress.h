#pragma once

#include <atomic>
#include <cstdint>

namespace torrent
{

// The task's byte counters that a full check of existing data advances (the display
// reads them without locks). Either pointer may be null.
struct check_progress
{
    std::atomic<std::uint64_t>* downloaded = nullptr;
    std::atomic<std::uint64_t>* checked = nullptr;

    void add(std::uint64_t bytes) const noexcept
    {
        if (downloaded != nullptr)
            downloaded->fetch_add(bytes, std::memory_order_relaxed);
        if (checked != nullptr)
            checked->fetch_add(bytes, std::memory_order_relaxed);
    }
};

} // namespace torrent
