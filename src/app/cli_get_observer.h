#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/net_observer.h"
#include "ui/result_text.h"

namespace zorvik::cli
{

// What the network layer tells a window, kept for a front end without one: the status
// lines (the port mapping's among them) wait here until the main thread prints them.
// Runs on: called from the poller thread, drained on the main thread.
class queued_net_observer final : public torrent::net_observer
{
public:
    void set_upnp_established(bool established) override
    {
        const std::lock_guard lock(m_mutex);
        m_established = established;
    }

    void set_upnp_wanted(bool) override {}

    void show_sticky_status(torrent::net_status status, const torrent::net_status_detail& detail) override
    {
        std::string line = torrent::result_text(status, detail);
        const std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }

    void chime_connected() override {}

    void beep_alert() override {}

    // The lines queued since the last call, oldest first.
    [[nodiscard]] std::vector<std::string> take_lines()
    {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_lines, {});
    }

    [[nodiscard]] bool upnp_established() const
    {
        const std::lock_guard lock(m_mutex);
        return m_established;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    bool m_established = false;
};

} // namespace zorvik::cli
