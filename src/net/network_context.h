#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/tick.h"
#include "net/connect_completion.h"
#include "net/handshake_recognizer.h"
#include "net/local_address.h"
#include "net/peer_listener.h"
#include "net/port_mapper.h"
#include "storage/torrent_manager.h"

namespace torrent
{

class ConnectionPoller;
class HandshakeDispatcher;
class NetUIThread;
class net_observer;

// What network start-up needs, as a plain struct (the window fills it in).
struct network_options
{
    std::uint16_t wanted_port = 0; // first port tried; 0 lets the system choose
    std::uint32_t listen_address = 0; // host order; 0 = every address (tests use 127.0.0.1)
    int max_peers_per_task = 64; // sets the pending-connect limit to two thirds of it
    bool upnp_wanted = false;
    port_mapper_factory mapper_factory; // empty: no router mapping
    net_observer* observer = nullptr; // null: nothing is told
    clock* time = nullptr; // null: the system clock
    std::chrono::milliseconds drain_limit{3000};
    // The loaded torrents: the engine's piece picker factory and the folder of the
    // file-selection records of single-file torrents (empty: the data folder).
    torrent_manager::picker_factory make_picker;
    std::string selection_folder;
    // Plugged in by the engine; without them incoming sockets are only guarded and
    // outgoing connects never complete.
    std::unique_ptr<HandshakeRecognizer> recognizer;
    std::unique_ptr<ConnectCompletion> completion;
};

enum class network_start_result : std::uint8_t
{
    started = 0,
    no_port = 1, // no listening port could be bound
    no_thread = 2, // the poller or the network thread could not be made
    already = 3 // start() was called before
};

// The network root object: owns the listener (through the poller), the poller thread, the
// handshake dispatcher, the connect completion, the network thread, our peer id, the local
// and external addresses, the pending-connect limit and the table of loaded torrents. Handed to
// the network code by reference, never through a global. Owner: TaskPool. Runs on: started and
// shut down on the UI thread; the accessors are safe from any thread once start() has returned.
class NetworkContext
{
public:
    explicit NetworkContext(network_options opts);
    // shutdown()
    ~NetworkContext();
    NetworkContext(const NetworkContext&) = delete;
    NetworkContext& operator=(const NetworkContext&) = delete;

    // Binds the listener, finds the local address, requests the router mapping, makes our
    // peer id, starts the network thread, makes the dispatcher and the poller and starts it.
    // Without a bound port nothing but the failed listener is left (and then freed).
    [[nodiscard]] network_start_result start();

    // Stops and deletes the poller (and every socket on it, the listener included), deletes
    // the dispatcher, drains the network thread for at most the drain limit and ends it
    // (the stopped thread object lives on until the context is destroyed, so connection
    // objects bound to its loop may still be destroyed). Safe to call more than once.
    void shutdown();

    [[nodiscard]] bool started() const noexcept { return m_poller != nullptr; }

    [[nodiscard]] std::uint16_t listen_port() const noexcept { return m_listen_port; }

    [[nodiscard]] std::uint32_t local_ip() const noexcept { return m_local_ip; }

    [[nodiscard]] const std::string& peer_id() const noexcept { return m_peer_id; }

    [[nodiscard]] external_address& external() noexcept { return m_external; }

    // The announced address: set at start to the local address and listening port, and by
    // a successful router mapping.
    void set_external(std::uint16_t port, std::string_view text) { m_external.set_external(port, text); }

    [[nodiscard]] pending_connect_limit& connect_limit() noexcept { return m_connect_limit; }

    [[nodiscard]] ConnectionPoller* poller() const noexcept { return m_poller.get(); }

    [[nodiscard]] PeerListener* listener() const noexcept { return m_listener; }

    [[nodiscard]] HandshakeDispatcher* dispatcher() const noexcept { return m_dispatcher.get(); }

    [[nodiscard]] ConnectCompletion* completion() const noexcept { return m_completion.get(); }

    // The recognizer registered after the guard (owned by the dispatcher), or null.
    [[nodiscard]] HandshakeRecognizer* recognizer() const noexcept { return m_recognizer; }

    [[nodiscard]] NetUIThread* net_thread() const noexcept { return m_net_thread.get(); }

    // The user turned UPnP on: the listener starts a mapping on its next pass (none is made
    // while one exists).
    void restart_port_mapping();

    // The torrent table (info-hash text -> torrent data) with its operations.
    [[nodiscard]] torrent_manager& torrents() noexcept { return m_torrents; }

private:
    network_options m_options;
    clock& m_clock;
    net_observer& m_observer;

    torrent_manager m_torrents;
    pending_connect_limit m_connect_limit;
    external_address m_external;
    std::uint32_t m_local_ip = 0;
    std::uint16_t m_listen_port = PeerListener::no_port;
    std::string m_peer_id;
    bool m_start_called = false;

    std::unique_ptr<NetUIThread> m_net_thread;
    std::unique_ptr<ConnectCompletion> m_completion;
    std::unique_ptr<HandshakeDispatcher> m_dispatcher;
    HandshakeRecognizer* m_recognizer = nullptr;
    std::unique_ptr<ConnectionPoller> m_poller;
    PeerListener* m_listener = nullptr; // owned by the poller
};

} // namespace torrent
