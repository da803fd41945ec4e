#include "poller_test_util.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace torrent::test
{

namespace
{

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(loopback_ip);
    addr.sin_port = htons(port);
    return addr;
}

const sockaddr* as_sockaddr(const sockaddr_in& a)
{
    return reinterpret_cast<const sockaddr*>(&a); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

} // namespace

int recording_owner::failures_for(const peer_link& record) const
{
    return static_cast<int>(std::count(failures.begin(), failures.end(), &record));
}

ConnectionRecord details_of(const ConnectionRecord& record)
{
    ConnectionRecord copy;
    copy.endpoint = record.endpoint;
    copy.live = record.live;
    copy.owner = record.owner;
    copy.carried = record.carried;
    return copy;
}

completion_result scripted_completion::complete(ConnectionRecord& record)
{
    seen.push_back(details_of(record));
    const completion_result r = answer ? answer(record) : completion_result::taken;
    if (r == completion_result::taken)
        taken.push_back(std::move(record.socket));
    return r;
}

recognize_result prefix_recognizer::recognize(
    std::span<const std::byte> input, ConnectionRecord& record, tick_t /*created*/, tick_t /*now*/)
{
    ++calls;
    if (record.endpoint.result != 0)
        return recognize_result::reject;
    if (input.size() < ConnectionRecord::handshake_size)
        return recognize_result::need_more;
    static const std::string header = std::string(1, '\x13') + "BitTorrent protocol";
    if (!std::equal(
            header.begin(),
            header.end(),
            input.begin(),
            [](char c, std::byte b) { return static_cast<std::byte>(c) == b; }))
        return recognize_result::not_mine;
    record.carry_after(input, ConnectionRecord::handshake_size);
    records.push_back(details_of(record));
    taken.push_back(std::move(record.socket));
    return recognize_result::taken;
}

port_mapper_factory stub_mapper::factory(stats& s)
{
    return [&s](std::uint32_t local_ip, std::uint16_t port, tick_t opened_at, port_mapping_env)
    {
        s.local_ip = local_ip;
        s.port = port;
        s.opened_at = opened_at;
        return std::make_unique<stub_mapper>(s);
    };
}

std::string handshake_bytes()
{
    std::string h(1, '\x13');
    h += "BitTorrent protocol";
    h += std::string(8, '\0');
    h += std::string(20, '\xAB'); // info-hash
    h += "-XX0001-abcdefghijkl"; // peer id
    return h;
}

unique_fd listen_loopback(int backlog, std::uint16_t& port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in addr = loopback(0);
    if (!fd || ::bind(fd.get(), as_sockaddr(addr), sizeof(addr)) != 0 || ::listen(fd.get(), backlog) != 0)
        return {};
    port = local_port_of(fd.get());
    return fd;
}

std::uint16_t closed_port()
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in addr = loopback(0);
    if (::bind(fd.get(), as_sockaddr(addr), sizeof(addr)) != 0)
        return 0;
    return local_port_of(fd.get());
}

unique_fd connect_loopback(std::uint16_t port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in addr = loopback(port);
    if (!fd || ::connect(fd.get(), as_sockaddr(addr), sizeof(addr)) != 0)
        return {};
    return fd;
}

std::uint16_t local_port_of(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) // NOLINT
        return 0;
    return ntohs(addr.sin_port);
}

std::uint16_t peer_port_of(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) // NOLINT
        return 0;
    return ntohs(addr.sin_port);
}

bool send_all(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool peer_closed(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    for (;;)
    {
        if (::poll(&p, 1, ms) <= 0)
            return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
    }
}

hanging_target::hanging_target()
{
    listener = listen_loopback(0, port);
    filler = connect_loopback(port);
}

bool pump(ConnectionPoller& poller, const std::function<bool()>& done, int turns, int wait_ms)
{
    for (int i = 0; i < turns; ++i)
    {
        if (done())
            return true;
        poller.run_once(wait_ms);
    }
    return done();
}

} // namespace torrent::test
