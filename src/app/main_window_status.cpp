// The main window's display: status line and symbol, detail fields, tray tip, showing and
// hiding.
#include <QLabel>
#include <QPushButton>

#include "app/help_dialog.h"
#include "app/main_window.h"
#include "app/prompt.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "engine/task.h"
#include "net/local_address.h"
#include "net/network_context.h"
#include "ui/number_format.h"

using torrent::uitext::id;

namespace
{

QString size_text(std::uint64_t v)
{
    return qt_string(torrent::FormatSize(v));
}

// Seconds to go at the download rate, or -1 when there is no estimate.
std::int64_t download_time_left(const torrent::TaskView& v)
{
    if (v.download_rate == 0)
        return -1;
    const std::uint64_t left = (v.total > v.held ? v.total - v.held : 0) / v.download_rate;
    return left > 0xFFFFFFFFu ? -1 : static_cast<std::int64_t>(left);
}

} // namespace

void MainWindow::ShowStatus(const QString& text, bool sticky)
{
    const torrent::tick_t now = m_session->now();
    if (sticky)
    {
        m_stickyAt = now != 0 ? now : 1;
    }
    else if (m_stickyAt != 0)
    {
        if (now - m_stickyAt < sticky_ms)
            return;
        m_stickyAt = 0;
    }
    m_status->setText(display_text(utf8_string(text)).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

void MainWindow::ShowTaskCounts()
{
    const QString text = QStringLiteral("%1[%2:%3] %4")
                             .arg(m_upnpEstablished ? QStringLiteral("∞") : QString())
                             .arg(m_running)
                             .arg(m_maxTasks)
                             .arg(ui_qtext(torrent::uitext::task_counts));
    ShowStatus(text, false);
}

void MainWindow::writeSaveToStatus()
{
    ShowStatus(QStringLiteral("[Save To] %1").arg(qt_string(m_saveFolder)), false);
}

int MainWindow::showStatusSymbol()
{
    static const QString symbols[] = {
        QStringLiteral("↑"),
        QStringLiteral("→"),
        QStringLiteral("↓"),
        QStringLiteral("←"),
        QStringLiteral("□"),
        QStringLiteral("■")};
    m_symbol->setText(symbols[m_symbolIndex]);
    m_symbolIndex = (m_symbolIndex + 1) % (m_runtime.values.upnp_wanted ? 6 : 4);
    return m_symbolIndex;
}

void MainWindow::resetStatusSymbol()
{
    m_symbolIndex = 4;
}

void MainWindow::refreshTrayTip()
{
    if (m_current == nullptr || m_current->free())
        return;
    const torrent::TaskView& v = m_current->view;
    std::string tip;
    if (v.state == torrent::view_state::uploading)
    {
        tip = "上传中! 上传速度:" + torrent::FormatSize(v.upload_rate) + "\r\n" + v.name;
    }
    else
    {
        const std::uint64_t percent = v.total != 0 ? v.held * 100 / v.total : 0;
        tip = "下载中! 完成度:" + std::to_string(percent) + "%,"
            + "下载速度:" + torrent::FormatSize(v.download_rate) + "\r\n" + v.name;
    }
    m_tray->SetIcon(&m_icon, &tip);
}

void MainWindow::showButtons(bool shown)
{
    m_buttonsShown = shown;
    m_go->setVisible(shown);
    m_go->setEnabled(shown);
    m_saveTo->setVisible(shown);
    m_saveTo->setEnabled(shown);
}

void MainWindow::RefreshCurrent(SlotView* s, bool full)
{
    // 1. In task-list mode the list does the work.
    if (m_list->mode() == TaskList::Mode::tasks)
    {
        m_list->refresh(full);
        return;
    }
    // 2. No running task: the save folder.
    if (s == nullptr || s->free())
    {
        writeSaveToStatus();
        return;
    }
    torrent::TaskView& v = s->view;
    // 3. Total size and name.
    if (full)
    {
        m_values[total_size]->setText(size_text(v.total));
        ShowStatus(qt_string(v.name), false);
    }
    // 4-7. The rules that end a task, with their display.
    const torrent::task_watch w = m_session->watch(v, m_session->now());
    reportTaskNews(*s, w);
    if ((v.flags & torrent::view_flag::state) != 0)
        m_list->updateTaskRow(*s);
    if (w.seeding_began)
        beepDone(s);
    if (v.upload_started != 0 && !w.ended && w.seeding_left_ms >= 0)
        m_values[time_left]->setText(qt_string(torrent::FormatDuration(w.seeding_left_ms / 1000)));
    if (w.ended)
    {
        const id words = w.end_state == torrent::view_state::upload_over ? torrent::uitext::download_complete
                                                                         : torrent::uitext::stopped;
        if (w.end_state == torrent::view_state::upload_over)
            m_values[time_left]->setText(qt_string(torrent::FormatDuration(0)));
        m_values[completion]->setText(ui_qtext(words));
        const std::string tip = std::string(torrent::ui_text(words)) + "\r\n" + v.name;
        m_tray->SetIcon(&m_icon, &tip);
        taskEnded(*s);
        if (!full)
            m_list->markEnded(*s, w.end_state == torrent::view_state::upload_over || w.complete);
        s->row = -1;
        recountRunning();
        beepDone(nullptr);
        v.flags = 0;
        return;
    }
    // 8. The detail fields by change flag.
    if (m_layout != torrent::display_layout::hidden)
    {
        std::uint16_t flags = full ? torrent::view_flag::all : v.flags;
        if ((flags & torrent::view_flag::uploaded) != 0)
        {
            m_values[uploaded]->setText(size_text(v.uploaded));
            flags |= torrent::view_flag::upload_rate;
        }
        if ((flags & torrent::view_flag::upload_rate) != 0)
            m_values[upload_rate]->setText(size_text(v.upload_rate));
        if ((flags & torrent::view_flag::held) != 0)
        {
            m_values[downloaded]->setText(size_text(v.held));
            if (full || v.state == torrent::view_state::downloading)
                m_values[completion]->setText(qt_string(torrent::FormatPercent(v.held, v.total)));
        }
        if ((flags & torrent::view_flag::download_rate) != 0)
        {
            m_values[download_rate]->setText(size_text(v.download_rate));
            if (v.upload_started == 0)
                m_values[time_left]->setText(qt_string(torrent::FormatDuration(download_time_left(v))));
        }
        if ((flags & torrent::view_flag::peer_count) != 0)
            m_values[connections]->setText(QString::number(v.peer_count));
    }
    // 9.
    v.flags = 0;
    refreshTrayTip();
}

void MainWindow::ShowNetworkInfo(SlotView* s)
{
    std::string text;
    if (s != nullptr && !s->free())
        text = s->view.name + "\r\n" + std::string(torrent::ui_text(torrent::uitext::tracker_peer_count))
            + std::to_string(s->view.tracker_peers);
    std::uint32_t localIp = 0;
    std::uint16_t localPort = 0;
    std::string externalText;
    std::uint16_t externalPort = 0;
    if (torrent::NetworkContext* net = m_session->network())
    {
        localIp = net->local_ip();
        localPort = net->listen_port();
        const auto ext = net->external().get();
        externalText = ext.text;
        externalPort = ext.port;
    }
    const std::string box = std::string(torrent::ui_text(torrent::uitext::internal_network)) + "["
        + torrent::ipv4_text(localIp) + ":" + std::to_string(localPort) + "],"
        + std::string(torrent::ui_text(torrent::uitext::external_network)) + "[" + externalText + ":"
        + std::to_string(externalPort) + "]\r\n\r\n" + text;
    m_prompt.inform(this, qt_string(box));
}

void MainWindow::SetUpnp(bool wanted, bool startNow)
{
    if (m_upnpEstablished)
        return;
    m_runtime.values.upnp_wanted = wanted;
    if (wanted && startNow && m_session->network() != nullptr)
        m_session->restart_port_mapping();
}
