#include "net/peer_wire.h"

#include <algorithm>
#include <cstring>

namespace torrent::wire
{

namespace
{

std::uint8_t nibble(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return 0;
}

} // namespace

info_hash_bytes hash_bytes_of(std::string_view text) noexcept
{
    info_hash_bytes out{};
    for (std::size_t i = 0; i < out.size() && 2 * i + 1 < text.size(); ++i)
        out[i] = static_cast<std::byte>((nibble(text[2 * i]) << 4) | nibble(text[2 * i + 1]));
    return out;
}

std::string hash_text_of(std::span<const std::byte> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::byte b : bytes)
    {
        const auto v = std::to_integer<std::uint8_t>(b);
        text.push_back(digits[v >> 4]);
        text.push_back(digits[v & 0x0F]);
    }
    return text;
}

void write_handshake(
    std::span<std::byte, handshake_size> out, const info_hash_bytes& hash, std::string_view peer_id)
{
    std::memset(out.data(), 0, out.size());
    out[0] = static_cast<std::byte>(protocol.size());
    std::memcpy(out.data() + 1, protocol.data(), protocol.size());
    std::memcpy(out.data() + info_hash_offset, hash.data(), hash.size());
    std::memcpy(out.data() + peer_id_offset, peer_id.data(), std::min(peer_id.size(), peer_id_size));
}

bool protocol_prefix_matches(std::span<const std::byte> bytes) noexcept
{
    if (bytes.empty())
        return true;
    if (std::to_integer<std::uint8_t>(bytes[0]) != protocol.size())
        return false;
    const std::size_t n = std::min(bytes.size() - 1, protocol.size());
    return std::memcmp(bytes.data() + 1, protocol.data(), n) == 0;
}

std::string_view peer_id_text_of(std::span<const std::byte, handshake_size> handshake) noexcept
{
    const auto* id = reinterpret_cast<const char*>(handshake.data() + peer_id_offset);
    std::size_t n = 0;
    while (n < peer_id_size && id[n] != 0)
        ++n;
    return {id, n};
}

} // namespace torrent::wire
