#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torrent::wire
{

// Message ids of the peer wire protocol.
inline constexpr std::uint8_t choke = 0;
inline constexpr std::uint8_t unchoke = 1;
inline constexpr std::uint8_t interested = 2;
inline constexpr std::uint8_t not_interested = 3;
inline constexpr std::uint8_t have = 4;
inline constexpr std::uint8_t bitfield = 5;
inline constexpr std::uint8_t request = 6;
inline constexpr std::uint8_t piece = 7;
inline constexpr std::uint8_t cancel = 8;
// Not ids on the wire: "nothing yet" after a reset, and "the last message was a keep-alive".
inline constexpr std::uint8_t none = 9;
inline constexpr std::uint8_t keep_alive = 10;

inline constexpr std::size_t handshake_size = 68;
inline constexpr std::string_view protocol = "BitTorrent protocol";
inline constexpr std::size_t info_hash_offset = 28;
inline constexpr std::size_t peer_id_offset = 48;
inline constexpr std::size_t peer_id_size = 20;

// Lengths of the fixed-size messages (id included).
inline constexpr std::uint32_t have_length = 5;
inline constexpr std::uint32_t request_length = 13;
// A piece message: id, index and begin, then up to 128 KiB of block data.
inline constexpr std::uint32_t piece_header_length = 9;
inline constexpr std::uint32_t max_block_length = 131072;
// The block size we ask for.
inline constexpr std::uint32_t block_length = 16384;
inline constexpr std::uint32_t max_piece_length = piece_header_length + max_block_length;

using info_hash_bytes = std::array<std::byte, 20>;

inline void put_u32(std::byte* out, std::uint32_t v) noexcept
{
    out[0] = static_cast<std::byte>(v >> 24);
    out[1] = static_cast<std::byte>(v >> 16);
    out[2] = static_cast<std::byte>(v >> 8);
    out[3] = static_cast<std::byte>(v);
}

[[nodiscard]] inline std::uint32_t get_u32(const std::byte* in) noexcept
{
    return (std::uint32_t{std::to_integer<std::uint8_t>(in[0])} << 24)
        | (std::uint32_t{std::to_integer<std::uint8_t>(in[1])} << 16)
        | (std::uint32_t{std::to_integer<std::uint8_t>(in[2])} << 8) | std::to_integer<std::uint8_t>(in[3]);
}

// The 20 wire bytes of an info-hash text, two hexadecimal digits per byte, the first giving
// the high four bits. Digits of either case are read; any other character counts as 0.
[[nodiscard]] info_hash_bytes hash_bytes_of(std::string_view text) noexcept;

// The info-hash text (40 upper-case hexadecimal digits) of 20 wire bytes.
[[nodiscard]] std::string hash_text_of(std::span<const std::byte> bytes);

// Writes the 68-byte handshake: 19, "BitTorrent protocol", 8 zero bytes, the info-hash and
// our peer id (zero-padded to 20 bytes).
void write_handshake(
    std::span<std::byte, handshake_size> out, const info_hash_bytes& hash, std::string_view peer_id);

// True when the bytes begin with what they must for a handshake: the length byte 19 and the
// protocol string. A shorter input is judged on the bytes it has.
[[nodiscard]] bool protocol_prefix_matches(std::span<const std::byte> bytes) noexcept;

// The peer id text carried at bytes 48..67 of a handshake: up to its first zero byte.
[[nodiscard]] std::string_view peer_id_text_of(std::span<const std::byte, handshake_size> handshake) noexcept;

} // namespace torrent::wire
