#pragma once

#include <cstdint>
#include <string>

namespace torrent
{

// What went wrong with a torrent's files, when opening them or while blocks are read and
// written. Each kind is its own code; the text shown for it is made by the window's result
// table from the code and the details below (path, the system's errno, sizes).
enum class storage_fault : std::uint8_t
{
    none = 0,
    invalid = 1, // the metainfo is invalid (reason)
    no_space = 2, // the volume has fewer free bytes (available) than needed (needed)
    folder_failed = 3, // a folder cannot be created (path, errno)
    file_open_failed = 4, // a content file cannot be opened or created (path, errno)
    file_locked = 5, // another program holds the file (path)
    file_too_long = 6, // the file on disk is longer than the torrent says (path, needed, available)
    file_size_failed = 7, // the file cannot be sized (path, errno)
    path_leaves_folder = 8, // a link on the way leads out of the save folder (path = the link)
    too_many_files = 9, // more files than the process may hold open (needed, available)
    state_file_failed = 10, // the piece-state file cannot be opened, created or sized (path, errno)
    state_file_too_long = 11, // the piece-state file is longer than its bitmap (path)
    read_only_incomplete = 12, // a file cannot be written and its pieces are not all present (path)
    read_failed = 13, // a block cannot be read (path, errno)
    write_failed = 14, // a block cannot be written (path, errno)
    file_shrunk = 15, // the file became shorter than the torrent says (path, needed, available)
    state_write_failed = 16, // the piece-state file cannot be written any more (path, errno)
    path_too_long = 17, // a path is longer than the system allows (path, needed, available)
};

inline constexpr std::uint8_t storage_fault_count = 18;

// One fault with its details; `fault == none` means no fault.
struct storage_error
{
    storage_fault fault = storage_fault::none;
    std::string path; // the file or folder concerned
    int error_number = 0; // errno of the failing call, 0 when there was none
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
    std::string reason; // invalid metainfo: why, in one line

    [[nodiscard]] explicit operator bool() const noexcept { return fault != storage_fault::none; }
};

} // namespace torrent
