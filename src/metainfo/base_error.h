#pragma once

#include <cstdint>
#include <exception>

namespace torrent
{

// The engine's exception: one error-code byte and no message. Thrown only inside parsing,
// storage and the mapped blocks; each facade turns it into its own result code.
class base_error : public std::exception
{
public:
    explicit base_error(std::uint8_t code) noexcept
        : m_text{static_cast<char>(code), '\0'}
    {
    }

    // The two-byte text: the code byte followed by a zero byte.
    [[nodiscard]] const char* what() const noexcept override { return m_text; }

    [[nodiscard]] std::uint8_t code() const noexcept { return static_cast<std::uint8_t>(m_text[0]); }

private:
    char m_text[2];
};

// The code table, shared by every folder that throws base_error.
namespace err
{
// info dictionary invalid: no "files" and no "length", empty "files", "pieces" length not a
// multiple of 20, total size 0, piece count mismatch, bad piece length, unsafe name
inline constexpr std::uint8_t invalid_info = 1;
// invalid file entry in "files" (empty path, bad size, unsafe path component)
inline constexpr std::uint8_t invalid_file_entry = 2;
// two bitfields of different sizes combined
inline constexpr std::uint8_t bitfield_size_mismatch = 3;
// piece buffer without a piece index or without spans, or a piece cannot be hashed
inline constexpr std::uint8_t piece_hash = 5;
// piece not in progress when dropped, or no free task slot
inline constexpr std::uint8_t not_available = 6;
// piece index out of range, file not open, or piece data shorter than the piece
inline constexpr std::uint8_t piece_unavailable = 7;
// a block transfer meets an empty chunk
inline constexpr std::uint8_t empty_chunk = 8;
// the info-hash cannot be computed
inline constexpr std::uint8_t info_hash = 9;
// file-entry reader called past the last entry
inline constexpr std::uint8_t past_last_entry = 11;
// mapped file: wrong size or block absent
inline constexpr std::uint8_t mapped_size = 12;
// mapped block handle misuse
inline constexpr std::uint8_t handle_misuse = 13;
// the file or mapping is not usable
inline constexpr std::uint8_t mapping_unusable = 14;
// wrong kind or absent dictionary key in a bvalue accessor
inline constexpr std::uint8_t kind_mismatch = 15;
// a mapped page cannot be read or written (the file shrank under the mapping, or the disk
// failed): the access raised SIGBUS and was abandoned
inline constexpr std::uint8_t mapped_fault = 16;
} // namespace err

} // namespace torrent
