// The main window's stored settings: the record read at initialisation, what the settings
// dialog reads and applies through the window, and the record written at exit.
#include <algorithm>

#include <QGuiApplication>
#include <QScreen>

#include "app/help_dialog.h"
#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "base/data_folder.h"

namespace
{

// Stored sizes beyond this (a damaged file) are not taken; the defaults stay.
constexpr int max_stored_extent = 16384;

bool plausible(std::int32_t extent)
{
    return extent > 0 && extent <= max_stored_extent;
}

} // namespace

void MainWindow::loadSettings()
{
    m_saveFolder = m_registry.ReadDefaultSaveFolder();
    if (const auto record = m_registry.ReadSettings())
    {
        m_settingsRead = true;
        // The run-time values first (the pending command line replaces them once the
        // network is up), then the geometry and, when in range, the start-time maximums.
        torrent::ApplySettings(*record, *this, false);
        takeStoredGeometry(*record);
        torrent::take_stored_maximums(*record, m_maxTasks, m_maxConnections);
    }
    else
    {
        m_session->set_rate_limits(m_runtime.values.upload_limit, m_runtime.values.download_limit);
        m_session->set_seeding_time(m_runtime.values.seeding_time);
    }
    // Downloads go to the desktop's download folder until the user chooses another.
    if (m_saveFolder.empty())
        m_saveFolder = torrent::download_folder();
}

void MainWindow::takeStoredGeometry(const torrent::SettingsRecord& record)
{
    torrent::window_geometry g;
    g.buttons_shown = (record.flags & torrent::SettingsRecord::buttons_shown) != 0;
    g.user_width = plausible(record.user_width) ? record.user_width : 0;
    g.user_height = plausible(record.user_height) ? record.user_height : 0;
    g.single_line_width = plausible(record.single_line_width) ? record.single_line_width : 0;
    g.single_line_ext_width = plausible(record.single_line_ext_width) ? record.single_line_ext_width : 0;
    g.single_line_ext_height = plausible(record.single_line_ext_height) ? record.single_line_ext_height : 0;
    g.right = record.position_x;
    g.top = record.position_y;
    m_storedRightTop = QPoint(record.position_x, record.position_y);
    m_buttonsWanted = g.buttons_shown;
    // The sizes go to the layouts (too small ones are not taken); the place follows the
    // right edge once the window's layout, and so its width, is known.
    setLayoutGeometry(g);
}

void MainWindow::moveToStoredPlace()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    // The right edge goes back where it was, whatever the width of the layout the window
    // opens in; a window that would end beyond the screen keeps 70 pixels from its edge.
    const QRect desk = screen->availableGeometry();
    const int width = this->width();
    const int height = this->height();
    int left = torrent::left_edge_for(m_storedRightTop.x(), width, screen->geometry().width());
    left = std::max(left, desk.left());
    int top = m_storedRightTop.y();
    if (top < desk.top() || top > desk.bottom() - std::min(height, desk.height() / 2))
        top = desk.top() + 5;
    move(left, top);
}

QPoint MainWindow::rightTop() const
{
    // The frame's left edge plus the width inside it: the frame's own width is not known
    // until the window manager has framed a shown window, so the next start, placing the
    // window before it is shown, gets the same edge back. A hidden or minimised window
    // keeps its place; it is where the window comes back to.
    return {x() + width(), y()};
}

torrent::settings_values MainWindow::current_settings() const
{
    torrent::settings_values values{m_maxTasks, m_maxConnections, m_runtime.values};
    values.runtime.upnp_wanted = m_upnpSetting;
    // Saved maximums wait for the next start; the dialog shows them, so saving it again
    // for another value does not put the ones in use back.
    if (m_savedMaximums)
    {
        values.max_tasks = m_savedMaximums->max_tasks;
        values.max_connections = m_savedMaximums->max_connections;
    }
    return values;
}

torrent::window_geometry MainWindow::current_geometry() const
{
    torrent::window_geometry g;
    // While the network is down the buttons are hidden whatever was chosen for them.
    g.buttons_shown = m_runtime.network_up ? m_buttonsShown : m_buttonsWanted;
    g.user_width = m_userSize.width();
    g.user_height = m_userSize.height();
    g.single_line_width = m_singleLineWidth;
    g.single_line_ext_width = m_extSize.width();
    g.single_line_ext_height = m_extSize.height();
    const QPoint rt = rightTop();
    g.right = rt.x();
    g.top = rt.y();
    return g;
}

void MainWindow::apply_settings(const torrent::settings_values& values)
{
    // The UPnP wish is SetUpnp's, which the record's application calls next.
    const bool wish = m_runtime.values.upnp_wanted;
    m_runtime.values = values.runtime;
    m_runtime.values.upnp_wanted = wish;
    m_upnpSetting = values.runtime.upnp_wanted;
    m_session->set_rate_limits(m_runtime.values.upload_limit, m_runtime.values.download_limit);
    m_session->set_seeding_time(m_runtime.values.seeding_time);
    // The display refresh period takes over from the timer's next tick.
}

bool MainWindow::store_settings(const torrent::SettingsRecord& record)
{
    return m_registry.WriteSettings(record) == torrent::registry_result::ok;
}

void MainWindow::remember_saved_maximums(std::uint8_t maxTasks, std::uint8_t maxConnections)
{
    m_savedMaximums = torrent::saved_maximums{maxTasks, maxConnections};
}

void MainWindow::writeSettingsAtExit()
{
    // A failed store leaves the file as it was; the program ends all the same.
    static_cast<void>(
        store_settings(torrent::settings_at_exit(current_settings(), current_geometry(), m_savedMaximums)));
}

void MainWindow::RunSettings()
{
    static_cast<void>(RunSettingsDialog(*this, this));
}

void MainWindow::ShowHelpViewer()
{
    ShowHelp(true, this);
}
