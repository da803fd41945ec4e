#include "upnp/ssdp_search.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "base/text.h"
#include "base/tick.h"
#include "base/unique_fd.h"

namespace torrent
{
namespace
{

// An IGD:2 device answers a search for IGD:1 as well; the service types catch devices
// that only answer for what they serve.
constexpr std::string_view search_types[] = {
    "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
    "urn:schemas-upnp-org:device:InternetGatewayDevice:2",
    "urn:schemas-upnp-org:service:WANIPConnection:1",
    "urn:schemas-upnp-org:service:WANPPPConnection:1",
};
constexpr int answer_grace_ms = 300;
constexpr unsigned char multicast_ttl = 2;
constexpr std::size_t max_url_length = 1024;

bool is_usable_url(std::string_view url)
{
    if (url.size() <= 7 || url.size() > max_url_length || !starts_with_ascii_nocase(url, "http://"))
        return false;
    return std::all_of(
        url.begin(),
        url.end(),
        [](char c)
        {
            const auto u = static_cast<unsigned char>(c);
            return u > 0x20 && u < 0x7F;
        });
}

std::string search_request(std::string_view type, ssdp_target target)
{
    in_addr a{};
    a.s_addr = htonl(target.address);
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, host, sizeof host);
    std::string request = "M-SEARCH * HTTP/1.1\r\nHOST: ";
    request += host;
    request += ':';
    request += std::to_string(target.port);
    request += "\r\nST: ";
    request += type;
    request += "\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n\r\n";
    return request;
}

} // namespace

std::optional<std::string> parse_ssdp_answer(std::string_view datagram)
{
    std::size_t line_end = datagram.find('\n');
    const std::string_view status = trim_blanks(datagram.substr(0, line_end));
    if (!starts_with_ascii_nocase(status, "HTTP/1.") || status.size() < 12 || status.substr(8, 4) != " 200"
        || (status.size() > 12 && status[12] != ' '))
        return std::nullopt;
    while (line_end != std::string_view::npos)
    {
        datagram.remove_prefix(line_end + 1);
        line_end = datagram.find('\n');
        const std::string_view line = trim_blanks(datagram.substr(0, line_end));
        if (line.empty())
            break; // end of the headers
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || trim_blanks(line.substr(0, colon)).size() != 8
            || !starts_with_ascii_nocase(trim_blanks(line.substr(0, colon)), "location"))
            continue;
        const std::string_view url = trim_blanks(line.substr(colon + 1));
        if (!is_usable_url(url))
            return std::nullopt;
        return std::string(url);
    }
    return std::nullopt;
}

std::vector<std::string> ssdp_search(std::uint32_t local_ip, int window_ms, int stop_fd, ssdp_target target)
{
    std::vector<std::string> found;
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!sock)
        return found;
    if (local_ip != 0)
    {
        in_addr via{};
        via.s_addr = htonl(local_ip);
        static_cast<void>(::setsockopt(sock.get(), IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via));
    }
    static_cast<void>(
        ::setsockopt(sock.get(), IPPROTO_IP, IP_MULTICAST_TTL, &multicast_ttl, sizeof multicast_ttl));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target.address);
    to.sin_port = htons(target.port);
    bool sent = false;
    for (std::string_view type : search_types)
    {
        const std::string request = search_request(type, target);
        sent |= ::sendto(
                    sock.get(),
                    request.data(),
                    request.size(),
                    0,
                    reinterpret_cast<const sockaddr*>(&to),
                    sizeof to)
            == static_cast<ssize_t>(request.size());
    }
    if (!sent)
        return found;

    tick_t deadline = monotonic_ms() + static_cast<tick_t>(std::max(window_ms, 0));
    char buffer[2048];
    for (;;)
    {
        const tick_t now = monotonic_ms();
        if (now >= deadline)
            break;
        pollfd fds[2] = {{sock.get(), POLLIN, 0}, {stop_fd, POLLIN, 0}};
        const int ready = ::poll(fds, stop_fd >= 0 ? 2 : 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno != EINTR)
            break;
        if (stop_fd >= 0 && (fds[1].revents & POLLIN) != 0)
            break;
        if (ready <= 0 || (fds[0].revents & POLLIN) == 0)
            continue;
        const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
        if (n <= 0)
            continue;
        auto url = parse_ssdp_answer(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (!url || std::find(found.begin(), found.end(), *url) != found.end())
            continue;
        found.push_back(std::move(*url));
        if (found.size() == 1)
            deadline = std::min(deadline, monotonic_ms() + answer_grace_ms);
    }
    return found;
}

} // namespace torrent
