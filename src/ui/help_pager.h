#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ui/ui_text.h"

namespace torrent
{

// Which help page the viewer shows: the 35 pages are UiText 0..34, moved through one at a
// time with wrap-around or picked by topic. The page last shown survives closing the
// viewer, so it opens again where the user left it.
//
// Owner: the process-wide help viewer. Runs on: the window's thread.
class help_pager
{
public:
    static constexpr std::uint16_t page_count = static_cast<std::uint16_t>(ui_help_page_count);

    struct topic
    {
        uitext::id name;
        std::uint16_t first_page;
    };

    // The topic list, in its order.
    static constexpr std::array<topic, 4> topics = {{
        {uitext::topic_features, 0},
        {uitext::topic_keys, 11},
        {uitext::topic_options, 20},
        {uitext::topic_tips, 29},
    }};

    // Step 0 goes to `page` (page 0 when it is beyond the last); a step of +1 or -1 moves
    // from the current page, the last page wrapping to the first and back. Returns the
    // page now shown, which becomes the current and the last shown page.
    std::uint16_t show_page(int step, std::uint16_t page = 0) noexcept;

    // What a newly opened viewer shows: the page last shown, page 0 the first time.
    std::uint16_t open() noexcept { return show_page(0, m_last); }

    // Shows the first page of topic `index` (0..3; others are ignored).
    std::uint16_t choose_topic(int index) noexcept;

    [[nodiscard]] std::uint16_t current() const noexcept { return m_current; }

    // The counter under the page: "n / 35" with n counted from 1.
    [[nodiscard]] std::string counter_text() const;

    // The topic whose pages hold the current page.
    [[nodiscard]] int topic_of_current() const noexcept;

private:
    std::uint16_t m_current = 0; // for relative moves
    std::uint16_t m_last = page_count; // none shown yet
};

} // namespace torrent
