#pragma once

#include <string>
#include <string_view>

namespace torrent
{

// Removes trailing '/' from a folder the user gave ("/" itself stays "/").
[[nodiscard]] std::string trim_trailing_slashes(std::string_view folder);

// Joins two path parts with exactly one '/'.
[[nodiscard]] std::string join_path(std::string_view folder, std::string_view name);

// The part after the last '/', or the whole text when there is none.
[[nodiscard]] std::string_view file_name_of(std::string_view path) noexcept;

// The part before the last '/', or "" when there is none.
[[nodiscard]] std::string_view parent_of(std::string_view path) noexcept;

// "Exists and is a regular file" (follows symbolic links).
[[nodiscard]] bool is_regular_file(const std::string& path) noexcept;
[[nodiscard]] bool is_folder(const std::string& path) noexcept;

// Creates a folder and every missing parent (mode 0755). True when it exists afterwards.
bool make_folders(const std::string& path) noexcept;

// Reads a whole file into `out`; false (with errno set) when it cannot be opened or read.
// `limit` bounds the size read so a huge or endless file cannot exhaust memory.
bool read_whole_file(const std::string& path, std::string& out, std::size_t limit = std::size_t{64} << 20);

// Writes `data` to `path` through a temporary file and a rename, so readers never see
// half a file. False on any failure (nothing is left behind).
bool write_file_atomically(const std::string& path, std::string_view data);

} // namespace torrent
