#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torrent
{

// Result codes of the gateway calls: 0 is success and every failure is negative. A UPnP
// error answered by the gateway (718 ConflictInMappingEntry, 606 not authorised ...) is
// returned negated; transport and parse failures keep the client library's small
// negative codes (-1 to -5); `upnp_no_gateway` means discovery found no gateway and
// `upnp_cancelled` that the attempt was called off (its owner is going away).
inline constexpr int upnp_ok = 0;
inline constexpr int upnp_no_gateway = -1000;
inline constexpr int upnp_cancelled = -1001;

// A failure of the connection to the gateway rather than an answer from it: the gateway
// may have gone or moved, so it is looked up again before the next attempt.
[[nodiscard]] constexpr bool is_transport_failure(int code) noexcept
{
    return code < 0 && code > -100;
}

// The parameters of one static port mapping.
struct mapping_request
{
    std::uint16_t external_port = 0;
    std::string protocol;
    std::uint16_t internal_port = 0;
    std::string internal_client;
    std::string description;
};

// What the gateway holds for one external port.
struct mapping_entry
{
    std::string internal_client;
    std::uint16_t internal_port = 0;
    std::string description;
};

// One Internet Gateway Device, found and ready for its WAN connection service's actions.
// Every call blocks on the network, so callers keep them off the poller thread.
class gateway_client
{
public:
    virtual ~gateway_client() = default;

    [[nodiscard]] virtual int add_port_mapping(const mapping_request& request) = 0;
    [[nodiscard]] virtual int
    get_port_mapping(std::uint16_t external_port, const std::string& protocol, mapping_entry& entry) = 0;
    [[nodiscard]] virtual int get_external_address(std::string& address) = 0;
    [[nodiscard]] virtual int
    delete_port_mapping(std::uint16_t external_port, const std::string& protocol) = 0;
};

// Finds the gateway for a machine whose local address is `local_address` (dotted text);
// answers null and a negative `result` when none is found. A search in progress ends
// early once `stop_fd` becomes readable (-1: never).
using gateway_finder = std::function<std::unique_ptr<gateway_client>(
    const std::string& local_address, int stop_fd, int& result)>;

} // namespace torrent
