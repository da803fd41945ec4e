// The main window's timer: one tick at a time, in a fixed order of steps.
#include <malloc.h>

#include <QApplication>

#include "app/main_window.h"
#include "app/prompt.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "net/local_address.h"

using torrent::uitext::id;

void MainWindow::play(std::span<const torrent::tone> signal)
{
    if (m_soundOff)
        return;
    ++m_soundsPlayed;
    m_sound.play(signal);
}

void MainWindow::setTimer(int ms)
{
    // A tick sets its own next period when it ends; anything asked for meanwhile (a task
    // started from a box the tick showed) waits for that, so ticks never overlap.
    if (m_inTick)
    {
        m_tickRequest = ms;
        return;
    }
    m_timer.start(ms);
}

bool MainWindow::probeNetwork() const
{
    return torrent::route_source_address() != 0;
}

void MainWindow::networkCameUp()
{
    m_runtime.network_up = true;
    applyRuntime(torrent::apply_pending_runtime_options(m_runtime));
    bindPort();
    showButtons(m_buttonsWanted);
}

void MainWindow::bindPort()
{
    torrent::session_start start;
    start.port = m_options.start.listen_port;
    start.listen_address = m_options.listen_address;
    start.max_connections = m_maxConnections;
    start.upnp_wanted = m_runtime.values.upnp_wanted;
    start.upnp_possible = true;
    if (m_session->start_network(start) != torrent::set_port_result::started)
        m_prompt.warn(this, qt_string(torrent::ui_text(torrent::uitext::listen_bind_failed)));
}

void MainWindow::applyRuntime(const torrent::runtime_apply_outcome& outcome)
{
    if (!outcome.applied)
        return;
    const torrent::runtime_values& v = m_runtime.values;
    // The command line's UPnP option is the setting as well as the wish.
    m_upnpSetting = v.upnp_wanted;
    m_session->set_rate_limits(v.upload_limit, v.download_limit);
    m_session->set_seeding_time(v.seeding_time);
    if (outcome.upnp_requested)
        SetUpnp(true, outcome.upnp_start_now);
    else
        SetUpnp(false, false);
}

void MainWindow::takeNetworkReports()
{
    const torrent::network_report r = m_session->events().take();
    if (r.upnp_established)
        m_upnpEstablished = *r.upnp_established;
    if (r.upnp_wanted)
        m_runtime.values.upnp_wanted = *r.upnp_wanted;
    for (const std::string& line : r.sticky_lines)
        ShowStatus(qt_string(line), true);
    for (unsigned i = 0; i < r.chimes; ++i)
    {
        play(torrent::sounds::chime_connected);
    }
    for (unsigned i = 0; i < r.alerts; ++i)
    {
        play(torrent::sounds::beep_alert);
    }
}

void MainWindow::tick()
{
    if (m_inTick)
        return;
    // 1. The timer is off while the tick runs.
    m_timer.stop();
    m_inTick = true;
    m_tickRequest = -1;

    // 2. Exit.
    if (m_exitPending)
    {
        m_inTick = false;
        exitNow();
        return;
    }

    // 3. Loading the task list.
    if (m_list->loading())
    {
        if (m_list->loadStep())
        {
            setTimer(probe_period_ms);
        }
        else
        {
            m_list->endLoading();
            RefreshCurrent(m_current, true);
        }
    }

    // 4. The network probe.
    if (!m_runtime.network_up)
    {
        if (probeNetwork())
        {
            networkCameUp();
            ShowStatus(ui_qtext(torrent::uitext::network_connected), true);
            play(torrent::sounds::chime_connected);
        }
        else
        {
            setTimer(probe_period_ms);
            if (showStatusSymbol() == 0)
                ShowStatus(ui_qtext(torrent::uitext::network_probing), false);
        }
    }

    // 5. Nothing more to do while no task runs.
    if (m_running > 0 || m_session->starts_pending() > 0)
    {
        // 6. Timed minimise.
        timedMinimise();
        // 7. The display.
        if (m_list->mode() == TaskList::Mode::peers)
        {
            const bool rowsChanged = m_list->refreshPeers(m_current);
            if (m_current != nullptr && m_current->view.flags != 0)
                RefreshCurrent(m_current, false);
            if (rowsChanged)
                m_list->updateSummary();
        }
        else
        {
            if (m_list->refresh(false))
                recountRunning();
            // The tray follows the current task in the task list too.
            refreshTrayTip();
        }
    }

    // 8. The next tick.
    const int requested = m_tickRequest;
    m_inTick = false;
    if (m_running > 0)
    {
        showStatusSymbol();
        m_timer.start(static_cast<int>(m_runtime.values.refresh_period));
        if (requested >= 0 && requested < static_cast<int>(m_runtime.values.refresh_period))
            m_timer.start(requested);
    }
    else
    {
        if (m_runtime.network_up)
            resetStatusSymbol();
        if (requested >= 0)
            m_timer.start(requested);
        else if (m_session->starts_pending() > 0)
            m_timer.start(probe_period_ms);
    }
}

void MainWindow::timedMinimise()
{
    if (!m_runtime.values.timed_minimise)
        return;
    const unsigned period = std::max(1u, m_runtime.values.refresh_period);
    if (++m_minimiseCount < 3600000u / period)
        return;
    m_minimiseCount = 0;
    MinimiseAndRestore(m_layout != torrent::display_layout::hidden);
}

void MainWindow::exitNow()
{
    for (int i = 1; i <= m_maxTasks; ++i)
    {
        SlotView& s = m_slots[static_cast<std::size_t>(i)];
        if (s.view.task != nullptr && s.view.state < torrent::view_state::announcer_ended)
            stopTask(s);
    }
    SlotView& zero = m_slots[0];
    if (zero.view.task != nullptr && zero.view.state < torrent::view_state::announcer_ended)
        stopTask(zero);
    // The announcers' last "stopped" announce gets the pause before the end.
    static_cast<void>(m_session->wait_announcers(1000));
    Q_EMIT exitRequested(0);
}
