#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace torrent
{

// "Zorvik.dat" is an array of 521-byte records, record n at offset n * 521. Record 0 is not a
// task: bytes 1..52 of the file hold the settings block and its save-folder field holds the
// default save folder. A task record is a status byte and two NUL-terminated, NUL-padded
// 260-byte fields: the .torrent path and the save folder.
inline constexpr std::size_t registry_record_size = 521;
inline constexpr std::size_t registry_field_size = 260;
inline constexpr std::size_t registry_path_offset = 1;
inline constexpr std::size_t registry_folder_offset = 261;
inline constexpr std::size_t registry_settings_offset = 1;
// The longest text a field holds: 259 bytes and the terminating NUL.
inline constexpr std::size_t registry_max_text = registry_field_size - 1;
// Record indices are 16-bit.
inline constexpr std::uint32_t registry_max_index = 65535;

enum class task_status : std::uint8_t
{
    running = 30, // running, not complete
    finished = 31, // complete, no longer running
    seeding = 32, // running, complete (uploading)
    free_record = 33, // '!': a deleted task's record, free for the next task
    stopped = 34,
    in_use = 35, // '#': the files are in use by another process (never written)
    missing = 36, // '$': the .torrent no longer exists (in memory only)
};

// A stored status byte that makes a record a task of the list (30..35).
[[nodiscard]] constexpr bool is_listed_status(std::uint8_t byte) noexcept
{
    return byte >= 30 && byte <= 35;
}

// One task of the registry as the task list holds it.
struct task_entry
{
    std::string torrent_path;
    std::string save_folder;
    std::string name; // from the metainfo; the registry leaves it as it is
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    task_status status = task_status::stopped;
    std::uint16_t index = 0; // record index; 0 while the task is not in the file
    // The window's display record of the task while it runs in this process (its slot),
    // or -1.
    int view_slot = -1;
};

// True when the text fits a 260-byte field unchanged: at most 259 bytes and no NUL byte
// (a NUL would end the stored text early and so store another path).
[[nodiscard]] constexpr bool fits_record_field(std::string_view text) noexcept
{
    return text.size() <= registry_max_text && text.find('\0') == std::string_view::npos;
}

// Writes the 521-byte record of a task (status, both fields NUL-padded). The caller has
// checked both texts with fits_record_field.
void encode_task_record(
    std::span<std::uint8_t, registry_record_size> out,
    std::uint8_t status,
    std::string_view torrent_path,
    std::string_view save_folder) noexcept;

// A stored record read back.
struct stored_record
{
    std::uint8_t status = 0;
    std::string torrent_path;
    std::string save_folder;
};

// The text of one field: the bytes before its first NUL; nothing when the field has none
// (damaged: cutting it would give a different path).
[[nodiscard]] std::optional<std::string> decode_record_field(std::span<const std::uint8_t> field);

// Reads a record; nothing when either field is damaged.
[[nodiscard]] std::optional<stored_record>
decode_task_record(std::span<const std::uint8_t, registry_record_size> record);

} // namespace torrent
