#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "storage/mapped_view.h"

namespace torrent
{

class MappedFile;

// One mapped view of one block of a MappedFile. Shared by every BlockHandle that refers
// to it; unmapped when the last of them lets go (or later, when its file keeps it idle for
// reuse). The mapping covers the block's whole huge-page window(s); `skip` is the distance
// between the start of the mapping and the block's first byte, and skip + length never
// exceeds the mapped size.
// Owner: its handles. Thread: whoever serialises access to the owning MappedFile.
class BlockView
{
public:
    BlockView(mapped_view view, std::uint32_t skip, std::uint32_t length, bool writable) noexcept
        : m_view(std::move(view))
        , m_skip(skip)
        , m_length(length)
        , m_writable(writable)
    {
    }

    BlockView(const BlockView&) = delete;
    BlockView& operator=(const BlockView&) = delete;

    [[nodiscard]] std::byte* address() const noexcept { return m_view.data(); }

    [[nodiscard]] std::size_t mapped_size() const noexcept { return m_view.size(); }

    [[nodiscard]] std::uint32_t skip() const noexcept { return m_skip; }

    [[nodiscard]] std::uint32_t length() const noexcept { return m_length; }

    [[nodiscard]] bool writable() const noexcept { return m_writable; }

    [[nodiscard]] std::uint32_t refs() const noexcept { return m_refs; }

private:
    friend class BlockHandle;
    friend class MappedFile;

    mapped_view m_view;
    std::uint32_t m_skip;
    std::uint32_t m_length;
    std::uint32_t m_refs = 0;
    bool m_writable;
    // The file slot that finds this view, or none once the slot let go of it.
    MappedFile* m_owner = nullptr;
    std::uint32_t m_slot = 0;
};

// What callers hold: a counted reference to a mapped block, or a placeholder of a given
// length for a file that has no data behind it (an unselected file). Copyable; the view
// is unmapped when its last handle is released or destroyed.
class BlockHandle
{
public:
    BlockHandle() noexcept = default;
    BlockHandle(const BlockHandle& other) noexcept;
    BlockHandle& operator=(const BlockHandle& other) noexcept;
    BlockHandle(BlockHandle&& other) noexcept;
    BlockHandle& operator=(BlockHandle&& other) noexcept;

    ~BlockHandle() { release(); }

    [[nodiscard]] static BlockHandle placeholder(std::uint32_t length) noexcept;

    // A block of `length` zero bytes with no file behind it (a padding file of the torrent):
    // it reads as zeros, takes part in hashing as zeros, and bytes written to it are dropped.
    [[nodiscard]] static BlockHandle zeros(std::uint32_t length) noexcept;

    // Start of the block's bytes. Raises base_error 13 for a placeholder or an empty handle.
    [[nodiscard]] std::byte* data() const;

    // Block length (the placeholder length for a placeholder). Raises base_error 13 when
    // the block does not lie inside its view (a broken invariant).
    [[nodiscard]] std::uint32_t length() const;

    [[nodiscard]] bool is_placeholder() const noexcept { return m_placeholder && !m_zeros; }

    [[nodiscard]] bool is_zeros() const noexcept { return m_zeros; }

    [[nodiscard]] bool empty() const noexcept { return m_view == nullptr && !m_placeholder; }

    [[nodiscard]] bool writable() const noexcept { return m_view != nullptr && m_view->writable(); }

    [[nodiscard]] const BlockView* view() const noexcept { return m_view; }

    // Drops this handle's reference (the view is unmapped when it was the last).
    void release() noexcept;

private:
    friend class MappedFile;
    explicit BlockHandle(BlockView* view) noexcept;

    BlockView* m_view = nullptr;
    bool m_placeholder = false;
    bool m_zeros = false; // a placeholder that reads as zeros
    std::uint32_t m_placeholder_length = 0;
};

} // namespace torrent
