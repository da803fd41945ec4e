// The window's layout rules without a window: the layout cycle, the walk through the
// running slots, where a press on the body lands and the strip laid out from the right.
#include "app/window_layout.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using torrent::display_layout;

std::vector<int> cycle(display_layout from, bool taskList, bool userSize, int steps)
{
    std::vector<int> seen;
    display_layout l = from;
    for (int i = 0; i < steps; ++i)
    {
        l = torrent::next_layout(l, taskList, userSize);
        seen.push_back(static_cast<int>(l));
    }
    return seen;
}

TEST(NextLayout, SingleTaskModeCyclesFiveLayoutsAndSkipsTheUserOneWithoutASize)
{
    EXPECT_EQ(cycle(display_layout::compact, false, false, 5), (std::vector<int>{2, 3, 4, 1, 2}));
    EXPECT_EQ(cycle(display_layout::compact, false, true, 5), (std::vector<int>{2, 3, 4, 5, 1}));
    // Task-list mode keeps to its two layouts, whatever it starts from.
    EXPECT_EQ(cycle(display_layout::single_line, true, true, 3), (std::vector<int>{3, 2, 3}));
    EXPECT_EQ(cycle(display_layout::standard, true, false, 2), (std::vector<int>{2, 3}));
}

TEST(SelectTaskWalk, FindsTheNextBusySlotBothWaysWithWrapAround)
{
    const int max = 10;
    auto busyIn = [](std::vector<int> slots)
    {
        return [slots](int i)
        {
            return std::count(slots.begin(), slots.end(), i) > 0;
        };
    };
    EXPECT_EQ(torrent::select_task_walk(3, 1, max, busyIn({3, 7, 9})), 7);
    EXPECT_EQ(torrent::select_task_walk(9, 1, max, busyIn({3, 7, 9})), 3); // past slot 10 to 0, 1, ...
    EXPECT_EQ(torrent::select_task_walk(3, -1, max, busyIn({3, 7, 9})), 9);
    // A step back from slot 0 goes to the last slot.
    EXPECT_EQ(torrent::select_task_walk(0, -1, max, busyIn({10})), 10);
    EXPECT_EQ(torrent::select_task_walk(1, -1, 4, busyIn({4})), 4);
    // The current slot alone running, or none at all: nothing is found.
    EXPECT_EQ(torrent::select_task_walk(5, 1, max, busyIn({5})), -1);
    EXPECT_EQ(torrent::select_task_walk(5, -1, max, busyIn({5})), -1);
    EXPECT_EQ(torrent::select_task_walk(0, 1, max, busyIn({})), -1);
    // Slots above the maximum are never visited.
    EXPECT_EQ(torrent::select_task_walk(1, 1, 3, busyIn({5})), -1);
}

TEST(BodyHitTest, MarginsPerLayoutAndLayoutTwosBorder)
{
    using torrent::body_hit;
    // Standard: 20 pixels all round are the controls' own area.
    EXPECT_EQ(torrent::hit_test(display_layout::standard, 575, 400, 20, 20), body_hit::caption);
    EXPECT_EQ(torrent::hit_test(display_layout::standard, 575, 400, 19, 200), body_hit::client);
    EXPECT_EQ(torrent::hit_test(display_layout::standard, 575, 400, 555, 200), body_hit::client);
    EXPECT_EQ(torrent::hit_test(display_layout::standard, 575, 400, 300, 380), body_hit::client);
    // Layout 3: 8 at the top and bottom.
    EXPECT_EQ(torrent::hit_test(display_layout::single_line_extended, 505, 200, 100, 8), body_hit::caption);
    EXPECT_EQ(torrent::hit_test(display_layout::single_line_extended, 505, 200, 100, 7), body_hit::client);
    EXPECT_EQ(torrent::hit_test(display_layout::single_line_extended, 505, 200, 100, 192), body_hit::client);
    // Layout 2: all of the strip but its first 20 pixels, which answer as the border.
    EXPECT_EQ(torrent::hit_test(display_layout::single_line, 380, 30, 20, 0), body_hit::caption);
    EXPECT_EQ(torrent::hit_test(display_layout::single_line, 380, 30, 379, 29), body_hit::caption);
    EXPECT_EQ(torrent::hit_test(display_layout::single_line, 380, 30, 5, 15), body_hit::right_border);
}

TEST(PlanStrip, LaidOutFromTheRightWithTheButtonsAndFiguresLeftOut)
{
    torrent::strip_widths w; // margin 3, spacing 4, symbol 20, close 24, go 40, save_to 60
    const torrent::strip_plan all = torrent::plan_strip(600, w, true, true);
    EXPECT_EQ(all.close.right(), 597);
    EXPECT_EQ(all.go.right(), all.close.x - 4);
    EXPECT_EQ(all.save_to.right(), all.go.x - 4);
    EXPECT_EQ(all.upload.right(), all.save_to.x - 4);
    EXPECT_EQ(all.upload.width, 65);
    EXPECT_EQ(all.download.right(), all.upload.x - 4);
    EXPECT_EQ(all.time_left.right(), all.download.x - 4);
    EXPECT_EQ(all.completion.right(), all.time_left.x - 4);
    EXPECT_EQ(all.connections.right(), all.completion.x - 4);
    EXPECT_EQ(all.symbol.x, 3);
    EXPECT_EQ(all.status.x, 27);
    EXPECT_EQ(all.status.right(), all.connections.x - 4);

    // Without "Go" the figures move right by what the two buttons took.
    const torrent::strip_plan noGo = torrent::plan_strip(600, w, false, true);
    EXPECT_EQ(noGo.go.width, 0);
    EXPECT_EQ(noGo.save_to.width, 0);
    EXPECT_EQ(noGo.upload.right(), noGo.close.x - 4);
    EXPECT_EQ(noGo.status.width, all.status.width + 40 + 60 + 8);

    // Without time and completion the connections follow the download speed.
    const torrent::strip_plan bare = torrent::plan_strip(600, w, true, false);
    EXPECT_EQ(bare.time_left.width, 0);
    EXPECT_EQ(bare.connections.right(), bare.download.x - 4);

    // What the parts need besides the status bar leaves it exactly the rest.
    for (const bool go : {true, false})
        for (const bool figures : {true, false})
            EXPECT_EQ(
                torrent::plan_strip(torrent::strip_needs(w, go, figures) + 50, w, go, figures).status.width,
                50);

    // Too narrow a window leaves the status bar no room, never a negative width.
    EXPECT_EQ(torrent::plan_strip(100, w, true, true).status.width, 0);
}

} // namespace
