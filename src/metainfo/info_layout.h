#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metainfo/bvalue.h"
#include "metainfo/file_entry.h"
#include "metainfo/file_selection.h"
#include "metainfo/sha1.h"

namespace torrent
{

// The file table and piece geometry of a torrent, as the full load builds them for the
// storage. pieces is a view into the "pieces" string of the info dictionary it was parsed
// from (no copy), so that dictionary must outlive the layout; hold the torrent_metainfo.
struct info_layout
{
    std::string name;
    std::uint32_t piece_length = 0;
    bool multi_file = false;
    std::vector<file_entry> files;
    // offset + size of the last file.
    std::uint64_t total_size = 0;
    // Sum of the sizes of selected files (total_size until apply_selection is called).
    std::uint64_t selected_size = 0;
    // Concatenated 20-byte SHA-1 digests, one per piece, in piece order.
    std::string_view pieces;

    [[nodiscard]] std::uint32_t piece_count() const noexcept
    {
        return static_cast<std::uint32_t>(pieces.size() / 20);
    }

    // Bytes in piece index: piece_length, or the remainder for a short last piece.
    [[nodiscard]] std::uint32_t piece_size(std::uint32_t index) const noexcept;
    // Expected digest of piece index (index < piece_count()).
    [[nodiscard]] sha1_digest piece_digest(std::uint32_t index) const noexcept;
    // The same as 40 upper-case hexadecimal characters.
    [[nodiscard]] std::string piece_hash_text(std::uint32_t index) const;

    // Sets each file's selected flag from the record (single-file torrents stay selected)
    // and recomputes selected_size.
    void apply_selection(const file_selection& selection);
};

// "piece length" of an info dictionary; raises code 1 unless it is within 1 .. 2^31-1 (code 15
// when absent or not an integer).
[[nodiscard]] std::uint32_t info_piece_length(const bvalue& info, std::string* why = nullptr);
// "name" of an info dictionary; raises code 1 when it is not a safe file-system name (".",
// "..", or containing '/' or NUL), code 15 when absent or not a string.
[[nodiscard]] const std::string& info_name(const bvalue& info, std::string* why = nullptr);

// The full-load parsing rules. Builds the layout of an info dictionary, every file
// selected. Raises base_error: code 1 (err::invalid_info) for no "files" and no "length",
// an empty "files", a "pieces" length not a multiple of 20, a total size of 0, a piece
// count that does not match the total size, a piece length outside 1 .. 2^31-1, or a name
// that is not a safe file-system name; code 2 for an invalid file entry or two entries
// with one path (padding entries excepted); code 15 for an absent key or a value of the
// wrong kind. When why is given, a failure also writes a one-line reason to it.
[[nodiscard]] info_layout parse_info_layout(const bvalue& info, std::string* why = nullptr);

} // namespace torrent
