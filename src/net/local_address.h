#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace torrent
{

// The fixed public address the route query aims at (no packet is ever sent to it).
inline constexpr std::string_view route_probe_destination = "8.8.8.8";
// Environment variable that replaces the probe destination (tests set 127.0.0.1).
inline constexpr const char* probe_address_variable = "ZORVIK_PROBE_ADDRESS";

// The local IPv4 address (host byte order) of the interface that would carry traffic to
// `destination`, or 0 when there is no route. An empty destination means the fixed public
// address, or $ZORVIK_PROBE_ADDRESS when set. Uses a UDP socket connect()ed to the
// destination and its local name: nothing is sent. Doubles as the network-up probe.
[[nodiscard]] std::uint32_t route_source_address(std::string_view destination = {});

// The first IPv4 address the resolver gives for a name or dotted text, in network byte
// order, or 0. Dotted text is parsed without asking the resolver.
[[nodiscard]] std::uint32_t resolve_ipv4(std::string_view name);

// Dotted text of an address in host byte order ("10.0.0.5").
[[nodiscard]] std::string ipv4_text(std::uint32_t host_order);

// Dotted text parsed to host byte order; 0 when the text is not a dotted IPv4 address.
[[nodiscard]] std::uint32_t parse_ipv4(std::string_view text);

// The address and port announced to trackers: the local address and bound port at
// start, the router's once a port mapping succeeds. Embedded in the network root object.
// Written by the UI and poller threads, read by announcers: every access is locked.
class external_address final
{
public:
    struct value
    {
        std::uint32_t ip = 0; // host byte order
        std::uint16_t port = 0;
        std::string text; // dotted text as given
    };

    // port = port; text = text; ip = text parsed as dotted IPv4 (0 when it is not).
    void set_external(std::uint16_t port, std::string_view text);

    [[nodiscard]] value get() const;
    [[nodiscard]] std::uint32_t ip() const;
    [[nodiscard]] std::uint16_t port() const;
    [[nodiscard]] std::string text() const;

private:
    mutable std::mutex m_mutex;
    value m_value;
};

} // namespace torrent
