#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace torrent
{

// A set of piece indices held as 64-bit words for fast word-wise set operations.
// Word w holds the wire bytes 8w..8w+7 with byte 8w in its top bits, so bit i of the peer
// wire layout (bit 0 = most significant bit of byte 0) is bit 63 - i % 64 of word i / 64,
// and the wire byte order is the order of the words' bytes from the top down.
// Bits at or beyond the bit count are always zero.
class piece_bits
{
public:
    piece_bits() = default;

    explicit piece_bits(std::uint32_t bit_count) { resize(bit_count); }

    // n bits, all clear; keeps the storage when it is large enough.
    void resize(std::uint32_t bit_count)
    {
        m_bit_count = bit_count;
        m_words.assign(word_count_for(bit_count), 0);
    }

    void clear() noexcept
    {
        for (auto& w : m_words)
            w = 0;
    }

    [[nodiscard]] std::uint32_t bit_count() const noexcept { return m_bit_count; }

    [[nodiscard]] std::uint32_t byte_count() const noexcept { return (m_bit_count + 7) / 8; }

    [[nodiscard]] std::size_t word_count() const noexcept { return m_words.size(); }

    [[nodiscard]] std::uint64_t word(std::size_t w) const noexcept { return m_words[w]; }

    [[nodiscard]] bool test(std::uint32_t i) const noexcept { return (m_words[i >> 6] & mask(i)) != 0; }

    void set(std::uint32_t i) noexcept { m_words[i >> 6] |= mask(i); }

    void reset(std::uint32_t i) noexcept { m_words[i >> 6] &= ~mask(i); }

    // Loads the wire bytes of a bitfield of bit_count() bits; bits past the count are dropped.
    void assign_bytes(std::span<const std::uint8_t> bytes) noexcept
    {
        const std::size_t n = byte_count() < bytes.size() ? byte_count() : bytes.size();
        clear();
        for (std::size_t k = 0; k < n; ++k)
            m_words[k >> 3] |= std::uint64_t{bytes[k]} << (56 - 8 * (k & 7));
        trim();
    }

    // The wire byte k.
    [[nodiscard]] std::uint8_t byte(std::size_t k) const noexcept
    {
        return static_cast<std::uint8_t>(m_words[k >> 3] >> (56 - 8 * (k & 7)));
    }

    [[nodiscard]] std::uint32_t count() const noexcept
    {
        std::uint32_t n = 0;
        for (const auto w : m_words)
            n += static_cast<std::uint32_t>(std::popcount(w));
        return n;
    }

    [[nodiscard]] bool all() const noexcept { return m_bit_count != 0 && count() == m_bit_count; }

    // Number of bits set here and clear in `other` (same bit count).
    [[nodiscard]] std::uint32_t count_and_not(const piece_bits& other) const noexcept
    {
        std::uint32_t n = 0;
        for (std::size_t w = 0; w < m_words.size(); ++w)
            n += static_cast<std::uint32_t>(std::popcount(m_words[w] & ~other.m_words[w]));
        return n;
    }

    [[nodiscard]] static std::size_t word_count_for(std::uint32_t bit_count) noexcept
    {
        return (std::size_t{bit_count} + 63) / 64;
    }

    [[nodiscard]] static constexpr std::uint64_t mask(std::uint32_t i) noexcept
    {
        return std::uint64_t{1} << (63 - (i & 63));
    }

private:
    void trim() noexcept
    {
        const std::uint32_t tail = m_bit_count & 63;
        if (tail != 0)
            m_words.back() &= ~(~std::uint64_t{0} >> tail);
    }

    std::uint32_t m_bit_count = 0;
    std::vector<std::uint64_t> m_words;
};

} // namespace torrent
