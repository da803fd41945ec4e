#include "upnp/port_mapping.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace torrent
{
namespace
{

// A gateway's answer that can be announced: a dotted IPv4 address other than 0.0.0.0.
// Gateways without an outside connection answer an empty text or 0.0.0.0.
bool is_announceable(const std::string& text)
{
    in_addr parsed{};
    return inet_pton(AF_INET, text.c_str(), &parsed) == 1 && parsed.s_addr != 0;
}

} // namespace

std::string dotted_ipv4(std::uint32_t host_order)
{
    in_addr a{};
    a.s_addr = htonl(host_order);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

PortMapping::PortMapping(std::uint32_t local_ip, std::uint16_t port, gateway_finder finder)
    : m_finder(std::move(finder))
    , m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , m_internal_client(dotted_ipv4(local_ip))
    , m_port(port)
{
}

PortMapping::~PortMapping()
{
    static_cast<void>(remove());
}

void PortMapping::cancel() noexcept
{
    if (!m_stop)
        return;
    const std::uint64_t one = 1;
    static_cast<void>(::write(m_stop.get(), &one, sizeof one));
}

bool PortMapping::cancelled() const noexcept
{
    if (!m_stop)
        return false;
    pollfd p{m_stop.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

int PortMapping::try_add()
{
    if (cancelled())
        return upnp_cancelled;
    if (!m_gateway)
    {
        int found = upnp_no_gateway;
        m_gateway = m_finder ? m_finder(m_internal_client, m_stop.get(), found) : nullptr;
        if (!m_gateway)
            return found < 0 ? found : upnp_no_gateway;
        if (cancelled())
            return upnp_cancelled;
    }
    const int rc = m_gateway->add_port_mapping(
        {.external_port = m_port,
         .protocol = m_protocol,
         .internal_port = m_port,
         .internal_client = m_internal_client,
         .description = m_description});
    if (rc == upnp_ok)
    {
        m_established = true;
        return upnp_ok;
    }
    if (is_transport_failure(rc))
        m_gateway.reset();
    return rc < 0 ? rc : -rc;
}

void PortMapping::query_external(std::string& address, std::uint16_t& port)
{
    address.clear();
    if (!m_established || !m_gateway)
        return;
    mapping_entry entry;
    if (m_gateway->get_port_mapping(m_port, m_protocol, entry) != upnp_ok)
        return;
    std::string external;
    if (m_gateway->get_external_address(external) != upnp_ok || !is_announceable(external))
        return;
    address = std::move(external);
    port = m_port;
}

int PortMapping::remove()
{
    if (!m_established)
        return upnp_ok;
    m_established = false;
    return m_gateway ? m_gateway->delete_port_mapping(m_port, m_protocol) : upnp_no_gateway;
}

} // namespace torrent
