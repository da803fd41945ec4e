#include "net/local_address.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "base/unique_fd.h"

namespace torrent
{

namespace
{

std::string_view probe_destination()
{
    const char* replaced = std::getenv(probe_address_variable);
    if (replaced != nullptr && *replaced != '\0')
        return replaced;
    return route_probe_destination;
}

} // namespace

std::uint32_t resolve_ipv4(std::string_view name)
{
    const std::string text(name);
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) == 1)
        return parsed.s_addr;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (text.empty() || getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return 0;
    std::uint32_t address = 0;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
    {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in))
        {
            sockaddr_in ipv4{};
            std::memcpy(&ipv4, entry->ai_addr, sizeof ipv4);
            address = ipv4.sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(found);
    return address;
}

std::uint32_t route_source_address(std::string_view destination)
{
    if (destination.empty())
        destination = probe_destination();

    // A connected UDP socket picks its source address from the routing table; connect()
    // on a datagram socket sends nothing.
    unique_fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe)
        return 0;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(9); // any non-zero port: connect() refuses port 0 on some kernels
    target.sin_addr.s_addr = resolve_ipv4(destination);
    if (target.sin_addr.s_addr == 0)
        return 0;
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        return 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohl(local.sin_addr.s_addr);
}

std::string ipv4_text(std::uint32_t host_order)
{
    in_addr address{};
    address.s_addr = htonl(host_order);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr)
        return {};
    return text;
}

std::uint32_t parse_ipv4(std::string_view text)
{
    const std::string copy(text);
    in_addr parsed{};
    if (inet_pton(AF_INET, copy.c_str(), &parsed) != 1)
        return 0;
    return ntohl(parsed.s_addr);
}

void external_address::set_external(std::uint16_t port, std::string_view text)
{
    const std::uint32_t ip = parse_ipv4(text);
    const std::lock_guard lock(m_mutex);
    m_value.port = port;
    m_value.text.assign(text);
    m_value.ip = ip;
}

external_address::value external_address::get() const
{
    const std::lock_guard lock(m_mutex);
    return m_value;
}

std::uint32_t external_address::ip() const
{
    const std::lock_guard lock(m_mutex);
    return m_value.ip;
}

std::uint16_t external_address::port() const
{
    const std::lock_guard lock(m_mutex);
    return m_value.port;
}

std::string external_address::text() const
{
    const std::lock_guard lock(m_mutex);
    return m_value.text;
}

} // namespace torrent
