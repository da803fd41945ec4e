#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/view_state.h"

namespace torrent
{
struct TaskView;
}

namespace zorvik::cli
{

// Seconds until `remaining` bytes have arrived at `rate` bytes per second; -1 (no
// estimate) when the rate is 0 or the quotient does not fit 32 bits.
[[nodiscard]] std::int64_t seconds_left(std::uint64_t remaining, std::uint64_t rate) noexcept;

// A short word for a display state: downloading, seeding, checking, stopped, done.
[[nodiscard]] std::string_view state_word(torrent::view_state state) noexcept;

// `text` cut to at most `max_bytes` bytes without splitting a UTF-8 character.
[[nodiscard]] std::string cut_utf8(std::string_view text, std::size_t max_bytes);

// One task's progress line: name, completion, download and upload rate, peer count, time
// left (the seeding time left once the task seeds) and the state word in brackets, with
// the window's captions and number formats.
[[nodiscard]] std::string progress_line(const torrent::TaskView& view, std::int64_t time_left);

// Writes status lines and the progress lines of the running tasks. On a terminal the
// progress lines are redrawn in place each time; otherwise every set of progress lines is
// written as plain lines. Status lines always stay.
// Owner: zorvik-cli get. Runs on: its main thread only.
class progress_printer
{
public:
    progress_printer(std::FILE* out, std::FILE* err, bool terminal) noexcept
        : m_out(out)
        , m_err(err)
        , m_terminal(terminal)
    {
    }

    progress_printer(const progress_printer&) = delete;
    progress_printer& operator=(const progress_printer&) = delete;

    // A line that stays (on stdout).
    void message(std::string_view text);
    // A line that stays (on stderr).
    void error(std::string_view text);
    // The current progress lines; on a terminal they replace the ones shown before.
    void progress(std::span<const std::string> lines);

    [[nodiscard]] bool terminal() const noexcept { return m_terminal; }

private:
    // Removes the progress lines from the terminal (they are drawn again after a status line).
    void take_down();
    void draw();

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_terminal;
    std::size_t m_shown = 0; // progress lines on the terminal now
    std::vector<std::string> m_lines;
};

} // namespace zorvik::cli
