#include "tracker/announce_clock.h"

namespace torrent
{

namespace
{
class real_announce_clock final : public announce_clock
{
public:
    [[nodiscard]] tick_t now() const noexcept override { return system_clock().now(); }

    [[nodiscard]] wait_result wait(event& stop, unsigned ms) override { return stop.wait_for(ms); }
};
} // namespace

announce_clock& system_announce_clock() noexcept
{
    static real_announce_clock instance;
    return instance;
}

} // namespace torrent
