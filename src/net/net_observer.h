#pragma once

#include <cstdint>
#include <string>

namespace torrent
{

// A status the network layer reports; the window's result table gives it its text.
enum class net_status : std::uint8_t
{
    upnp_failed = 1, // the port mapping failed for good
    upnp_created = 2, // the port mapping stands: the external address and port
};

struct net_status_detail
{
    std::string address;
    std::uint16_t port = 0;
};

// What the network layer tells the front end: the UPnP flags, sticky statuses and sound
// signals. Implemented by the session controller's session_events, which both front ends
// read. Called from the poller thread, so implementations only store or queue.
class net_observer
{
public:
    virtual ~net_observer() = default;

    virtual void set_upnp_established(bool established) = 0;
    virtual void set_upnp_wanted(bool wanted) = 0;
    // A status shown in a line protected from being overwritten for a while.
    virtual void show_sticky_status(net_status status, const net_status_detail& detail) = 0;
    virtual void chime_connected() = 0;
    virtual void beep_alert() = 0;
};

// An observer that ignores everything (tests, and runs without a window).
class null_net_observer final : public net_observer
{
public:
    void set_upnp_established(bool) override {}

    void set_upnp_wanted(bool) override {}

    void show_sticky_status(net_status, const net_status_detail&) override {}

    void chime_connected() override {}

    void beep_alert() override {}
};

} // namespace torrent
