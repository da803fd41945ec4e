#pragma once

#include <cstdint>
#include <functional>

namespace torrent
{

// The main window's display layouts: what it shows and at which size.
enum class display_layout : std::uint8_t
{
    hidden = 0, // only the tray icon
    compact = 1, // strip, captions and values, no list
    single_line = 2, // the strip only
    single_line_extended = 3, // strip and list
    standard = 4, // every control
    user = 5, // as standard, at the size the user last dragged
};

// The layout after `current` for Enter, a double click on the body and the right clicks
// that select no task: 2 and 3 alternate in task-list mode; single-task mode goes
// 1 → 2 → 3 → 4 → 5 → 1, and 5 gives 1 while there is no user size.
[[nodiscard]] display_layout
next_layout(display_layout current, bool task_list_mode, bool has_user_size) noexcept;

// The slot that stepping through the running tasks makes current: starting after
// `current`, slots 0..max_tasks are walked by `step` (+1 or -1) with wrap-around until the
// walk comes back to `current`; the first busy one is the answer, -1 when there is none
// (the current slot itself is never the answer).
[[nodiscard]] int
select_task_walk(int current, int step, int max_tasks, const std::function<bool(int)>& busy);

// Where a press on the window's body lands. The body is the client rectangle shrunk by
// 20 pixels left and right and by 20 (8 in layout 3) at the top and bottom; in layout 2
// only its left edge moves 20 pixels right.
enum class body_hit : std::uint8_t
{
    caption, // inside: the window is dragged by it
    right_border, // layout 2 outside it: the window is only widened or narrowed
    client, // elsewhere: the controls' own area
};

[[nodiscard]] body_hit hit_test(display_layout layout, int width, int height, int x, int y) noexcept;

// Widths of the strip's parts in layouts 2 and 3 (pixels; each at least what the font
// needs for its widest text).
struct strip_widths
{
    int margin = 3; // left and right
    int spacing = 4;
    int symbol = 20;
    int close = 24;
    int go = 40;
    int save_to = 60;
    int speed = 65; // upload and download speed each
    int time_left = 40;
    int completion = 40;
    int connections = 20;
};

// A part's horizontal place (width 0: left out).
struct strip_span
{
    int x = 0;
    int width = 0;

    [[nodiscard]] int right() const noexcept { return x + width; }
};

struct strip_plan
{
    strip_span symbol;
    strip_span status;
    strip_span connections;
    strip_span completion;
    strip_span time_left;
    strip_span download;
    strip_span upload;
    strip_span save_to;
    strip_span go;
    strip_span close;
};

// The strip of layouts 2 and 3 laid out from the right edge of a window `width` wide: the
// "x" button, then "Go" and "SaveTo" when shown, the upload speed, the download speed,
// the time left and the completion (when `time_and_completion`), the connection count;
// the status bar takes what is left after the status symbol (never below 0).
[[nodiscard]] strip_plan
plan_strip(int width, const strip_widths& widths, bool buttons_shown, bool time_and_completion) noexcept;

// The width the strip's parts take besides the status bar.
[[nodiscard]] int
strip_needs(const strip_widths& widths, bool buttons_shown, bool time_and_completion) noexcept;

} // namespace torrent
