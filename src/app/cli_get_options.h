#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/runtime_options.h"
#include "app/start_options.h"

namespace zorvik::cli
{

// A peer to connect to directly (--peer IP:PORT), host byte order.
struct peer_address
{
    std::uint32_t ip = 0;
    std::uint16_t port = 0;

    friend bool operator==(const peer_address&, const peer_address&) = default;
};

// What `zorvik-cli get` was asked to do.
struct get_options
{
    std::vector<std::string> torrents; // in the order given
    std::string save_folder = "."; // the current folder unless one is given
    std::uint8_t max_connections = torrent::default_max_connections; // -pc
    std::uint16_t listen_port = 0; // -port (a random one when absent)
    torrent::runtime_values runtime; // -us -ds -ut -noupnp, applied once
    std::vector<peer_address> peers; // --peer, in the order given
    std::uint32_t listen_address = 0; // host order; 0 = every address (tests use loopback)
};

struct get_arguments
{
    bool ok = false;
    bool help = false; // --help was asked for: print the usage and succeed
    std::string error; // why the arguments were refused (when !ok and !help)
    get_options options;
};

// The most torrents one run takes (the engine's task slots).
inline constexpr std::size_t max_get_torrents = 10;

// Reads the arguments after "get". Operands ending in ".torrent" (any case) are torrents;
// one other operand is the save folder. Options follow the program's command-line rules
// (-us30: value attached, atoi rule, the same ranges), read from the option words only, so
// a path that happens to contain "-us" sets nothing. --peer IP:PORT (or --peer=IP:PORT)
// may be repeated. `random` picks the listening port when -port is absent or 0.
[[nodiscard]] get_arguments
parse_get_arguments(std::span<const std::string> args, const torrent::random_source& random);

// "a.b.c.d:port" with a port of 1..65535; false for anything else.
[[nodiscard]] bool parse_peer_address(const std::string& text, peer_address& out);

} // namespace zorvik::cli
