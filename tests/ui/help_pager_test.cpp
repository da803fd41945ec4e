#include "ui/help_pager.h"

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(HelpPager, OpensOnTheFirstPageThenOnTheLastShown)
{
    help_pager pager;
    EXPECT_EQ(pager.open(), 0);
    EXPECT_EQ(pager.counter_text(), "1 / 35");
    pager.show_page(0, 17);
    EXPECT_EQ(pager.open(), 17);
    EXPECT_EQ(pager.counter_text(), "18 / 35");
}

TEST(HelpPager, StepsWrapAroundBothEnds)
{
    help_pager pager;
    pager.open();
    EXPECT_EQ(pager.show_page(-1), 34); // 0 - 1 in 16 bits is above the last page
    EXPECT_EQ(pager.counter_text(), "35 / 35");
    EXPECT_EQ(pager.show_page(+1), 0);
    EXPECT_EQ(pager.show_page(+1), 1);
    EXPECT_EQ(pager.show_page(-1), 0);
    // Going to a page beyond the last one shows the first.
    EXPECT_EQ(pager.show_page(0, 35), 0);
    EXPECT_EQ(pager.show_page(0, 34), 34);
}

TEST(HelpPager, TopicsJumpToTheirFirstPage)
{
    help_pager pager;
    pager.open();
    const std::uint16_t first[] = {0, 11, 20, 29};
    for (int t = 0; t < 4; ++t)
    {
        EXPECT_EQ(pager.choose_topic(t), first[t]);
        EXPECT_EQ(pager.topic_of_current(), t);
    }
    EXPECT_EQ(pager.show_page(+1), 30); // the usage tips go on
    EXPECT_EQ(pager.topic_of_current(), 3);
    EXPECT_EQ(pager.choose_topic(7), 30); // no such topic: nothing moves
    pager.show_page(0, 19);
    EXPECT_EQ(pager.topic_of_current(), 1);
}

} // namespace
} // namespace torrent
