#include "ui/help_pager.h"

#include <cstdio>

namespace torrent
{

std::uint16_t help_pager::show_page(int step, std::uint16_t page) noexcept
{
    std::uint16_t target = 0;
    if (step == 0)
        target = page < page_count ? page : 0;
    else
    {
        // 16-bit arithmetic: one step back from page 0 gives 65535.
        target = static_cast<std::uint16_t>(m_current + step);
        if (target == page_count)
            target = 0;
        else if (target > page_count)
            target = page_count - 1;
    }
    m_current = target;
    m_last = target;
    return target;
}

std::uint16_t help_pager::choose_topic(int index) noexcept
{
    if (index < 0 || static_cast<std::size_t>(index) >= topics.size())
        return m_current;
    return show_page(0, topics[static_cast<std::size_t>(index)].first_page);
}

std::string help_pager::counter_text() const
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%i / %i", m_current + 1, int{page_count});
    return buf;
}

int help_pager::topic_of_current() const noexcept
{
    int found = 0;
    for (std::size_t i = 0; i < topics.size(); ++i)
        if (topics[i].first_page <= m_current)
            found = static_cast<int>(i);
    return found;
}

} // namespace torrent
