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

    // Maps `len` bytes of `fd` from `offset` (shared mapping). `populate` pre-faults the
    // pages, which is cheaper than taking one fault per page when the whole view is read.
    // Returns an empty view and sets *err to errno on failure.
    [[nodiscard]] static mapped_view
    map(int fd, std::size_t len, std::uint64_t offset, bool writable, bool populate, int* err) noexcept;

    // The system's page size, which every view offset is aligned to (queried once).
    [[nodiscard]] static std::uint32_t granularity() noexcept;

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
