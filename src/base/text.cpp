#include "base/text.h"

#include <cstdio>

namespace torrent
{
namespace
{

char lower_ascii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void append_escaped(std::string& out, unsigned char c)
{
    char buf[5];
    std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
    out += buf;
}

} // namespace

bool is_ascii_blank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim_blanks(std::string_view text) noexcept
{
    while (!text.empty() && is_ascii_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_ascii_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equal_ascii_nocase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        if (lower_ascii(a[i]) != lower_ascii(b[i]))
            return false;
    }
    return true;
}

bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) noexcept
{
    return text.size() >= prefix.size() && equal_ascii_nocase(text.substr(0, prefix.size()), prefix);
}

std::string printable_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls (U+0080..U+009F) are C2 80..C2 9F in UTF-8; some terminals obey them.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
            && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c == '\\' || c1)
        {
            append_escaped(out, c);
            if (c1)
                append_escaped(out, static_cast<unsigned char>(text[++i]));
        }
        else
        {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace torrent
