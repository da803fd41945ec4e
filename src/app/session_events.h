#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/net_observer.h"
#include "ui/result_text.h"

namespace torrent
{

// What the network layer reported since the front end last looked.
struct network_report
{
    std::vector<std::string> sticky_lines; // oldest first
    unsigned chimes = 0; // ChimeConnected signals asked for
    unsigned alerts = 0; // BeepAlert signals asked for
    std::optional<bool> upnp_established; // the latest value, when it was set
    std::optional<bool> upnp_wanted;
};

// The network layer's observer for a front end: the poller thread only queues here, and
// the front end's own thread takes the reports. A wake function, when set, is called after
// every report is queued (the window uses it to post itself a call; it must not block).
// Runs on: reports from the poller thread; take() on the front end's thread.
class session_events final : public net_observer
{
public:
    // Set before the network starts.
    void set_wake(std::function<void()> wake) { m_wake = std::move(wake); }

    void set_upnp_established(bool established) override
    {
        queue([&](network_report& r) { r.upnp_established = established; });
    }

    void set_upnp_wanted(bool wanted) override
    {
        queue([&](network_report& r) { r.upnp_wanted = wanted; });
    }

    void show_sticky_status(net_status status, const net_status_detail& detail) override
    {
        std::string line = result_text(status, detail);
        queue([&](network_report& r) { r.sticky_lines.push_back(std::move(line)); });
    }

    void chime_connected() override
    {
        queue([](network_report& r) { ++r.chimes; });
    }

    void beep_alert() override
    {
        queue([](network_report& r) { ++r.alerts; });
    }

    // Everything queued since the last call.
    [[nodiscard]] network_report take()
    {
        const std::lock_guard lock(m_mutex);
        network_report out = std::move(m_pending);
        m_pending = {};
        return out;
    }

    // The last mapping state reported (kept across take()).
    [[nodiscard]] bool upnp_established() const
    {
        const std::lock_guard lock(m_mutex);
        return m_established;
    }

private:
    template <class F>
    void queue(F change)
    {
        {
            const std::lock_guard lock(m_mutex);
            change(m_pending);
            if (m_pending.upnp_established)
                m_established = *m_pending.upnp_established;
        }
        if (m_wake)
            m_wake();
    }

    mutable std::mutex m_mutex;
    network_report m_pending;
    bool m_established = false;
    std::function<void()> m_wake;
};

} // namespace torrent
