#include "base/tick.h"

#include <time.h>

namespace torrent
{

namespace
{
class monotonic_clock final : public clock
{
public:
    [[nodiscard]] tick_t now() const noexcept override { return monotonic_ms(); }
};
} // namespace

tick_t monotonic_ms() noexcept
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<tick_t>(ts.tv_sec) * 1000U + static_cast<tick_t>(ts.tv_nsec) / 1000000U;
}

clock& system_clock() noexcept
{
    static monotonic_clock instance;
    return instance;
}

} // namespace torrent
