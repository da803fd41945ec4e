#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace torrent
{

// Owns one memory mapping (mmap .. munmap) of a file region. Move-only.
// The offset handed to `map` must be a multiple of the page size.
class mapped_view
{
public:
    mapped_view() noexcept = default;

    mapped_view(mapped_view&& other) noexcept
        : m_addr(std::exchange(other.m_addr, nullptr))
        , m_size(std::exchange(other.m_size, 0))
    {
    }

    mapped_view& operator=(mapped_view&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            m_addr = std::exchange(other.m_addr, nullptr);
            m_size = std::exchange(other.m_size, 0);
        }
        return *this;
    }

    mapped_view(const mapped_view&) = delete;
    mapped_view& operator=(const mapped_view&) = delete;

    ~mapped_view() { reset(); }

    // Maps `len` bytes of `fd` from `offset` (shared mapping). Returns an empty view and
    // sets *err to errno on failure.
    [[nodiscard]] static mapped_view
    map(int fd, std::size_t len, std::uint64_t offset, bool writable, int* err) noexcept;

    // The system's page size: every view offset is a multiple of it (queried once).
    [[nodiscard]] static std::uint32_t granularity() noexcept;

    // The size and alignment of the file windows that block views map: the huge-page size
    // (2 MiB on x86-64) where the kernel offers transparent huge pages, else the page size.
    // A window that lines up with a huge page of the page cache is mapped by one page-table
    // entry instead of 512, which makes a first touch of the data several times cheaper
    // (most of all on virtual machines, where every page-table update is dear).
    [[nodiscard]] static std::uint32_t window() noexcept;

    // Faults in the pages of [at, at + len) inside the view in one call (reads or writes),
    // rather than one fault per page when the range is used whole. Best effort.
    void populate(std::size_t at, std::size_t len, bool writable) const noexcept;

    [[nodiscard]] std::byte* data() const noexcept { return m_addr; }

    [[nodiscard]] std::size_t size() const noexcept { return m_size; }

    [[nodiscard]] bool valid() const noexcept { return m_addr != nullptr; }

    // Unmaps; false when munmap failed (the view is forgotten either way).
    bool reset() noexcept;

private:
    std::byte* m_addr = nullptr;
    std::size_t m_size = 0;
};

} // namespace torrent
