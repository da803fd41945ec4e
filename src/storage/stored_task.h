#pragma once

#include <cstdint>
#include <string>

#include "metainfo/torrent_summary.h"

namespace torrent
{

enum class stored_task_result : std::uint8_t
{
    ok = 1,
    invalid = 2, // the .torrent is invalid
    unreadable = 3, // the .torrent cannot be opened
    no_space = 4, // data present without saved state, and the volume is too small
};

// Reads a stored task's progress without loading the torrent: fills `summary` (with the
// downloaded bytes from the piece-state file, when there is one). For a multi-file torrent
// `data_folder` becomes the torrent's own folder (save folder + name). A piece-state file
// whose data has disappeared is deleted. `selection_folder` is where file-selection records
// of torrents without a content folder live (the process's data folder when empty).
[[nodiscard]] stored_task_result read_stored_task(
    const std::string& torrent_path,
    const std::string& save_folder,
    std::string& data_folder,
    torrent_summary& summary,
    const std::string& selection_folder = {});

// Downloaded bytes of a piece-state bitmap: every present piece at full length, except
// a present last piece, which counts with its real (possibly shorter) size.
[[nodiscard]] std::uint64_t stored_downloaded_bytes(
    std::uint32_t present,
    bool last_present,
    std::uint32_t piece_count,
    std::uint32_t piece_length,
    std::uint64_t total_size) noexcept;

} // namespace torrent
