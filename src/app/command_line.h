#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torrent
{

// The command line as the program reads it: the arguments after the program path as one
// text. Options are found by their name anywhere in the text, compared with ASCII letters
// folded to lower case; the text itself keeps its case, so paths on it stay usable on a
// case-sensitive file system.
class command_line
{
public:
    command_line() = default;

    // A prepared line from a text (as received from another copy): leading blanks removed.
    explicit command_line(std::string_view text);

    // The arguments after the program path (argv[1..]) joined with single blanks; one that
    // contains a blank or a tab is wrapped in double quotes, so it stays one piece for the
    // copy that receives the line.
    [[nodiscard]] static command_line from_arguments(std::span<char* const> args);
    [[nodiscard]] static command_line from_arguments(std::span<const std::string> args);

    [[nodiscard]] const std::string& text() const noexcept { return m_text; }

    // The text with ASCII letters in lower case (same length as text()).
    [[nodiscard]] const std::string& folded() const noexcept { return m_folded; }

    [[nodiscard]] bool empty() const noexcept { return m_text.empty(); }

    // Offset of the first occurrence of an option name, compared case-insensitively, or
    // npos. There is no tokenising: a name inside a path or another word is found too.
    [[nodiscard]] std::size_t find(std::string_view name) const noexcept;

    // Presence of a flag option such as "-set".
    [[nodiscard]] bool has(std::string_view name) const noexcept { return find(name) != std::string::npos; }

    // True when the line starts with '-' (a line of options rather than a path).
    [[nodiscard]] bool begins_with_option() const noexcept
    {
        return !m_text.empty() && m_text.front() == '-';
    }

    friend bool operator==(const command_line& a, const command_line& b) noexcept
    {
        return a.m_text == b.m_text;
    }

private:
    std::string m_text;
    std::string m_folded;
};

// The C atoi rule: leading white space, an optional sign, decimal digits up to the first
// other character; no digits gives 0. Values beyond 32 bits saturate at the nearest limit.
[[nodiscard]] std::int32_t atoi_rule(std::string_view text) noexcept;

struct int_option
{
    bool found = false;
    std::int32_t value = 0;
};

// Reads an integer option whose value follows its name directly ("-tc8"). Not found when
// the name is absent or ends the line; otherwise the value runs to the next blank and is
// converted with the atoi rule, so "-tc 8" reads as found with 0.
[[nodiscard]] int_option ReadIntOption(const command_line& line, std::string_view name) noexcept;

} // namespace torrent
