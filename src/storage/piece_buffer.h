#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "metainfo/sha1.h"
#include "storage/block_handle.h"

namespace torrent
{

// One part of a piece that lies in one file: where it starts inside the piece and the
// mapped block (or placeholder) that holds it.
struct piece_span
{
    std::uint32_t position = 0;
    BlockHandle handle;
    std::uint32_t file = 0; // index of the file in the torrent's file table
};

// A piece as an ordered list of mapped spans (one per file it touches), in file order.
// Reads, writes and hashing go through the spans in place; nothing is copied.
class piece_buffer
{
public:
    explicit piece_buffer(std::int32_t index = -1) noexcept
        : m_index(index)
    {
    }

    // Appends a span of file `file` at the current length. Raises base_error 5 when the
    // buffer has no index; an empty span is ignored; a placeholder marks the buffer as
    // holding no data (a zeros span holds data: zeros).
    void add(BlockHandle handle, std::uint32_t file = 0);

    [[nodiscard]] std::int32_t index() const noexcept { return m_index; }

    // True when some span belongs to a file with no data behind it (unselected).
    [[nodiscard]] bool no_data() const noexcept { return m_no_data; }

    [[nodiscard]] const std::vector<piece_span>& spans() const noexcept { return m_spans; }

    // Bytes covered: position plus length of the last span (0 when empty).
    [[nodiscard]] std::uint32_t length() const noexcept { return m_length; }

    // The last span whose position is not greater than p. Raises base_error 5 when empty.
    [[nodiscard]] const piece_span& span_at(std::uint32_t p) const;

    // SHA-1 of the spans' bytes in order, read through the fault guard. Raises base_error 5
    // without index or spans, for a placeholder span, or when hashing fails; 16 when a mapped
    // page cannot be read (faulted_file() names the span's file).
    [[nodiscard]] sha1_digest digest() const;

    // The file of the span whose pages faulted in the last digest(), or -1.
    [[nodiscard]] std::int64_t faulted_file() const noexcept { return m_faulted_file; }

    // "" when no_data(); otherwise the digest as 40 upper-case hexadecimal characters.
    [[nodiscard]] std::string digest_text() const;

    // Lets go of every span; returns how many there were.
    std::size_t release() noexcept;

private:
    std::int32_t m_index;
    bool m_no_data = false;
    std::uint32_t m_length = 0;
    std::vector<piece_span> m_spans;
    mutable std::int64_t m_faulted_file = -1;
};

} // namespace torrent
