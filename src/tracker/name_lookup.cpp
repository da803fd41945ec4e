#include "tracker/name_lookup.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace torrent
{

namespace
{

// What one lookup shares between its helper and the caller waiting for it.
struct lookup_state
{
    std::mutex mutex;
    std::condition_variable done_cond;
    bool done = false;
    std::uint32_t address = 0;
};

std::atomic<std::size_t> g_helpers{0};

constexpr std::chrono::milliseconds poll_step{50};

} // namespace

std::size_t lookup_helpers_running() noexcept
{
    return g_helpers.load(std::memory_order_acquire);
}

std::uint32_t resolve_with_limit(
    const host_resolver& resolve,
    const std::string& name,
    unsigned limit_ms,
    const std::function<bool()>& cancelled)
{
    if (!resolve || limit_ms == 0 || (cancelled && cancelled()))
        return 0;
    if (g_helpers.fetch_add(1, std::memory_order_acq_rel) >= max_lookup_helpers)
    {
        g_helpers.fetch_sub(1, std::memory_order_acq_rel);
        return 0;
    }
    auto state = std::make_shared<lookup_state>();
    try
    {
        std::thread(
            [state, resolve, name]
            {
                std::uint32_t address = 0;
                try
                {
                    address = resolve(name);
                }
                catch (...)
                {
                    address = 0; // a failed lookup is a name that does not resolve
                }
                {
                    const std::lock_guard lock(state->mutex);
                    state->address = address;
                    state->done = true;
                }
                state->done_cond.notify_all();
                g_helpers.fetch_sub(1, std::memory_order_acq_rel);
            })
            .detach();
    }
    catch (...)
    {
        g_helpers.fetch_sub(1, std::memory_order_acq_rel);
        return 0;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    std::unique_lock lock(state->mutex);
    while (!state->done)
    {
        if (cancelled && cancelled())
            return 0;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return 0;
        state->done_cond.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(poll_step, deadline - now));
    }
    return state->address;
}

} // namespace torrent
