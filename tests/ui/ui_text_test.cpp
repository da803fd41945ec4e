#include "ui/ui_text.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ui/text_encoding.h"

namespace torrent
{
namespace
{

TEST(UiText, EveryBuiltInEntryIsOneLineOfUtf8)
{
    for (std::size_t i = 0; i < ui_text_count; ++i)
    {
        const std::string_view text = builtin_ui_text(i);
        EXPECT_TRUE(is_valid_utf8(text)) << "entry " << i;
        EXPECT_EQ(text.find('\n'), std::string_view::npos) << "entry " << i;
        EXPECT_EQ(text.find('\0'), std::string_view::npos) << "entry " << i;
        EXPECT_EQ(i == uitext::help_end_marker, text.empty()) << "entry " << i;
    }
}

TEST(UiText, HelpPagesStartWithABreakAndIndentParagraphs)
{
    const std::string_view indent = "\r\u3000\u3000";
    for (std::size_t i = 0; i < ui_help_page_count; ++i)
    {
        const std::string_view page = builtin_ui_text(i);
        ASSERT_GE(page.size(), indent.size());
        EXPECT_EQ(page.substr(0, indent.size()), indent) << "page " << i;
        // Every paragraph (after each CR) is indented.
        for (std::size_t at = page.find('\r'); at != std::string_view::npos; at = page.find('\r', at + 1))
            EXPECT_EQ(page.substr(at, indent.size()), indent) << "page " << i << " at " << at;
    }
}

TEST(UiText, LegendIsSixLinesWithALeadingIndent)
{
    const std::string_view legend = builtin_ui_text(uitext::legend);
    EXPECT_EQ(legend.substr(0, 7), "      [");
    EXPECT_EQ(std::count(legend.begin(), legend.end(), '\r'), 6);
    EXPECT_EQ(legend.back(), '\r');
    EXPECT_NE(legend.find("[=|]阻塞对方[|=]被阻塞\r"), std::string_view::npos);
}

TEST(UiText, OutOfRangeIndexGivesEmptyText)
{
    EXPECT_TRUE(ui_text(ui_text_count).empty());
    EXPECT_TRUE(builtin_ui_text(1000).empty());
}

TEST(UiText, InstalledTableIsReadSafelyFromOtherThreads)
{
    const std::string_view before = ui_text(uitext::stopped);
    EXPECT_EQ(before, builtin_ui_text(uitext::stopped));

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
    {
        readers.emplace_back(
            [&]
            {
                while (!stop.load())
                {
                    const std::string_view text = ui_text(uitext::stopped);
                    if (text != "停止!" && text != "Stopped!" && text != "Halted!")
                        bad.fetch_add(1);
                }
            });
    }
    ui_text_table english;
    english.set(uitext::stopped, "Stopped!");
    install_ui_text(english);
    const std::string_view english_view = ui_text(uitext::stopped);
    ui_text_table other;
    other.set(uitext::stopped, "Halted!");
    install_ui_text(other);
    stop.store(true);
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(ui_text(uitext::stopped), "Halted!");
    // A view handed out earlier stays valid after its table was replaced.
    EXPECT_EQ(english_view, "Stopped!");

    install_ui_text(ui_text_table());
    EXPECT_EQ(ui_text(uitext::stopped), "停止!");
}

} // namespace
} // namespace torrent
