#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace torrent
{

// A peer's identity and addresses: its 20-byte peer id (kept NUL-terminated), a result
// byte (0 = no error; the task writes 6 for "refused" and 7 for "address already known"),
// the primary IPv4 address and port, an alternate address and port (a second way in, for
// example the private address a peer of ours carries in its id) and whether the alternate
// pair is the one in use. Addresses and ports are in host byte order. A value-initialised
// endpoint has every field 0.
struct PeerEndpoint
{
    std::array<char, 21> peer_id{};
    std::uint8_t result = 0;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    std::uint32_t alt_ip = 0;
    std::uint16_t alt_port = 0;
    bool use_alternate = false;

    // Address and port of the pair in use.
    [[nodiscard]] std::uint32_t ip_in_use() const noexcept { return use_alternate ? alt_ip : ip; }

    [[nodiscard]] std::uint16_t port_in_use() const noexcept { return use_alternate ? alt_port : port; }

    // The address key of the pair in use: address x 2^32 + port.
    [[nodiscard]] std::uint64_t address_key() const noexcept
    {
        return make_address_key(ip_in_use(), port_in_use());
    }

    // The peer id as text: up to its first zero byte, at most 20 characters.
    [[nodiscard]] std::string peer_id_text() const
    {
        std::size_t n = 0;
        while (n < 20 && peer_id[n] != 0)
            ++n;
        return {peer_id.data(), n};
    }

    // Stores up to 20 bytes of a received peer id (the rest, and the terminator, zero).
    void set_peer_id(const void* bytes, std::size_t n) noexcept
    {
        peer_id.fill(0);
        std::memcpy(peer_id.data(), bytes, n < 20 ? n : 20);
    }

    [[nodiscard]] static constexpr std::uint64_t
    make_address_key(std::uint32_t ip, std::uint16_t port) noexcept
    {
        return (std::uint64_t{ip} << 32U) + port;
    }
};

} // namespace torrent
