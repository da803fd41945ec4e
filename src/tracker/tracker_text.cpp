#include "tracker/tracker_text.h"

#include <algorithm>
#include <cstdint>

namespace torrent
{

namespace
{

// Length of the well-formed UTF-8 sequence at text[i], or 0 when there is none.
std::size_t utf8_length(std::string_view text, std::size_t i) noexcept
{
    const auto byte = [&](std::size_t k)
    {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char b = byte(i);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
    {
        n = 2;
        cp = b & 0x1FU;
    }
    else if (b >= 0xE0 && b <= 0xEF)
    {
        n = 3;
        cp = b & 0x0FU;
    }
    else if (b >= 0xF0 && b <= 0xF4)
    {
        n = 4;
        cp = b & 0x07U;
    }
    else
    {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
    {
        if ((byte(i + k) & 0xC0U) != 0x80U)
            return 0;
        cp = (cp << 6U) | (byte(i + k) & 0x3FU);
    }
    // Overlong forms, surrogates, code points beyond U+10FFFF and the C1 controls.
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || (cp >= 0x80 && cp <= 0x9F))
        return 0;
    return n;
}

} // namespace

std::string tracker_text(std::string_view raw)
{
    std::string out;
    out.reserve(std::min(raw.size(), max_tracker_text));
    for (std::size_t i = 0; i < raw.size();)
    {
        const std::size_t n = utf8_length(raw, i);
        const auto b = static_cast<unsigned char>(raw[i]);
        const bool control = n == 1 && (b < 0x20 || b == 0x7F);
        const std::size_t take = n == 0 || control ? 1 : n;
        if (out.size() + take > max_tracker_text)
            break;
        if (n == 0 || control)
            out += '?';
        else
            out.append(raw.substr(i, n));
        i += take;
    }
    return out;
}

} // namespace torrent
