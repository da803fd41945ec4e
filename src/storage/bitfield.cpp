#include "storage/bitfield.h"

#include <algorithm>
#include <bit>

#include "metainfo/base_error.h"

namespace torrent
{

void bitfield::resize(std::uint32_t bit_count)
{
    m_bit_count = bit_count;
    m_bytes.assign(bitfield_bytes(bit_count), 0);
    if (bit_count == 0)
        m_bytes.shrink_to_fit();
}

void bitfield::set(std::uint32_t i, bool value) noexcept
{
    if (i >= m_bit_count)
        return;
    const auto mask = static_cast<std::uint8_t>(0x80u >> (i & 7));
    if (value)
        m_bytes[i >> 3] |= mask;
    else
        m_bytes[i >> 3] &= static_cast<std::uint8_t>(~mask);
}

void bitfield::from_bytes(std::span<const std::uint8_t> bytes, std::uint32_t bit_count)
{
    resize(bit_count);
    const std::size_t n = std::min(bytes.size(), m_bytes.size());
    std::copy_n(bytes.begin(), n, m_bytes.begin());
    clear_spare_bits();
}

void bitfield::set_all() noexcept
{
    std::fill(m_bytes.begin(), m_bytes.end(), std::uint8_t{0xFF});
    clear_spare_bits();
}

std::uint32_t bitfield::count() const noexcept
{
    std::uint32_t n = 0;
    for (const std::uint8_t b : m_bytes)
        n += static_cast<std::uint32_t>(std::popcount(b));
    return n;
}

bool bitfield::none() const noexcept
{
    return std::all_of(m_bytes.begin(), m_bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool bitfield::all() const noexcept
{
    return m_bit_count != 0 && count() == m_bit_count;
}

void bitfield::and_not(const bitfield& other)
{
    if (other.m_bit_count != m_bit_count)
        throw base_error(err::bitfield_size_mismatch);
    for (std::size_t i = 0; i < m_bytes.size(); ++i)
        m_bytes[i] &= static_cast<std::uint8_t>(~other.m_bytes[i]);
}

void bitfield::and_with(const bitfield& other)
{
    if (other.m_bit_count != m_bit_count)
        throw base_error(err::bitfield_size_mismatch);
    for (std::size_t i = 0; i < m_bytes.size(); ++i)
        m_bytes[i] &= other.m_bytes[i];
}

void bitfield::clear_spare_bits() noexcept
{
    if (const std::uint32_t used = m_bit_count & 7; used != 0)
        m_bytes.back() &= static_cast<std::uint8_t>(0xFF00u >> used);
}

} // namespace torrent
