#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

#include "metainfo/bvalue.h"

namespace torrent
{

// Stream decoder: resets out, then decodes exactly one value from the stream's current
// position. Success leaves the stream good and out filled; malformed input (unexpected byte,
// absent ':' or 'e', truncated data, an integer without digits, nesting deeper than
// max_bencode_depth) sets the stream's fail state and leaves out of kind none. Bytes after
// the value are not read. Source offsets are counted from the starting position.
// May throw std::bad_alloc or std::length_error for a string length that cannot be
// allocated; callers treat any exception as invalid input.
void read_bvalue(std::istream& in, bvalue& out);

// Buffer form of the same decoder (same grammar and limits). Returns the number of bytes the
// value took, or 0 on malformed input (out is then of kind none). Source offsets are counted
// from the start of data. Never reads past data.size(). At most `max_values` values (every
// integer, string, list and dictionary, keys not counted) are decoded, which bounds the
// memory a hostile input can take; more fail the decode with *over_budget set.
[[nodiscard]] std::size_t decode_bvalue(
    std::string_view data,
    bvalue& out,
    std::size_t max_values = static_cast<std::size_t>(-1),
    bool* over_budget = nullptr);

// Encoder: appends the encoding of value (dictionaries in ascending key order, a none value
// writes nothing).
void write_bvalue(std::ostream& out, const bvalue& value);

// Encoder into a string (appends).
void encode_bvalue(const bvalue& value, std::string& out);
[[nodiscard]] std::string encode_bvalue(const bvalue& value);

} // namespace torrent
