#include "net/peer_listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "net/connection_poller.h"
#include "net/handshake_dispatcher.h"
#include "net/incoming_connection.h"
#include "net/net_observer.h"

namespace torrent
{

namespace
{

bool bind_ipv4(int fd, std::uint32_t ip, std::uint16_t port) noexcept
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(ip);
    addr.sin_port = htons(port);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

std::uint16_t bound_port(int fd) noexcept
{
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

} // namespace

PeerListener::PeerListener(net_observer& observer, pending_connect_limit& limit) noexcept
    : m_observer(observer)
    , m_limit(limit)
{
}

PeerListener::~PeerListener()
{
    m_socket.reset();
    m_mapper.reset(); // removes an established mapping from the router
}

bool PeerListener::open(std::uint16_t& port, tick_t now, std::uint32_t bind_ip)
{
    m_socket.reset();
    m_port = no_port;
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
    {
        port = no_port;
        return false;
    }
    // A port left in TIME_WAIT by an earlier run can be bound again; a port another
    // process listens on still cannot.
    const int on = 1;
    static_cast<void>(::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)));

    bool bound = false;
    for (std::uint32_t p = port; p < no_port; ++p)
    {
        if (bind_ipv4(fd.get(), bind_ip, static_cast<std::uint16_t>(p)))
        {
            bound = true;
            break;
        }
    }
    if (!bound || ::listen(fd.get(), backlog) != 0)
    {
        port = no_port;
        return false;
    }
    port = bound_port(fd.get()); // the kernel's choice when 0 was asked for
    m_port = port;
    m_socket = std::move(fd);
    m_reserve.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    m_opened_at = now;
    return true;
}

void PeerListener::start_port_mapping(
    std::uint32_t local_ip,
    std::uint16_t port,
    const port_mapper_factory& factory,
    const port_mapping_env& env)
{
    if (m_mapper || !factory)
        return;
    m_mapper = factory(local_ip, port != 0 ? port : m_port, m_opened_at, env);
}

void PeerListener::set_mapping_source(
    std::uint32_t local_ip, port_mapper_factory factory, port_mapping_env env)
{
    m_mapping_source.emplace(mapping_source{local_ip, std::move(factory), std::move(env)});
}

void PeerListener::set_targets(ConnectionPoller* poller, HandshakeDispatcher* dispatcher) noexcept
{
    m_poller = poller;
    m_dispatcher = dispatcher;
}

service_result PeerListener::service(const service_context& ctx)
{
    if (m_mapping_requested.exchange(false) && m_mapping_source)
        start_port_mapping(m_mapping_source->local_ip, 0, m_mapping_source->factory, m_mapping_source->env);

    enumerate_events();
    if (!acceptable())
    {
        idle_step(ctx.now);
        return service_result::keep;
    }
    for (int i = 0; i < max_accepts_per_pass && accept_one(ctx); ++i)
    {
    }
    return service_result::keep;
}

bool PeerListener::wants_timed_pass() const
{
    if (m_mapping_requested.load())
        return true;
    // The quota grows back only on the passes of a mapping attempt (idle_step).
    return m_mapper && !m_mapper->established();
}

void PeerListener::idle_step(tick_t now)
{
    if (!m_mapper || m_mapper->established())
        return;
    if (m_mapper->finished())
    {
        // Given up: the mapper has told the window; nothing is attempted any more.
        m_mapper.reset();
        return;
    }
    m_mapper->retry_step(now);
    const int limit = m_limit.limit.load(std::memory_order_relaxed);
    if (limit < m_limit.ceiling.load(std::memory_order_relaxed))
        m_limit.limit.store(limit + 1, std::memory_order_relaxed);
}

void PeerListener::on_peer_arrived()
{
    m_accepted.fetch_add(1, std::memory_order_relaxed);
    if (m_mapper && !m_mapper->established())
    {
        // A peer reached us without the mapping, so none is needed.
        m_mapper.reset();
        m_observer.set_upnp_established(false);
        m_observer.set_upnp_wanted(false);
        m_observer.beep_alert();
    }
    const int limit = m_limit.limit.load(std::memory_order_relaxed);
    if (limit > pending_connect_limit::floor)
        m_limit.limit.store(limit - 2, std::memory_order_relaxed);
}

bool PeerListener::accept_one(const service_context& ctx)
{
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    unique_fd fd(
        ::accept4(m_socket.get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd)
    {
        if (errno == EMFILE || errno == ENFILE)
            return shed_one();
        return false; // nothing waiting, or a failed accept: the next event tries again
    }
    on_peer_arrived();
    if (m_poller == nullptr || m_dispatcher == nullptr)
        return true; // nobody to hand it to: closed here
    auto incoming = std::make_unique<IncomingConnection>(m_dispatcher, ctx.now);
    incoming->attach(std::move(fd), ntohl(addr.sin_addr.s_addr), ntohs(addr.sin_port));
    m_poller->add(std::move(incoming), false);
    return true;
}

bool PeerListener::shed_one()
{
    if (!m_reserve)
        return false;
    m_reserve.reset();
    unique_fd dropped(::accept4(m_socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const bool got = dropped.valid();
    dropped.reset();
    m_reserve.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (got)
        on_peer_arrived();
    return got;
}

} // namespace torrent
