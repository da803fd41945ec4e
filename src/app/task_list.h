#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QString>

#include "registry/task_record.h"

class ListModel;
class MainWindow;
class QTableView;
struct SlotView;

// The main window's list control in its two modes: the task list (every entry of the
// task registry, live figures for the tasks this process runs) and the peer list (the
// peer records of the current task). It loads the registry step by step, refreshes the
// rows from the display records, rewriting only the cells whose figures changed, sorts on
// header clicks and carries the context menu with its commands.
//
// Owner: the main window. Runs on: the window's thread.
class TaskList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskList)

public:
    enum class Mode
    {
        peers = 7,
        tasks = 8,
    };

    // Task-list columns.
    enum task_column : int
    {
        mark = 0,
        name = 1,
        time_left = 2,
        size = 3,
        completion = 4,
        peers_column = 5,
        download_rate = 6,
        downloaded = 7,
        upload_rate = 8,
        uploaded = 9,
    };

    // What column 1 of the task list shows (header click on column 2 steps through them).
    enum class NameShows
    {
        name = 0,
        torrent_path = 1,
        save_folder = 2,
    };

    explicit TaskList(MainWindow& owner);
    ~TaskList() override;

    [[nodiscard]] QTableView* view() const noexcept { return m_view; }

    [[nodiscard]] ListModel& model() const noexcept { return *m_model; }

    [[nodiscard]] Mode mode() const noexcept { return m_mode; }

    // Deletes every column and row and puts in those of the mode; the task rows are kept
    // aside meanwhile and come back with the task list.
    void setMode(Mode mode);

    // ---- loading the registry, two records per step
    void beginLoading();

    [[nodiscard]] bool loading() const noexcept { return m_loading; }

    [[nodiscard]] bool loaded() const noexcept { return m_loaded; }

    // One step; true while there is more to load.
    bool loadStep();
    void endLoading();

    // Stops loading until the next beginLoading, which reads the registry again and skips
    // the entries already in the list.
    void pauseLoading() noexcept { m_loading = false; }

    // ---- entries
    // Keeps a new entry while its task starts (it is not in the list yet).
    torrent::task_entry& holdNew(std::unique_ptr<torrent::task_entry> entry);
    void dropNew(torrent::task_entry& entry);
    // Puts a held entry into the list and the registry.
    void addEntry(torrent::task_entry& entry);

    [[nodiscard]] int rowOf(const torrent::task_entry& entry) const;

    [[nodiscard]] torrent::task_entry* entryAt(int row) const;
    // Makes the entry's row the list's current row (its figures fill the detail fields).
    void select(const torrent::task_entry& entry);

    [[nodiscard]] const std::vector<std::unique_ptr<torrent::task_entry>>& entries() const noexcept
    {
        return m_entries;
    }

    // ---- refresh
    // The task rows of the running tasks; true when a task's state changed.
    bool refresh(bool full);
    // The peer rows of the current task; true when a row changed.
    bool refreshPeers(SlotView* current);
    void updateSummary();
    // The row of a running task, written whole.
    void updateTaskRow(SlotView& view);
    // The row of a task that has just ended.
    void markEnded(SlotView& view, bool complete);
    // The row of an entry that does not run here.
    void writeStoppedRow(const torrent::task_entry& entry);

    // ---- header and menu
    void headerClicked(int column);

    [[nodiscard]] NameShows nameShows() const noexcept { return m_nameShows; }

    [[nodiscard]] bool allTasksOnly() const noexcept { return m_allTasksOnly; }

    void setAllTasksOnly(bool on) noexcept { m_allTasksOnly = on; }

    // Runs a menu command (300..317) for the entry of `row` (-1: none).
    void runCommand(int command, int row);
    // The menu for the row under `at` (viewport coordinates), shown at `global`.
    void showMenu(const QPoint& at, const QPoint& global);
    // Double click on a task row's first column: the file selection of its torrent.
    void chooseFiles(int row);

private:
    void setupTaskColumns();
    void setupPeerColumns();
    [[nodiscard]] int columnWidth(int pixels, const QString& header) const;
    void appendEntryRow(torrent::task_entry& entry);
    void fillFromMetainfo(torrent::task_entry& entry) const;
    [[nodiscard]] QString nameText(const torrent::task_entry& entry) const;
    bool refreshTask(SlotView& view, bool full);
    void writeFigures(int row, SlotView& view, std::uint16_t flags);
    void writeDetails(SlotView& view);
    void sortTasks(int column);
    void sortPeers(int column);
    void updateRows();
    bool deleteEntry(torrent::task_entry& entry, bool ask);
    bool deleteStateFile(const torrent::task_entry& entry, bool ask);
    void removeEntry(torrent::task_entry& entry);

    MainWindow& m_owner;
    QTableView* m_view = nullptr;
    ListModel* m_model = nullptr;
    Mode m_mode = Mode::tasks;
    std::vector<std::unique_ptr<torrent::task_entry>> m_entries; // the task list's rows
    std::vector<std::unique_ptr<torrent::task_entry>> m_new; // new entries whose task starts
    bool m_loading = false;
    bool m_loaded = false;
    NameShows m_nameShows = NameShows::name;
    int m_scrollBars = 0;
    int m_sortColumn = -1;
    bool m_descending = false;
    bool m_allTasksOnly = false;
};
