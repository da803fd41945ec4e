#include "engine/rate_meter.h"

namespace torrent
{

void RateMeter::account(std::uint64_t bytes, tick_t now) noexcept
{
    if (limit() != 0)
    {
        if (is_due(now, m_window_end.load(std::memory_order_relaxed)))
        {
            m_window_end.store(now + window_ms, std::memory_order_relaxed);
            m_window_bytes.store(bytes, std::memory_order_relaxed);
        }
        else
        {
            m_window_bytes.fetch_add(bytes, std::memory_order_relaxed);
        }
    }
    m_total.fetch_add(bytes, std::memory_order_relaxed);
}

bool RateMeter::over_limit(tick_t now) const noexcept
{
    const std::uint32_t cap = limit();
    return cap != 0 && !is_due(now, m_window_end.load(std::memory_order_relaxed))
        && m_window_bytes.load(std::memory_order_relaxed) > cap;
}

} // namespace torrent
