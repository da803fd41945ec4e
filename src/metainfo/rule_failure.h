#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "metainfo/bvalue.h"

namespace torrent
{

// Raises base_error(code), first writing a one-line reason to why when the caller asked for
// one (the command line shows it; the engine only needs the code).
[[noreturn]] void fail_rule(std::uint8_t code, std::string* why, const std::string& text);

// dict[key] when it is present and of the given kind; otherwise raises code 15 with a reason
// such as "\"piece length\" is missing". context prefixes the reason ("file 3: ").
[[nodiscard]] const bvalue& required_key(
    const bvalue& dict,
    std::string_view key,
    bvalue_kind kind,
    std::string* why,
    std::string_view context = {});

} // namespace torrent
