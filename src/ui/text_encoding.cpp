#include "ui/text_encoding.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace torrent
{
namespace
{

// Length of the well-formed sequence starting at `at`, or 0 when it is ill-formed. When
// the sequence is well-formed so far but runs past the end, `truncated` is set.
std::size_t sequence_length(std::string_view text, std::size_t at, bool& truncated) noexcept
{
    truncated = false;
    const auto b0 = static_cast<unsigned char>(text[at]);
    if (b0 < 0x80)
        return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        len = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF)
    {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b0 == 0xED)
            hi = 0x9F; // no surrogates
    }
    else if (b0 >= 0xF0 && b0 <= 0xF4)
    {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    }
    else
        return 0;
    for (std::size_t i = 1; i < len; ++i)
    {
        if (at + i >= text.size())
        {
            truncated = true;
            return 0;
        }
        const auto b = static_cast<unsigned char>(text[at + i]);
        if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return 0;
    }
    return len;
}

// Owns one iconv conversion descriptor.
class iconv_handle
{
public:
    iconv_handle(const char* to, const char* from)
        : m_cd(::iconv_open(to, from))
    {
    }

    ~iconv_handle()
    {
        if (valid())
            ::iconv_close(m_cd);
    }

    iconv_handle(const iconv_handle&) = delete;
    iconv_handle& operator=(const iconv_handle&) = delete;

    [[nodiscard]] bool valid() const noexcept
    {
        return m_cd != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    }

    [[nodiscard]] iconv_t get() const noexcept { return m_cd; }

private:
    iconv_t m_cd;
};

} // namespace

std::size_t utf8_valid_prefix(std::string_view text) noexcept
{
    std::size_t at = 0;
    bool truncated = false;
    while (at < text.size())
    {
        const std::size_t len = sequence_length(text, at, truncated);
        if (len == 0)
            break;
        at += len;
    }
    return at;
}

bool is_truncated_utf8_tail(std::string_view text, std::size_t at) noexcept
{
    if (at >= text.size())
        return false;
    bool truncated = false;
    return sequence_length(text, at, truncated) == 0 && truncated;
}

std::string_view cut_utf8(std::string_view text, std::size_t max_bytes) noexcept
{
    if (text.size() <= max_bytes)
        return text;
    std::size_t end = max_bytes;
    // Step back over continuation bytes to the start of the character that was cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::optional<std::string> gb18030_to_utf8(std::string_view bytes, bool allow_truncated_tail)
{
    const iconv_handle cd("UTF-8", "GB18030");
    if (!cd.valid())
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 8);
    // iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    std::array<char, 4096> chunk{};
    while (in_left > 0)
    {
        char* dst = chunk.data();
        std::size_t dst_left = chunk.size();
        const std::size_t rc = ::iconv(cd.get(), &in, &in_left, &dst, &dst_left);
        out.append(chunk.data(), chunk.size() - dst_left);
        if (rc != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        if (errno == EINVAL && allow_truncated_tail)
            break;
        return std::nullopt;
    }
    return out;
}

std::string replace_invalid_utf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    bool truncated = false;
    while (at < bytes.size())
    {
        const std::size_t len = sequence_length(bytes, at, truncated);
        if (len == 0)
        {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        out.append(bytes.substr(at, len));
        at += len;
    }
    return out;
}

} // namespace torrent
