// The task list control's timer step: task rows and peer rows from the display records.
#include <QLabel>
#include <QTableView>

#include "app/list_model.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "net/local_address.h"
#include "ui/number_format.h"

namespace
{

QString size_text(std::uint64_t v)
{
    return qt_string(torrent::FormatSize(v));
}

std::int64_t download_time_left(const torrent::TaskView& v)
{
    if (v.download_rate == 0)
        return -1;
    const std::uint64_t left = (v.total > v.held ? v.total - v.held : 0) / v.download_rate;
    return left > 0xFFFFFFFFu ? -1 : static_cast<std::int64_t>(left);
}

// The mark of a peer record's state; outgoing and incoming connections differ.
QString peer_mark(const torrent::PeerView& pv)
{
    const bool out = pv.outgoing;
    switch (static_cast<unsigned>(pv.state))
    {
    case 9:
    case 11:
        return out ? QStringLiteral("<<") : QStringLiteral(">>");
    case 10:
        return out ? QStringLiteral("=>") : QStringLiteral("->");
    case 12:
    case 13:
        return QStringLiteral("<>");
    case 14:
        return out ? QStringLiteral("=|") : QStringLiteral("-|");
    case 15:
        return out ? QStringLiteral("|=") : QStringLiteral("|-");
    case 17:
        return QStringLiteral("==");
    default:
        return QStringLiteral("??");
    }
}

// Peer-list columns.
enum peer_column : int
{
    peer_mark_column = 0,
    peer_download_rate = 1,
    peer_downloaded = 2,
    peer_upload_rate = 3,
    peer_uploaded = 4,
    peer_owned = 5,
    peer_address = 6,
    peer_client = 7,
};

} // namespace

bool TaskList::refresh(bool full)
{
    if (m_mode != Mode::tasks)
        return false;
    bool changed = false;
    for (int i = 0; i < MainWindow::slot_count; ++i)
    {
        SlotView& s = m_owner.slot(i);
        // A task whose entry went (deleted while it checked its data) is still watched, so
        // it is closed once its check has ended.
        if (s.starting || s.view.state == torrent::view_state::stopped)
            continue;
        changed = refreshTask(s, full) || changed;
    }
    return changed;
}

bool TaskList::refreshTask(SlotView& s, bool full)
{
    torrent::TaskView& v = s.view;
    torrent::session_controller& session = m_owner.session();
    const torrent::tick_t now = session.now();
    // 1. The view from its task; a full refresh writes size and name too.
    session.refresh(v, now, false);
    if (v.state == torrent::view_state::downloading)
        s.downloadedHere = true;
    const int row = s.entry != nullptr ? rowOf(*s.entry) : -1;
    s.row = row;
    if (full && row >= 0)
    {
        m_model->setCell(row, size, size_text(v.total));
        m_model->setCell(row, name, nameText(*s.entry));
    }
    // 2-4. The rules that end a task.
    const torrent::task_watch w = session.watch(v, now);
    m_owner.reportTaskNews(s, w);
    if (w.seeding_began)
        m_owner.beepDone(&s);
    if (w.ended)
    {
        markEnded(s, w.end_state == torrent::view_state::upload_over || w.complete);
        m_owner.taskEnded(s);
        s.row = -1;
        m_owner.recountRunning();
        m_owner.beepDone(nullptr);
        return true;
    }
    if (row < 0)
    {
        v.flags = 0;
        return false;
    }
    bool stateChanged = false;
    // 5. A new state: checking shows ">>", anything else clears the mark.
    if ((v.flags & torrent::view_flag::state) != 0)
    {
        stateChanged = true;
        m_model->setCell(
            row, mark, v.state == torrent::view_state::checking ? QStringLiteral(">>") : QString());
    }
    // 3. The seeding time left.
    if (v.upload_started != 0 && w.seeding_left_ms >= 0)
        m_model->setCell(row, time_left, qt_string(torrent::FormatDuration(w.seeding_left_ms / 1000)));
    // 6. The figures whose flags are set.
    writeFigures(row, s, full ? torrent::view_flag::all : v.flags);
    // 7. The activity mark.
    const bool checking = v.state == torrent::view_state::checking;
    if (v.flags == 0 || checking)
    {
        s.blink ^= 1;
        QString shown;
        if (checking)
            shown = s.blink != 0 ? QStringLiteral(" >") : QStringLiteral(">>");
        else if (s.blink != 0)
            shown = QStringLiteral("==");
        else
            shown = v.held < v.total ? QStringLiteral("=>") : QStringLiteral("<=");
        m_model->setCell(row, mark, shown);
    }
    else
    {
        if (v.download_rate != 0)
            m_model->setCell(row, mark, QStringLiteral("=>"));
        else if (v.upload_rate != 0)
            m_model->setCell(row, mark, QStringLiteral("<="));
    }
    // 8. The selected task's figures go to the detail fields.
    const QModelIndex selected = m_view->currentIndex();
    if (selected.isValid() && selected.row() == row && !m_allTasksOnly)
        writeDetails(s);
    if (s.entry != nullptr)
    {
        s.entry->done = v.held;
        s.entry->total = v.total;
    }
    v.flags = 0;
    return stateChanged;
}

void TaskList::writeFigures(int row, SlotView& s, std::uint16_t flags)
{
    const torrent::TaskView& v = s.view;
    if ((flags & torrent::view_flag::uploaded) != 0)
        m_model->setCell(row, uploaded, size_text(v.uploaded));
    if ((flags & torrent::view_flag::upload_rate) != 0)
        m_model->setCell(row, upload_rate, size_text(v.upload_rate));
    if ((flags & torrent::view_flag::held) != 0)
    {
        m_model->setCell(row, downloaded, size_text(v.held));
        m_model->setCell(row, completion, qt_string(torrent::FormatPercent(v.held, v.total)));
    }
    if ((flags & torrent::view_flag::download_rate) != 0)
    {
        m_model->setCell(row, download_rate, size_text(v.download_rate));
        if (v.upload_started == 0)
            m_model->setCell(row, time_left, qt_string(torrent::FormatDuration(download_time_left(v))));
    }
    if ((flags & torrent::view_flag::peer_count) != 0)
        m_model->setCell(row, peers_column, QString::number(v.peer_count));
}

void TaskList::writeDetails(SlotView& s)
{
    const torrent::TaskView& v = s.view;
    auto& values = m_owner.m_values;
    values[0]->setText(size_text(v.total));
    values[1]->setText(m_model->cell(s.row, time_left));
    values[2]->setText(size_text(v.download_rate));
    values[3]->setText(size_text(v.upload_rate));
    values[4]->setText(QString::number(v.peer_count));
    values[5]->setText(qt_string(torrent::FormatPercent(v.held, v.total)));
    values[6]->setText(size_text(v.held));
    values[7]->setText(size_text(v.uploaded));
}

void TaskList::updateTaskRow(SlotView& s)
{
    if (s.entry == nullptr)
        return;
    const int row = rowOf(*s.entry);
    s.row = row;
    if (row < 0)
        return;
    const torrent::TaskView& v = s.view;
    m_model->setCell(row, mark, v.state == torrent::view_state::checking ? QStringLiteral(">>") : QString());
    m_model->setCell(row, name, nameText(*s.entry));
    m_model->setCell(row, size, size_text(v.total));
    writeFigures(row, s, torrent::view_flag::all);
}

void TaskList::markEnded(SlotView& s, bool complete)
{
    if (s.entry == nullptr)
        return;
    torrent::task_entry& e = *s.entry;
    e.total = s.view.total;
    e.done = std::min(s.view.held, s.view.total);
    e.status = complete || (e.total != 0 && e.done >= e.total) ? torrent::task_status::finished
                                                               : torrent::task_status::stopped;
    writeStoppedRow(e);
}

bool TaskList::refreshPeers(SlotView* current)
{
    if (m_mode != Mode::peers || current == nullptr || current->free())
        return false;
    torrent::TaskView& v = current->view;
    m_owner.session().refresh(v, m_owner.session().now(), true);
    bool changed = false;
    for (std::size_t i = 0; i < v.peers.size(); ++i)
    {
        torrent::PeerView& pv = v.peers[i];
        const std::uint16_t flags = pv.flags & ~torrent::peer_view_flag::row_exists;
        if (flags == 0)
            continue;
        changed = true;
        const auto key = static_cast<std::uintptr_t>(i + 1);
        int row = m_model->rowOf(key);
        if (pv.state == torrent::peer_state::gone)
        {
            if (row >= 0)
                m_model->removeRow(row);
            pv.flags = 0;
            continue;
        }
        std::uint16_t write = flags;
        if (row < 0)
        {
            row = m_model->appendRow(key);
            write = 0xFFFF;
        }
        if ((write & (torrent::peer_view_flag::state | torrent::peer_view_flag::identity)) != 0)
            m_model->setCell(row, peer_mark_column, peer_mark(pv));
        if ((write & torrent::peer_view_flag::download_rate) != 0)
            m_model->setCell(row, peer_download_rate, size_text(pv.download_rate));
        if ((write & torrent::peer_view_flag::downloaded) != 0)
            m_model->setCell(row, peer_downloaded, size_text(pv.downloaded));
        if ((write & torrent::peer_view_flag::upload_rate) != 0)
            m_model->setCell(row, peer_upload_rate, size_text(pv.upload_rate));
        if ((write & torrent::peer_view_flag::uploaded) != 0)
            m_model->setCell(row, peer_uploaded, size_text(pv.uploaded));
        if ((write & torrent::peer_view_flag::pieces) != 0)
            m_model->setCell(
                row, peer_owned, size_text(static_cast<std::uint64_t>(pv.pieces_owned) * v.piece_length));
        if ((write & torrent::peer_view_flag::identity) != 0)
            m_model->setCell(
                row,
                peer_address,
                QStringLiteral("%1:%2").arg(qt_string(torrent::ipv4_text(pv.ip))).arg(pv.port));
        if ((write & (torrent::peer_view_flag::client | torrent::peer_view_flag::identity)) != 0)
            m_model->setCell(row, peer_client, qt_string(pv.client));
        pv.flags = torrent::peer_view_flag::row_exists;
    }
    return changed;
}

void TaskList::updateSummary()
{
    // The peer list's summary is the current task's detail fields, which RefreshCurrent
    // keeps; the list itself has nothing more to add.
}
