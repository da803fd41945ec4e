#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metainfo/file_selection.h"

namespace torrent
{

// Which files of a torrent the user chose, one bit per file in metainfo order, kept in the
// torrent's ".ZRV" state file. Bit i lives in byte i / 8 under the mask 1 << (i mod 8)
// (least significant bit first). Without an array every file counts as chosen.
class selection_record
{
public:
    // Replaces the array by ceil(bit_count / 8) bytes with every file's bit set (every file
    // chosen; the unused high bits of the last byte stay clear).
    void resize(std::uint32_t bit_count);

    // True when there is no array or i is not below bit_count(); otherwise bit i.
    [[nodiscard]] bool chosen(std::uint32_t i) const noexcept;

    // True when there is no array, or when every byte but the last is 0 and none of the
    // last up to 8 bits (indices max(0, bit_count - 8) .. bit_count - 1) is set.
    [[nodiscard]] bool none_chosen() const noexcept;

    // Ignored when there is no array or i is not below bit_count().
    void set(std::uint32_t i, bool value) noexcept;

    // Every byte 0xFF.
    void choose_all() noexcept;

    [[nodiscard]] bool has_array() const noexcept { return m_has_array; }

    [[nodiscard]] std::uint32_t bit_count() const noexcept { return m_bit_count; }

    [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return m_bytes; }

    [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return m_bytes; }

    // Forgets the array (every file chosen again).
    void clear() noexcept;

    // The per-file view the metainfo readers use (nothing when there is no array).
    [[nodiscard]] std::optional<file_selection> to_file_selection() const;

private:
    bool m_has_array = false;
    std::uint32_t m_bit_count = 0;
    std::vector<std::uint8_t> m_bytes;
};

// A stored bit count above this is taken as this many files: no torrent has more, and a
// damaged count must not make us allocate half a gigabyte.
inline constexpr std::uint32_t max_selection_bits = std::uint32_t{1} << 24;

// Where the state file of the torrent `name` saved under `save_folder` lives:
// 1. "save/name/name.ZRV" (beside the content) when it is a regular file;
// 2. otherwise, with B = data_folder + name + ".ZRV" and the content folder "save/name":
//    when B exists and the content folder exists, B is moved into the content folder and
//    that path is the answer (B itself when the move fails);
// 3. when B does not exist: "save/name/name.ZRV" when the content folder exists, else B.
// `data_folder` may end in '/' or not.
[[nodiscard]] std::string
LocateStateFile(const std::string& save_folder, const std::string& name, const std::string& data_folder);

// The same with the process's data folder.
[[nodiscard]] std::string LocateStateFile(const std::string& save_folder, const std::string& name);

// Reads the selection from `path`: 4 bytes little-endian bit count, then up to
// ceil(count / 8) bytes over an all-chosen array. A short file leaves the missing bytes
// 0xFF; a file that cannot be opened (or holds fewer than 4 bytes) leaves `selection`
// without an array, meaning every file is chosen.
void ReadStateFile(selection_record& selection, const std::string& path);

// Writes the selection to its located path (replacing the file as a whole, so a reader
// never sees half of it). False when nothing could be written.
bool WriteStateFile(
    const selection_record& selection,
    const std::string& save_folder,
    const std::string& name,
    const std::string& data_folder);
bool WriteStateFile(
    const selection_record& selection, const std::string& save_folder, const std::string& name);

// Applies the user's marks after a change of choice: gives the selection `marks.size()`
// bits (all chosen) when it has no array yet, sets bit i to marks[i], and when no file is
// chosen at all chooses every file again. Returns whether anything changed, i.e. whether
// the state file needs writing.
bool apply_file_choice(selection_record& selection, const std::vector<bool>& marks);

// The file bytes of a selection: bit count (4 bytes little-endian) and the bit array.
[[nodiscard]] std::string encode_selection_record(const selection_record& selection);

// Parses file bytes as ReadStateFile does (false, leaving no array, when fewer than 4).
bool decode_selection_record(std::span<const std::uint8_t> data, selection_record& selection);

// Finds a torrent's selection record in its state file, for the metainfo readers: the
// record of a torrent saved under `save_folder`, located as LocateStateFile does.
class state_file_selection_source final : public file_selection_source
{
public:
    state_file_selection_source(std::string save_folder, std::string data_folder)
        : m_save_folder(std::move(save_folder))
        , m_data_folder(std::move(data_folder))
    {
    }

    [[nodiscard]] std::optional<file_selection> load(std::string_view torrent_name) const override;

private:
    std::string m_save_folder;
    std::string m_data_folder;
};

} // namespace torrent
