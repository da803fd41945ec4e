#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metainfo/bvalue.h"

namespace torrent
{

// Largest file size a file entry may declare (32 GiB; exactly this is accepted).
inline constexpr std::int64_t max_file_entry_size = std::int64_t{1} << 35;

// Most path components a file entry may have (its folders and its name). No real torrent
// comes near it; a path thousands of folders deep only costs time and leaves folders
// behind.
inline constexpr std::size_t max_path_components = 128;
// Longest name of one path component and of a torrent's whole relative path (name plus
// components), in bytes: what Linux file systems and path calls take (NAME_MAX, PATH_MAX - 1).
inline constexpr std::size_t max_component_bytes = 255;
inline constexpr std::size_t max_relative_path_bytes = 4095;
// Most files a torrent may list. Every file is held open while its torrent runs, and each
// costs about a kilobyte of memory on the way in; a million-file torrent cannot run anyway.
inline constexpr std::size_t max_file_count = 100000;

// One row of a torrent's file table, in metainfo order. The storage pairs each row with its
// mapped file.
struct file_entry
{
    // Path components below the torrent's top folder (single-file: the one component name).
    std::vector<std::string> path;
    // Byte offset of the file's first byte in the concatenated torrent data.
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    // Piece holding the file's first byte.
    std::int32_t first_piece = -1;
    // Single-file: index of the last piece. Multi-file: (offset + size) / piece_length, the
    // piece holding the byte just after the file (one past the last piece when the file ends
    // on a piece boundary).
    std::int32_t end_piece = -1;
    // Set when a path component is empty and the size is 0 (a padding entry): no file is
    // created for it.
    bool placeholder = false;
    // A padding file ("attr" holds 'p'): bytes that only align the next file to a piece
    // boundary. Never created on disk, read as zeros, never shown to the user.
    bool pad = false;
    // The file is wanted.
    bool selected = true;
};

// True when a name or path component from a .torrent may be used as one file-system name
// below the save folder: not "." or "..", no '/' and no NUL byte (so it cannot be absolute
// either), at most max_component_bytes long. The empty string passes (padding entries);
// callers decide about it.
[[nodiscard]] bool is_safe_path_component(std::string_view component) noexcept;

// Reads the entries of an info dictionary's "files" list one by one, keeping the running
// offset (starting at 0). Raises base_error: code 11 past the last entry; code 2 for an
// invalid entry (empty path, an empty component in a file of non-zero size, a negative size
// or one above max_file_entry_size, an unsafe path component, more than
// max_path_components components); code 15 for an absent key or a value of the wrong kind.
// An entry whose "attr" string holds 'p' is a padding file.
class file_entry_reader
{
public:
    // files must be the "files" list; it must outlive the reader. When why is given, a
    // failure also writes a one-line reason to it. A list longer than max_file_count
    // raises code 1.
    explicit file_entry_reader(const bvalue& files, std::string* why = nullptr);

    [[nodiscard]] bool at_end() const noexcept { return m_next == m_files->size(); }

    [[nodiscard]] std::uint64_t running_offset() const noexcept { return m_offset; }

    // Fills entry (path, size, offset, placeholder) from the next list element and advances.
    void read(file_entry& entry);

private:
    const bvalue::list_type* m_files;
    std::string* m_why;
    std::size_t m_next = 0;
    std::uint64_t m_offset = 0;
};

} // namespace torrent
