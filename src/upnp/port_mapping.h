#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_fd.h"
#include "upnp/gateway_client.h"

namespace torrent
{

// One static TCP mapping of the listening port on the router: external port = internal
// port = the listen port, internal client = our local address, description "Zorvik".
// The gateway is looked up at the first attempt and kept while it answers.
// Owned by its PortMappingSchedule. Runs on: the schedule's helper thread during an
// attempt, the owner's thread otherwise (never both at once), except `cancel`, which
// any thread may call. Every other call may block.
class PortMapping
{
public:
    // `local_ip` in host byte order.
    PortMapping(std::uint32_t local_ip, std::uint16_t port, gateway_finder finder);
    // Removes an established mapping from the gateway.
    ~PortMapping();
    PortMapping(const PortMapping&) = delete;
    PortMapping& operator=(const PortMapping&) = delete;

    // One attempt to add the mapping; 0 on success (the mapping is then established),
    // negative on failure (see gateway_client.h).
    [[nodiscard]] int try_add();

    // The mapping's external address and port as the gateway reports them. On any
    // failure `address` is empty and `port` keeps the value it had (the caller puts 0).
    void query_external(std::string& address, std::uint16_t& port);

    // Deletes the mapping from the gateway if it was established; the result of the
    // deletion (0 when there was nothing to delete).
    int remove();

    // Any thread: ends a gateway search in progress at once, and makes this and every
    // later attempt fail with `upnp_cancelled`. `remove` still works.
    void cancel() noexcept;

    [[nodiscard]] bool cancelled() const noexcept;

    [[nodiscard]] bool established() const noexcept { return m_established; }

    [[nodiscard]] std::uint16_t port() const noexcept { return m_port; }

    [[nodiscard]] const std::string& internal_client() const noexcept { return m_internal_client; }

private:
    gateway_finder m_finder;
    unique_fd m_stop; // eventfd, readable once cancelled
    std::unique_ptr<gateway_client> m_gateway;
    std::string m_internal_client;
    std::string m_protocol = "TCP";
    std::string m_description = "Zorvik";
    std::uint16_t m_port;
    bool m_established = false;
};

// Dotted text of an IPv4 address held in host byte order.
[[nodiscard]] std::string dotted_ipv4(std::uint32_t host_order);

} // namespace torrent
