#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace torrent
{

// Length of the longest prefix of `text` that is well-formed UTF-8 (no overlong forms,
// no surrogates, nothing above U+10FFFF).
[[nodiscard]] std::size_t utf8_valid_prefix(std::string_view text) noexcept;

[[nodiscard]] inline bool is_valid_utf8(std::string_view text) noexcept
{
    return utf8_valid_prefix(text) == text.size();
}

// True when the bytes from `at` on are the start of a UTF-8 sequence that is well-formed
// so far but cut short by the end of `text`.
[[nodiscard]] bool is_truncated_utf8_tail(std::string_view text, std::size_t at) noexcept;

// The longest prefix of `text` of at most `max_bytes` bytes that does not end inside a
// character. `text` is expected to be valid UTF-8.
[[nodiscard]] std::string_view cut_utf8(std::string_view text, std::size_t max_bytes) noexcept;

// Converts GB18030 bytes to UTF-8 (glibc iconv). With `allow_truncated_tail`, an incomplete
// character at the very end is dropped instead of failing. nullopt when the bytes are not
// GB18030 or the converter is unavailable.
[[nodiscard]] std::optional<std::string> gb18030_to_utf8(std::string_view bytes, bool allow_truncated_tail);

// `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD.
[[nodiscard]] std::string replace_invalid_utf8(std::string_view bytes);

} // namespace torrent
