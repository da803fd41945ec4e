#include "net/network_context.h"

#include "net/connection_poller.h"
#include "net/handshake_dispatcher.h"
#include "net/net_observer.h"
#include "net/net_ui_thread.h"
#include "net/peer_id.h"

namespace torrent
{

namespace
{

null_net_observer& silent_observer()
{
    static null_net_observer observer;
    return observer;
}

} // namespace

NetworkContext::NetworkContext(network_options opts)
    : m_options(std::move(opts))
    , m_clock(m_options.time != nullptr ? *m_options.time : system_clock())
    , m_observer(m_options.observer != nullptr ? *m_options.observer : silent_observer())
    , m_torrents(std::move(m_options.make_picker), m_options.selection_folder)
{
    m_connect_limit.reset(m_options.max_peers_per_task);
}

NetworkContext::~NetworkContext()
{
    shutdown();
}

network_start_result NetworkContext::start()
{
    if (m_start_called)
        return network_start_result::already;
    m_start_called = true;

    // The listener first: without a port there is no network layer.
    auto listener = std::make_unique<PeerListener>(m_observer, m_connect_limit);
    std::uint16_t port = m_options.wanted_port;
    if (!listener->open(port, m_clock.now(), m_options.listen_address))
    {
        m_listen_port = PeerListener::no_port;
        return network_start_result::no_port;
    }
    m_local_ip = route_source_address();
    port_mapping_env env{
        m_observer,
        [this](std::uint16_t external_port, const std::string& text)
        {
            set_external(external_port, text);
        }};
    listener->set_mapping_source(m_local_ip, m_options.mapper_factory, env);
    if (m_options.upnp_wanted)
        listener->start_port_mapping(m_local_ip, port, m_options.mapper_factory, env);

    m_listen_port = port;
    set_external(port, ipv4_text(m_local_ip));
    m_peer_id = make_peer_id(m_local_ip, port);

    m_net_thread = std::make_unique<NetUIThread>(m_clock);
    if (!m_net_thread->start())
    {
        m_net_thread.reset();
        return network_start_result::no_thread;
    }
    m_completion = std::move(m_options.completion);
    m_dispatcher = std::make_unique<HandshakeDispatcher>();
    m_recognizer = m_options.recognizer.get();
    m_dispatcher->add(std::move(m_options.recognizer));

    auto poller = std::make_unique<ConnectionPoller>(m_clock, m_completion.get(), m_local_ip);
    if (!poller->valid())
    {
        shutdown();
        return network_start_result::no_thread;
    }
    listener->set_targets(poller.get(), m_dispatcher.get());
    m_listener = listener.get();
    poller->add(std::move(listener), false);
    m_poller = std::move(poller);
    if (!m_poller->start())
    {
        shutdown();
        return network_start_result::no_thread;
    }
    return network_start_result::started;
}

void NetworkContext::shutdown()
{
    if (m_poller)
    {
        m_poller->stop();
        m_listener = nullptr;
        m_poller.reset(); // deletes every socket object, the listener included
    }
    m_recognizer = nullptr;
    m_dispatcher.reset();
    if (m_net_thread)
    {
        // The stopped thread object stays until the context goes: handlers that still
        // refer to its loop may be destroyed after shutdown (their requests are refused).
        m_net_thread->stop(m_options.drain_limit);
    }
    m_completion.reset();
}

void NetworkContext::restart_port_mapping()
{
    if (m_poller && m_listener != nullptr)
    {
        m_listener->request_port_mapping();
        m_poller->wake();
    }
}

} // namespace torrent
