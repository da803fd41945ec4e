// The main window's task flows: a new task, starting and stopping, the save folder, the
// close prompt and the hand-over from a second copy.
#include <fcntl.h>
#include <unistd.h>

#include <QLabel>
#include <QTableView>

#include "app/desktop_notifier.h"
#include "app/main_window.h"
#include "app/prompt.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "base/paths.h"
#include "engine/task.h"
#include "ui/result_text.h"

using torrent::uitext::id;

namespace
{

QString uiString(id entry)
{
    return qt_string(torrent::ui_text(entry));
}

// Copies a file to `target`, which must not exist yet; nothing is left behind on failure.
bool copyNew(const std::string& source, const std::string& target)
{
    std::string bytes;
    if (!torrent::read_whole_file(source, bytes, std::size_t{128} << 20))
        return false;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == bytes.size() && ::close(fd) == 0;
    if (!ok)
    {
        if (done != bytes.size())
            ::close(fd);
        ::unlink(target.c_str());
    }
    return ok;
}

bool containsFolded(std::string_view text, std::string_view needle)
{
    std::string folded(text);
    for (char& c : folded)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded.find(needle) != std::string::npos;
}

} // namespace

void MainWindow::OpenTorrentDialog()
{
    if (m_saveFolder.empty())
    {
        m_prompt.warn(this, uiString(torrent::uitext::choose_save_folder_first));
        return;
    }
    const QString path = m_prompt.openTorrentFile(this, qt_string(m_saveFolder));
    if (!path.isEmpty())
        OpenTorrent(utf8_string(path));
}

void MainWindow::OpenTorrent(const std::string& path)
{
    // 1. No network, no task.
    if (!m_runtime.network_up)
    {
        m_prompt.warn(this, uiString(torrent::uitext::network_not_connected));
        return;
    }
    // 2. A new entry, stopped.
    auto entry = std::make_unique<torrent::task_entry>();
    entry->torrent_path = path;
    entry->save_folder = m_saveFolder;
    entry->status = torrent::task_status::stopped;
    // 3. Its files.
    torrent::selection_record chosen;
    static_cast<void>(
        m_prompt.selectFiles(this, entry->torrent_path, entry->save_folder, m_options.data_folder, chosen));
    // 4. Started when a slot is free, otherwise kept as a stopped entry.
    const int busy = m_running + static_cast<int>(m_session->starts_pending());
    if (busy < m_maxTasks)
    {
        torrent::task_entry& e = m_list->holdNew(std::move(entry));
        StartTask(
            e,
            true,
            [this, &e](bool started)
            {
                if (!started)
                {
                    m_list->dropNew(e);
                    return;
                }
                m_list->addEntry(e);
                m_list->view()->setFocus();
            });
        return;
    }
    torrent::task_entry& e = m_list->holdNew(std::move(entry));
    m_list->addEntry(e);
    m_list->view()->setFocus();
}

int MainWindow::chooseSlot() const
{
    for (int i = 1; i <= m_maxTasks; ++i)
    {
        if (m_slots[static_cast<std::size_t>(i)].free())
            return i;
    }
    return m_slots[0].free() ? 0 : -1;
}

void MainWindow::StartTask(torrent::task_entry& entry, bool report, std::function<void(bool)> done)
{
    if (!done)
        done = [](bool) {
        };
    // 1. No network, no task.
    if (!m_runtime.network_up)
    {
        if (report)
            m_prompt.warn(this, uiString(torrent::uitext::network_not_connected));
        done(false);
        return;
    }
    const int index = chooseSlot();
    if (index < 0)
    {
        if (report)
            m_prompt.warn(this, uiString(torrent::uitext::cannot_start_task));
        done(false);
        return;
    }
    // 2. The open (reading the torrent, creating and sizing its files, mapping its
    // piece-state file) runs on the session's worker; the rest follows here.
    SlotView& s = m_slots[static_cast<std::size_t>(index)];
    s.starting = true;
    s.entry = &entry;
    entry.view_slot = index;
    m_session->start_task_async(
        entry.torrent_path,
        entry.save_folder,
        s.view,
        [this, &entry, index, report, done](
            torrent::Task* task, torrent::open_task_result result, const torrent::storage_error& why)
        {
            QMetaObject::invokeMethod(
                this,
                [this, &entry, index, task, result, why, report, done]
                { finishStart(entry, index, task, result, why, report, done); },
                Qt::QueuedConnection);
        });
    // The tick watches the start while no task runs yet.
    setTimer(probe_period_ms);
}

void MainWindow::finishStart(
    torrent::task_entry& entry,
    int index,
    torrent::Task* task,
    torrent::open_task_result result,
    const torrent::storage_error& why,
    bool report,
    const std::function<void(bool)>& done)
{
    SlotView& s = m_slots[static_cast<std::size_t>(index)];
    s.starting = false;
    if (task == nullptr)
    {
        s.entry = nullptr;
        entry.view_slot = -1;
        if (result == torrent::open_task_result::cannot_open)
            entry.status = torrent::task_status::in_use;
        else if (
            result == torrent::open_task_result::unreadable && !torrent::is_regular_file(entry.torrent_path))
            entry.status = torrent::task_status::missing;
        // The window's message, then what the table says failed.
        if (report)
        {
            std::string message(torrent::ui_text(torrent::uitext::cannot_start_task));
            const std::string reason = torrent::result_text(result, why);
            if (reason != message)
                message += "\r\r" + reason;
            m_prompt.warn(this, qt_string(message));
        }
        done(false);
        return;
    }
    if (m_exitPending)
    {
        m_session->stop_task(s.view);
        s.entry = nullptr;
        entry.view_slot = -1;
        done(false);
        return;
    }
    // 3. One more running task; its slot is the current one.
    m_currentIndex = index;
    m_current = &s;
    recountRunning();
    // 4. The entry runs in this slot.
    entry.status = torrent::task_status::running;
    entry.name = s.view.name;
    entry.total = s.view.total;
    entry.done = s.view.held;
    s.downloadedHere = false;
    s.blink = 0;
    // 5. The tray and the completion field.
    if (s.view.state == torrent::view_state::uploading)
    {
        m_values[5]->setText(QStringLiteral("上传中!"));
        const std::string tip = "上传中!\r\n" + s.view.name;
        m_tray->SetIcon(&m_icon, &tip);
    }
    else
    {
        m_tray->SetIcon(&m_icon, &s.view.name);
    }
    done(true);
    s.row = m_list->rowOf(entry);
    m_list->select(entry);
    if (entry.index != 0)
        static_cast<void>(m_registry.WriteStatus(entry));
    // 6. The display, the timer at the refresh period, the counts.
    s.trackerFailureShown = 0;
    RefreshCurrent(&s, true);
    setTimer(static_cast<int>(m_runtime.values.refresh_period));
    ShowTaskCounts();
    // A tracker that refused the task before the counts were written still gets its line.
    if (!s.view.tracker_failure.empty())
    {
        s.trackerFailureShown = 0;
        reportTaskNews(s, {});
    }
}

void MainWindow::reportTaskNews(SlotView& s, const torrent::task_watch& w)
{
    const torrent::TaskView& v = s.view;
    if (w.fault)
    {
        ShowStatus(qt_string(v.name + ": " + torrent::result_text(*w.fault)), true);
        return;
    }
    if (v.tracker_failure_serial != s.trackerFailureShown)
    {
        s.trackerFailureShown = v.tracker_failure_serial;
        if (!v.tracker_failure.empty())
            ShowStatus(
                qt_string(
                    v.name + ": "
                    + torrent::result_text(
                        torrent::announce_outcome::failure, v.tracker_failure_url, v.tracker_failure)),
                false);
    }
}

void MainWindow::recountRunning()
{
    int n = 0;
    for (int i = 1; i <= m_maxTasks && i < slot_count; ++i)
        n += m_slots[static_cast<std::size_t>(i)].view.state != torrent::view_state::stopped ? 1 : 0;
    if (m_slots[0].view.state != torrent::view_state::stopped)
        ++n;
    m_running = n;
}

void MainWindow::beepDone(const SlotView* s)
{
    play(torrent::sounds::beep_done);
    if (s != nullptr && s->downloadedHere && m_notifier != nullptr)
        m_notifier->downloadComplete(qt_string(s->view.name), qt_string(s->view.save_folder));
}

void MainWindow::taskEnded(SlotView& s)
{
    torrent::task_entry* entry = s.entry;
    s.entry = nullptr;
    if (entry == nullptr)
        return;
    entry->view_slot = -1;
    entry->total = s.view.total;
    entry->done = std::min(s.view.held, s.view.total);
    entry->status = entry->done >= entry->total && entry->total != 0 ? torrent::task_status::finished
                                                                     : torrent::task_status::stopped;
    if (entry->index != 0)
        static_cast<void>(m_registry.WriteStatus(*entry));
}

void MainWindow::stopTask(SlotView& s)
{
    const bool checking = s.view.state == torrent::view_state::checking;
    m_session->stop_task(s.view);
    if (torrent::task_entry* entry = s.entry)
    {
        entry->total = s.view.total;
        entry->done = std::min(s.view.held, s.view.total);
        entry->status = torrent::task_status::stopped;
        if (entry->index != 0)
            static_cast<void>(m_registry.WriteStatus(*entry));
    }
    // A task checking its data is closed by the tick once its check has ended.
    if (!checking)
    {
        if (s.entry != nullptr)
            s.entry->view_slot = -1;
        s.entry = nullptr;
        s.row = -1;
    }
    recountRunning();
}

void MainWindow::ChooseSaveFolder()
{
    writeSaveToStatus();
    const std::string title = "当前被选择的路径是:\r\n" + m_saveFolder;
    const QString picked = m_prompt.chooseFolder(this, qt_string(title), qt_string(m_saveFolder));
    if (!picked.isEmpty())
    {
        m_saveFolder = torrent::trim_trailing_slashes(utf8_string(picked));
        writeSaveToStatus();
        if (m_registry.WriteDefaultSaveFolder(m_saveFolder) != torrent::registry_result::ok)
            ShowStatus(
                qt_string(
                    "[Save To] " + m_saveFolder + " ("
                    + std::string(torrent::ui_text(torrent::uitext::open_file_failed)) + ")"),
                false);
    }
    m_list->view()->setFocus();
}

void MainWindow::ClosePrompt()
{
    const Prompt::Answer answer = m_prompt.askYesNoCancel(this, uiString(torrent::uitext::close_prompt));
    if (answer == Prompt::Answer::No)
    {
        HideToTray();
        return;
    }
    if (answer == Prompt::Answer::Cancel)
        return;
    EndProgram();
}

void MainWindow::EndProgram()
{
    if (m_exitPending)
        return;
    writeSettingsAtExit();
    m_tray->SetIcon(nullptr, nullptr);
    hide();
    m_exitPending = true;
    if (m_running == 0)
        setTimer(probe_period_ms);
}

void MainWindow::ReceiveHandover(const std::string& received)
{
    // 1. Double quotes at both ends go.
    std::string text = received;
    if (!text.empty() && text.front() == '"')
        text.erase(0, 1);
    if (!text.empty() && text.back() == '"')
        text.pop_back();
    if (text.empty())
        return;
    // 2. A .torrent file.
    if (text.front() != '-')
    {
        handleHandoverPath(text);
        return;
    }
    // 3. Run-time options; the confirmation box is shown once the sender has its answer.
    const torrent::command_line line(text);
    if (!line.has("-set"))
        return;
    const torrent::runtime_apply_outcome outcome = torrent::ApplyRuntimeOptions(m_runtime, line, true);
    applyRuntime(outcome);
    if (!outcome.confirmation.empty())
    {
        const QString confirmation = qt_string(outcome.confirmation);
        QTimer::singleShot(0, this, [this, confirmation] { m_prompt.inform(this, confirmation); });
    }
}

void MainWindow::handleHandoverPath(const std::string& text)
{
    if (!containsFolded(text, ".torrent") || !torrent::is_regular_file(text))
        return;
    std::string path = text;
    if (!text.starts_with(m_options.data_folder))
    {
        // A copy in the data folder's "torrent" folder, never over a file already there:
        // a file handed over twice is opened once.
        const std::string target = torrent::join_path(
            torrent::join_path(m_options.data_folder, "torrent"), torrent::file_name_of(text));
        static_cast<void>(torrent::make_folders(torrent::join_path(m_options.data_folder, "torrent")));
        if (!copyNew(text, target))
            return;
        path = target;
    }
    QTimer::singleShot(0, this, [this, path] { OpenTorrent(path); });
}
