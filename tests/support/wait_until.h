#pragma once

#include <chrono>
#include <thread>

namespace torrent::test
{

// How long a test waits for another thread to reach a state before calling it a failure:
// far beyond what any step takes, even on a loaded two-core machine running tests side by
// side, so only a real hang ends the wait. A passing test never waits for it to run out.
inline constexpr std::chrono::milliseconds patience{20000};

// Checks `done` every 2 ms until it holds or `limit` has passed; the last answer. For
// states another thread reaches in real time (a poller, a checking worker); the test
// asserts what it waited for, never how long that took.
template <class Pred>
[[nodiscard]] bool wait_until(Pred&& done, std::chrono::milliseconds limit = patience)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace torrent::test
