#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace torrent
{

// Response header fields keyed by their lower-cased name. A repeated name is stored again
// under the name with one '_' appended per earlier occurrence ("set-cookie",
// "set-cookie_", "set-cookie__").
using header_map = std::map<std::string, std::string, std::less<>>;

// The longest reason phrase kept from a status line.
inline constexpr std::size_t max_status_text = 255;

// Adds one raw header line ("Name: value", with or without its CR LF) to the map: the key is
// the text before the first ':' trimmed of blanks and folded to lower case, the value the
// text after it trimmed. Lines without ':' or starting with ':' (the status line among them)
// are skipped; so are lines whose key is blank.
void add_header_line(header_map& headers, std::string_view line);

// Reads an HTTP status line ("HTTP/1.1 404 Not Found"). True when the line starts with
// "HTTP/" and carries a three-digit code; the reason phrase (possibly empty) is cut to
// max_status_text bytes.
[[nodiscard]] bool parse_status_line(std::string_view line, int& code, std::string& reason);

} // namespace torrent
