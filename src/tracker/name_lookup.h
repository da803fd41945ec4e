#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tracker/announce_response.h"

namespace torrent
{

// Name lookups a caller can give up on. The system resolver (getaddrinfo) cannot be
// interrupted, so each lookup runs on a short helper thread of its own while the caller
// waits at most `limit_ms`, asking `cancelled` about every 50 ms. A helper that is left
// behind finishes its lookup alone: it holds only its own state (a copy of the resolver
// and of the name), so nothing it touches is destroyed under it.
//
// Answers the address (host order), or 0 when the name did not resolve in time, the wait
// was cancelled, or too many abandoned lookups are still running (max_lookup_helpers).
// Runs on: any thread.
[[nodiscard]] std::uint32_t resolve_with_limit(
    const host_resolver& resolve,
    const std::string& name,
    unsigned limit_ms,
    const std::function<bool()>& cancelled = {});

// Helpers still running; beyond this many no new lookup starts (a resolver that hangs
// must not pile up threads).
inline constexpr std::size_t max_lookup_helpers = 16;

// Helper threads still running (tests wait for them before their stand-in resolver goes).
[[nodiscard]] std::size_t lookup_helpers_running() noexcept;

} // namespace torrent
