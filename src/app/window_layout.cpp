#include "app/window_layout.h"

#include <algorithm>

namespace torrent
{
namespace
{

constexpr int body_margin = 20;

} // namespace

display_layout next_layout(display_layout current, bool task_list_mode, bool has_user_size) noexcept
{
    if (task_list_mode)
        return current == display_layout::single_line ? display_layout::single_line_extended
                                                      : display_layout::single_line;
    switch (current)
    {
    case display_layout::compact:
        return display_layout::single_line;
    case display_layout::single_line:
        return display_layout::single_line_extended;
    case display_layout::single_line_extended:
        return display_layout::standard;
    case display_layout::standard:
        return has_user_size ? display_layout::user : display_layout::compact;
    case display_layout::hidden:
    case display_layout::user:
        break;
    }
    return display_layout::compact;
}

int select_task_walk(int current, int step, int max_tasks, const std::function<bool(int)>& busy)
{
    const int n = max_tasks + 1;
    if (n <= 1 || step == 0)
        return -1;
    int c = current;
    for (int i = 0; i < n; ++i)
    {
        c = (c + step) % n;
        if (c < 0)
            c = max_tasks; // a step back from slot 0 goes past the last slot
        if (c == current)
            return -1;
        if (busy(c))
            return c;
    }
    return -1;
}

body_hit hit_test(display_layout layout, int width, int height, int x, int y) noexcept
{
    int left = body_margin;
    int right = width - body_margin;
    int top = layout == display_layout::single_line_extended ? 8 : body_margin;
    int bottom = height - top;
    if (layout == display_layout::single_line)
    {
        right = width;
        top = 0;
        bottom = height;
    }
    if (x >= left && x < right && y >= top && y < bottom)
        return body_hit::caption;
    return layout == display_layout::single_line ? body_hit::right_border : body_hit::client;
}

strip_plan plan_strip(int width, const strip_widths& w, bool buttons_shown, bool time_and_completion) noexcept
{
    strip_plan plan;
    int edge = width - w.margin; // the free space ends here
    auto take = [&](strip_span& span, int part)
    {
        span.width = part;
        span.x = edge - part;
        edge = span.x - w.spacing;
    };
    take(plan.close, w.close);
    if (buttons_shown)
    {
        take(plan.go, w.go);
        take(plan.save_to, w.save_to);
    }
    take(plan.upload, w.speed);
    take(plan.download, w.speed);
    if (time_and_completion)
    {
        take(plan.time_left, w.time_left);
        take(plan.completion, w.completion);
    }
    take(plan.connections, w.connections);
    plan.symbol = {w.margin, w.symbol};
    plan.status.x = plan.symbol.right() + w.spacing;
    plan.status.width = std::max(0, edge - plan.status.x);
    // Left out parts sit at the edge they would have started from, with no width.
    if (!buttons_shown)
        plan.go.x = plan.save_to.x = plan.close.x;
    if (!time_and_completion)
        plan.time_left.x = plan.completion.x = plan.download.x;
    return plan;
}

int strip_needs(const strip_widths& w, bool buttons_shown, bool time_and_completion) noexcept
{
    // Laid out in a window of width 0, the parts end left of 0 by what they need.
    const strip_plan plan = plan_strip(0, w, buttons_shown, time_and_completion);
    return plan.symbol.right() + w.spacing - plan.connections.x + w.spacing;
}

} // namespace torrent
