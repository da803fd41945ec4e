#include "scripted_http_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace torrent::test
{

http_reply
make_reply(int code, std::string_view reason, std::string_view body, std::string_view extra_headers)
{
    http_reply r;
    r.raw = "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
    r.raw += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    r.raw += "Connection: close\r\n";
    r.raw += extra_headers;
    r.raw += "\r\n";
    r.raw += body;
    return r;
}

scripted_http_server::scripted_http_server(handler h)
    : m_handler(std::move(h))
    , m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (!m_listener || ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(m_listener.get(), 16) != 0)
        return;
    socklen_t len = sizeof addr;
    ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { serve(); });
}

scripted_http_server::~scripted_http_server()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

std::string scripted_http_server::url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

std::vector<http_request> scripted_http_server::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t scripted_http_server::request_count() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

bool scripted_http_server::wait_for_requests(std::size_t n, unsigned ms)
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_requests.size() >= n; });
}

void scripted_http_server::serve()
{
    while (!m_stop.load())
    {
        pollfd p{m_listener.get(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        unique_fd conn(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (conn)
            handle(std::move(conn));
    }
}

void scripted_http_server::handle(unique_fd conn)
{
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos)
    {
        if (m_stop.load())
            return;
        pollfd p{conn.get(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
        if (n <= 0)
            return;
        head.append(buf, static_cast<std::size_t>(n));
    }
    http_request request;
    request.head = head.substr(0, head.find("\r\n\r\n"));
    const std::size_t sp1 = head.find(' ');
    const std::size_t sp2 = head.find(' ', sp1 + 1);
    if (sp1 != std::string::npos && sp2 != std::string::npos)
        request.target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    const http_reply reply = m_handler(request);
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    m_cond.notify_all();

    if (reply.how == http_reply::mode::stall)
    {
        m_stalled.push_back(std::move(conn));
        return;
    }
    if (reply.how == http_reply::mode::close)
        return;
    auto send_all = [&](std::string_view data)
    {
        while (!data.empty() && !m_stop.load())
        {
            const ssize_t n = ::send(conn.get(), data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    };
    if (!send_all(reply.raw))
        return;
    const std::string filler(64 * 1024, 'x');
    for (std::size_t left = reply.stream_bytes; left > 0;)
    {
        const std::size_t n = left < filler.size() ? left : filler.size();
        if (!send_all(std::string_view(filler).substr(0, n)))
            return;
        left -= n;
    }
}

} // namespace torrent::test
