#pragma once

#include <string>
#include <string_view>

namespace torrent
{

// Space, tab, CR, LF, VT or FF.
[[nodiscard]] bool is_ascii_blank(char c) noexcept;

// `text` without the ASCII blanks (space, tab, CR, LF, VT, FF) at either end: a header
// value, a line of a file edited on another system, a URL typed with a space behind it.
[[nodiscard]] std::string_view trim_blanks(std::string_view text) noexcept;

// Equal but for the case of ASCII letters (header names, MIME types, URL schemes).
[[nodiscard]] bool equal_ascii_nocase(std::string_view a, std::string_view b) noexcept;

[[nodiscard]] bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) noexcept;

// `text` made safe for a terminal: control characters (C0, DEL, and C1 in UTF-8, such as
// ESC of an escape sequence) and backslashes become \xNN, so names from a .torrent can
// neither move the cursor nor hide a line, and the form stays unambiguous.
[[nodiscard]] std::string printable_text(std::string_view text);

} // namespace torrent
