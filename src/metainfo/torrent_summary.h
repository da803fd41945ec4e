#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metainfo/file_selection.h"
#include "metainfo/sha1.h"
#include "metainfo/torrent_metainfo.h"

namespace torrent
{

// One file row of a multi-file summary.
struct summary_file
{
    // Torrent name and path components joined with '/'.
    std::string display_path;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::int32_t first_piece = -1;
    std::int32_t end_piece = -1; // (offset + size) / piece_length
    // A padding file: part of the piece geometry, never on disk, never shown to the user.
    bool pad = false;
};

// What the light reader tells the window and task creation about a .torrent.
struct torrent_summary
{
    std::string name;
    // 40 upper-case hexadecimal characters.
    std::string info_hash;
    bool multi_file = false;
    std::int32_t piece_length = 0;
    // Byte length of "pieces" / 20.
    std::int32_t piece_count = 0;
    std::uint64_t total_size = 0;
    // Multi-file only.
    std::vector<summary_file> files;
    // Sum of the sizes of selected files; single-file: total_size; multi-file read without
    // a selection source: left as the caller set it.
    std::uint64_t selected_size = 0;
    // Not touched by the reader (set from the stored task).
    std::uint64_t downloaded = 0;
    // The raw info-hash.
    sha1_digest info_hash_bytes{};
};

// Indices (in metainfo order, as the file-selection record counts them) of the files a user
// sees: every file but the padding files.
[[nodiscard]] std::vector<std::size_t> user_file_indices(const torrent_summary& summary);

enum class summary_result : std::uint8_t
{
    ok = 1,
    invalid = 2,
    unreadable = 3,
};

// The light reader: fills out from a .torrent file without opening any data file. selection,
// when given, supplies the file-selection record for selected_size. out may be partly filled
// after a failure and must not be used then.
[[nodiscard]] summary_result read_torrent_summary(
    const std::string& path, torrent_summary& out, const file_selection_source* selection = nullptr);
// The same over a torrent already loaded (ok or invalid).
[[nodiscard]] summary_result read_torrent_summary(
    const torrent_metainfo& metainfo, torrent_summary& out, const file_selection_source* selection = nullptr);

} // namespace torrent
