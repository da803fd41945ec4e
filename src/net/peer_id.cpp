#include "net/peer_id.h"

#include <random>

#include "base/tick.h"

namespace torrent
{

namespace
{

constexpr std::string_view id_alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::size_t random_part = 11;

char never_zero(std::uint32_t byte) noexcept
{
    return static_cast<char>(byte == 0 ? 0xFF : byte);
}

std::uint32_t zero_back(char c) noexcept
{
    const auto byte = static_cast<std::uint8_t>(c);
    return byte == 0xFF ? 0 : byte;
}

} // namespace

std::string make_peer_id(std::uint32_t local_ip, std::uint16_t port, std::uint64_t seed)
{
    std::string id(own_peer_id_prefix);
    id.reserve(peer_id_size);
    for (int shift = 0; shift < 32; shift += 8)
        id.push_back(never_zero((local_ip >> shift) & 0xFFu));
    id.push_back(never_zero(port & 0xFFu));
    id.push_back(never_zero((static_cast<std::uint32_t>(port) >> 8) & 0xFFu));

    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, id_alphabet.size() - 1);
    for (std::size_t i = 0; i < random_part; ++i)
        id.push_back(id_alphabet[pick(random)]);
    return id;
}

std::string make_peer_id(std::uint32_t local_ip, std::uint16_t port)
{
    // The millisecond tick alone would give two copies started in the same millisecond
    // the same random part; the system's random source separates them.
    std::random_device device;
    const std::uint64_t seed = monotonic_ms() ^ (std::uint64_t{device()} << 32) ^ device();
    return make_peer_id(local_ip, port, seed);
}

bool decode_peer_id(std::string_view id, std::uint32_t& address, std::uint16_t& port) noexcept
{
    if (id.size() < 9 || id.substr(0, own_peer_id_prefix.size()) != own_peer_id_prefix)
        return false;
    std::uint32_t ip = 0;
    for (std::size_t i = 0; i < 4; ++i)
        ip |= zero_back(id[3 + i]) << (8 * i);
    address = ip;
    port = static_cast<std::uint16_t>(zero_back(id[7]) | (zero_back(id[8]) << 8));
    return true;
}

void recognize_client(std::string& client)
{
    if (client == "exbc")
        client = "BitComet";
}

std::string client_text_of(std::string_view received_id)
{
    received_id = received_id.substr(0, peer_id_size);
    std::string client(received_id.substr(0, received_id.find('\0')));
    recognize_client(client);
    return client;
}

void set_peer_id(std::string& peer_id, std::string& client_text, std::string_view received_id)
{
    peer_id.assign(received_id.substr(0, peer_id_size));
    client_text = client_text_of(received_id);
}

} // namespace torrent
