#include "tracker/http_headers.h"

#include "base/text.h"

namespace torrent
{

namespace
{

char to_lower_ascii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

void add_header_line(header_map& headers, std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return;
    const std::string_view name = trim_blanks(line.substr(0, colon));
    if (name.empty())
        return;
    std::string key;
    key.reserve(name.size() + 2);
    for (const char c : name)
        key.push_back(to_lower_ascii(c));
    while (headers.find(key) != headers.end())
        key.push_back('_');
    headers.emplace(std::move(key), std::string(trim_blanks(line.substr(colon + 1))));
}

bool parse_status_line(std::string_view line, int& code, std::string& reason)
{
    if (line.substr(0, 5) != "HTTP/")
        return false;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return false;
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.size() < 3)
        return false;
    int value = 0;
    for (std::size_t i = 0; i < 3; ++i)
    {
        if (rest[i] < '0' || rest[i] > '9')
            return false;
        value = value * 10 + (rest[i] - '0');
    }
    if (rest.size() > 3 && !is_ascii_blank(rest[3]))
        return false;
    code = value;
    const std::string_view text = trim_blanks(rest.substr(3));
    reason.assign(text.substr(0, max_status_text));
    return true;
}

} // namespace torrent
