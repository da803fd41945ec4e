#include "app/command_line.h"

#include <limits>
#include <vector>

namespace torrent
{
namespace
{

char fold_ascii(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_c_space(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string join_arguments(std::span<const std::string_view> args)
{
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (i > 0)
            out += ' ';
        const std::string_view arg = args[i];
        if (arg.find_first_of(" \t") != std::string_view::npos)
        {
            out += '"';
            out += arg;
            out += '"';
        }
        else
            out += arg;
    }
    return out;
}

} // namespace

command_line::command_line(std::string_view text)
{
    // Only blanks are removed, not tabs.
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    m_text.assign(text);
    m_folded.resize(m_text.size());
    for (std::size_t i = 0; i < m_text.size(); ++i)
        m_folded[i] = fold_ascii(m_text[i]);
}

command_line command_line::from_arguments(std::span<char* const> args)
{
    std::vector<std::string_view> views;
    views.reserve(args.size());
    for (const char* arg : args)
        views.emplace_back(arg != nullptr ? arg : "");
    return command_line(join_arguments(views));
}

command_line command_line::from_arguments(std::span<const std::string> args)
{
    std::vector<std::string_view> views(args.begin(), args.end());
    return command_line(join_arguments(views));
}

std::size_t command_line::find(std::string_view name) const noexcept
{
    if (name.empty())
        return std::string::npos;
    std::string folded_name(name);
    for (char& c : folded_name)
        c = fold_ascii(c);
    return m_folded.find(folded_name);
}

std::int32_t atoi_rule(std::string_view text) noexcept
{
    std::size_t at = 0;
    while (at < text.size() && is_c_space(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    // Accumulate towards the limit of the sign, stopping there instead of overflowing.
    constexpr std::int64_t max_magnitude = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > max_magnitude)
            magnitude = max_magnitude;
    }
    if (negative)
        return static_cast<std::int32_t>(-magnitude);
    return magnitude > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                                : static_cast<std::int32_t>(magnitude);
}

int_option ReadIntOption(const command_line& line, std::string_view name) noexcept
{
    const std::size_t at = line.find(name);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + name.size();
    const std::string& text = line.folded();
    if (start >= text.size())
        return {};
    const std::size_t end = text.find(' ', start);
    const std::string_view value =
        std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start);
    return {true, atoi_rule(value)};
}

} // namespace torrent
