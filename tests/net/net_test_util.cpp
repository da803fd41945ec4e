#include "net_test_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>
#include <vector>

namespace torrent::test
{

std::pair<unique_fd, unique_fd> socket_pair()
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return {};
    return {unique_fd(fds[0]), unique_fd(fds[1])};
}

std::pair<unique_fd, unique_fd> loopback_tcp_pair()
{
    unique_fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (!listener || ::bind(listener.get(), raw, length) != 0 || ::listen(listener.get(), 4) != 0
        || ::getsockname(listener.get(), raw, &length) != 0)
        return {};
    unique_fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!client || ::connect(client.get(), raw, length) != 0)
        return {};
    unique_fd server(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!server)
        return {};
    const int flags = ::fcntl(client.get(), F_GETFL);
    ::fcntl(client.get(), F_SETFL, flags | O_NONBLOCK);
    return {std::move(client), std::move(server)};
}

std::size_t fill_until_blocked(int fd)
{
    std::vector<char> chunk(65536, 'x');
    std::size_t total = 0;
    for (;;)
    {
        const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0)
            return total;
        total += static_cast<std::size_t>(n);
    }
}

std::size_t drain_fd(int fd)
{
    std::vector<char> chunk(65536);
    std::size_t total = 0;
    for (;;)
    {
        const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (n <= 0)
            return total;
        total += static_cast<std::size_t>(n);
    }
}

bool run_until(event_loop& loop, const std::function<bool()>& done, int turns, int wait_ms)
{
    for (int i = 0; i < turns; ++i)
    {
        if (done())
            return true;
        loop.run_once(wait_ms);
    }
    return done();
}

} // namespace torrent::test
