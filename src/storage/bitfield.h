#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace torrent
{

// A bit array in peer-wire layout: bit i is bit (7 - i mod 8) of byte i / 8, so bit 0 is
// the most significant bit of the first byte. Bits beyond bit_count() are kept zero.
// Copying deep-copies. Not thread-safe.
class bitfield
{
public:
    bitfield() = default;

    explicit bitfield(std::uint32_t bit_count) { resize(bit_count); }

    // bit_count bits, all cleared.
    void resize(std::uint32_t bit_count);

    // Ignored when i is not below bit_count().
    void set(std::uint32_t i, bool value) noexcept;

    // Bit i; i must be below bit_count().
    [[nodiscard]] bool test(std::uint32_t i) const noexcept
    {
        return (m_bytes[i >> 3] & (0x80u >> (i & 7))) != 0;
    }

    // resize(bit_count), then bit i taken from bytes for every i below bit_count (missing
    // bytes count as zero; spare bits of the last byte are dropped).
    void from_bytes(std::span<const std::uint8_t> bytes, std::uint32_t bit_count);

    void set_all() noexcept;

    [[nodiscard]] std::uint32_t count() const noexcept;

    // True when no bit is set (also for an empty bitfield).
    [[nodiscard]] bool none() const noexcept;

    // True when bit_count() is not 0 and every bit is set.
    [[nodiscard]] bool all() const noexcept;

    // Clears every bit that is set in other. Raises base_error 3 on a size mismatch.
    void and_not(const bitfield& other);

    // Keeps only the bits that are also set in other. Raises base_error 3 on a size mismatch.
    void and_with(const bitfield& other);

    [[nodiscard]] std::uint32_t bit_count() const noexcept { return m_bit_count; }

    // ceil(bit_count / 8): the bytes in use.
    [[nodiscard]] std::size_t byte_count() const noexcept { return m_bytes.size(); }

    [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return m_bytes; }

    [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return m_bytes; }

    friend bool operator==(const bitfield& a, const bitfield& b) = default;

private:
    void clear_spare_bits() noexcept;

    std::uint32_t m_bit_count = 0;
    std::vector<std::uint8_t> m_bytes;
};

// ceil(bit_count / 8)
[[nodiscard]] constexpr std::size_t bitfield_bytes(std::uint32_t bit_count) noexcept
{
    return (std::size_t{bit_count} + 7) / 8;
}

} // namespace torrent
