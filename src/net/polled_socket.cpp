#include "net/polled_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace torrent
{

namespace
{

// Reads go through one scratch buffer per thread; only what arrives is appended.
constexpr std::size_t scratch_size = 10240;

int socket_error(int fd) noexcept
{
    int error = 0;
    socklen_t len = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        return errno;
    return error;
}

sockaddr_in ipv4_address(std::uint32_t ip, std::uint16_t port) noexcept
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(ip);
    addr.sin_port = htons(port);
    return addr;
}

} // namespace

PolledSocket::~PolledSocket() = default;

service_result PolledSocket::service(const service_context& /*ctx*/)
{
    return service_result::remove;
}

int PolledSocket::connect(
    std::uint32_t /*ip*/,
    std::uint16_t /*port*/,
    std::uint16_t /*local_port*/,
    ConnectCompletion* /*completion*/,
    const service_context& /*ctx*/)
{
    return -1;
}

short PolledSocket::poll_events() const
{
    const std::uint32_t mask = event_mask();
    int events = 0;
    if ((mask & (net_event::read | net_event::accept)) != 0)
        events |= POLLIN;
    if ((mask & net_event::connect) != 0)
        events |= POLLOUT;
    if ((mask & net_event::close) != 0)
        events |= POLLRDHUP;
    return static_cast<short>(events);
}

void PolledSocket::enumerate_events()
{
    const int seen = m_revents;
    m_revents = 0;
    const std::uint32_t mask = event_mask();
    const int fd = socket();

    // SO_ERROR is cleared by reading it: fetch it at most once per enumeration.
    bool fetched = false;
    int pending_error = 0;
    auto take_error = [&]()
    {
        if (!fetched && fd >= 0)
            pending_error = socket_error(fd);
        fetched = true;
        return pending_error;
    };

    std::uint32_t bits = 0;
    std::array<int, 10> errors{};
    // Examined in this order so that a connect error wins over the others.
    if ((mask & net_event::connect) != 0 && (seen & (POLLOUT | POLLERR | POLLHUP)) != 0)
    {
        bits |= net_event::connect;
        errors[4] = take_error();
    }
    if ((mask & net_event::write) != 0 && (seen & POLLOUT) != 0)
        bits |= net_event::write;
    if ((mask & net_event::read) != 0 && (seen & POLLIN) != 0)
        bits |= net_event::read;
    if ((mask & net_event::close) != 0 && (seen & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
    {
        bits |= net_event::close;
        errors[5] = (seen & POLLERR) != 0 ? take_error() : 0;
    }
    if ((mask & net_event::accept) != 0 && (seen & POLLIN) != 0)
        bits |= net_event::accept;

    m_events = bits;
    m_event_errors = errors;
    m_readable = (bits & net_event::read) != 0;
    m_writable = (bits & net_event::write) != 0;
    m_acceptable = (bits & net_event::accept) != 0;
    m_connected = (bits & net_event::connect) != 0;
    m_closed = (bits & net_event::close) != 0;

    static constexpr std::array<unsigned, 5> order{4, 1, 0, 5, 3};
    for (const unsigned n : order)
    {
        if (m_first_error == 0 && (bits & (1U << n)) != 0)
            m_first_error = errors.at(n);
    }
}

int PolledSocket::receive_input(std::size_t limit)
{
    const int fd = socket();
    if (fd < 0)
        return 0;
    if (!m_input)
        m_input = std::make_unique<ByteQueue>();

    thread_local std::array<std::byte, scratch_size> scratch;
    std::size_t left = limit;
    for (;;)
    {
        std::size_t want = scratch.size();
        if (limit != 0)
        {
            if (left == 0)
                return 1;
            want = std::min(want, left);
        }
        const ssize_t got = ::recv(fd, scratch.data(), want, 0);
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            return 1; // would block, or an error: the close event or the guard ends it later
        }
        if (got == 0)
        {
            // Orderly close by the peer: reported as a close event.
            m_closed = true;
            m_events |= net_event::close;
            return 0;
        }
        const auto n = static_cast<std::size_t>(got);
        m_input->append(scratch.data(), n);
        if (limit != 0)
            left -= n;
    }
}

unique_fd PolledSocket::open_connect(
    std::uint32_t ip, std::uint16_t port, std::uint32_t local_ip, std::uint16_t local_port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        return {};
    const sockaddr_in local = ipv4_address(local_ip, local_port);
    // The sockets API takes the generic address type; sockaddr_in is its IPv4 form.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
        return {};
    const sockaddr_in remote = ipv4_address(ip, port);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != 0
        && errno != EINPROGRESS)
        return {};
    return fd;
}

} // namespace torrent
