#pragma once

#include <string>

namespace torrent
{

// What the network layer tells the window: the UPnP flags, sticky status lines and sound
// signals. Implemented by the main window (and by zorvik-cli, which prints). Called from
// the poller thread, so implementations only store or queue.
class net_observer
{
public:
    virtual ~net_observer() = default;

    virtual void set_upnp_established(bool established) = 0;
    virtual void set_upnp_wanted(bool wanted) = 0;
    // A status line protected from being overwritten for a while.
    virtual void show_sticky_status(const std::string& text) = 0;
    virtual void chime_connected() = 0;
    virtual void beep_alert() = 0;
};

// An observer that ignores everything (tests, and runs without a window).
class null_net_observer final : public net_observer
{
public:
    void set_upnp_established(bool) override {}

    void set_upnp_wanted(bool) override {}

    void show_sticky_status(const std::string&) override {}

    void chime_connected() override {}

    void beep_alert() override {}
};

} // namespace torrent
