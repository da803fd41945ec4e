#include "app/cli_get_progress.h"

#include <cstdint>

#include "base/text.h"
#include "engine/task_view.h"
#include "ui/number_format.h"
#include "ui/ui_text.h"

namespace zorvik::cli
{
namespace
{

// Longest name shown in a progress line, in bytes; a longer one would wrap on a narrow
// terminal and spoil the redraw.
constexpr std::size_t name_limit = 32;

void append_field(std::string& line, std::size_t caption, std::string_view value)
{
    line += "  ";
    line += torrent::ui_text(caption);
    line += ' ';
    line += value;
}

} // namespace

std::int64_t seconds_left(std::uint64_t remaining, std::uint64_t rate) noexcept
{
    if (rate == 0)
        return -1;
    const std::uint64_t s = remaining / rate;
    return s > UINT32_MAX ? -1 : static_cast<std::int64_t>(s);
}

std::string_view state_word(torrent::view_state state) noexcept
{
    switch (state)
    {
    case torrent::view_state::downloading:
        return "downloading";
    case torrent::view_state::uploading:
        return "seeding";
    case torrent::view_state::checking:
        return "checking";
    case torrent::view_state::upload_over:
        return "done";
    default:
        return "stopped";
    }
}

std::string cut_utf8(std::string_view text, std::size_t max_bytes)
{
    if (text.size() <= max_bytes)
        return std::string(text);
    std::size_t n = max_bytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0U) == 0x80U)
        --n;
    return std::string(text.substr(0, n));
}

std::string progress_line(const torrent::TaskView& view, std::int64_t time_left)
{
    using namespace torrent;
    std::string line = cut_utf8(view.name, name_limit);
    append_field(line, uitext::caption_completion, FormatPercent(view.held, view.total));
    append_field(line, uitext::caption_download_speed, FormatSize(view.download_rate) + "/s");
    append_field(line, uitext::caption_upload_speed, FormatSize(view.upload_rate) + "/s");
    append_field(line, uitext::caption_connections, std::to_string(view.peer_count));
    append_field(line, uitext::caption_time_left, FormatDuration(time_left));
    line += "  [";
    line += state_word(view.state);
    line += ']';
    return line;
}

// Every line is made safe for the terminal here: names and paths from a .torrent (and what
// peers and trackers say) may hold escape sequences.
void progress_printer::message(std::string_view raw)
{
    const std::string text = torrent::printable_text(raw);
    take_down();
    std::fprintf(m_out, "%s\n", text.c_str());
    draw();
    std::fflush(m_out);
}

void progress_printer::error(std::string_view raw)
{
    const std::string text = torrent::printable_text(raw);
    take_down();
    std::fflush(m_out);
    std::fprintf(m_err, "%s\n", text.c_str());
    std::fflush(m_err);
    draw();
    std::fflush(m_out);
}

void progress_printer::progress(std::span<const std::string> lines)
{
    take_down();
    m_lines.clear();
    for (const std::string& l : lines)
        m_lines.push_back(torrent::printable_text(l));
    if (m_terminal)
    {
        draw();
    }
    else
    {
        for (const std::string& l : m_lines)
            std::fprintf(m_out, "%s\n", l.c_str());
    }
    std::fflush(m_out);
}

void progress_printer::take_down()
{
    if (!m_terminal || m_shown == 0)
        return;
    // Up to the first progress line, then clear from there to the end of the screen.
    std::fprintf(m_out, "\033[%zuF\033[J", m_shown);
    m_shown = 0;
}

void progress_printer::draw()
{
    if (!m_terminal || m_lines.empty())
        return;
    // Automatic wrap off while the lines are drawn: a line wider than the terminal is cut at
    // its right edge instead of taking a second row, so each line is one row to go back up.
    std::fputs("\033[?7l", m_out);
    for (const std::string& l : m_lines)
        std::fprintf(m_out, "%s\n", l.c_str());
    std::fputs("\033[?7h", m_out);
    m_shown = m_lines.size();
}

} // namespace zorvik::cli
