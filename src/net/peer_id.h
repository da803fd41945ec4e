#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torrent
{

inline constexpr std::size_t peer_id_size = 20;
inline constexpr std::string_view own_peer_id_prefix = "ZRV";

// Our peer id: "ZRV", the local address (host order, least significant byte first) and
// the listening port (least significant byte first) with every zero byte replaced by 0xFF,
// then 11 characters drawn uniformly from [0-9A-Za-z]. It contains no zero byte.
// The random part is seeded from `seed` (the overload without it mixes the millisecond
// tick with the system's random source).
[[nodiscard]] std::string make_peer_id(std::uint32_t local_ip, std::uint16_t port);
[[nodiscard]] std::string make_peer_id(std::uint32_t local_ip, std::uint16_t port, std::uint64_t seed);

// True, with the carried address (host order) and port, when the id starts with "ZRV";
// 0xFF bytes decode as 0x00. Ids shorter than 9 bytes are not ours.
[[nodiscard]] bool decode_peer_id(std::string_view id, std::uint32_t& address, std::uint16_t& port) noexcept;

// Rewrites a client text in place: exactly "exbc" becomes "BitComet"; all else stays.
void recognize_client(std::string& client);

// The client text of a received id: its bytes up to the first zero byte (at most 20),
// recognised.
[[nodiscard]] std::string client_text_of(std::string_view received_id);

// What a peer record does with 20 received id bytes: keeps them as the peer's id and sets
// the client text from them.
void set_peer_id(std::string& peer_id, std::string& client_text, std::string_view received_id);

} // namespace torrent
