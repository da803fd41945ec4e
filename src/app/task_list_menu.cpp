// The task list control's header clicks, sorting, context menu and menu commands.
#include <algorithm>
#include <numeric>
#include <unistd.h>

#include <QDesktopServices>
#include <QMenu>
#include <QTableView>
#include <QUrl>

#include "app/list_model.h"
#include "app/main_window.h"
#include "app/prompt.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "base/paths.h"
#include "storage/stored_task.h"

using torrent::uitext::id;

namespace
{

QString uiString(id entry)
{
    return qt_string(torrent::ui_text(entry));
}

void openFolder(const std::string& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(qt_string(folder)));
}

// A sort key: numbers compare as numbers, texts as texts.
struct sort_key
{
    std::uint64_t number = 0;
    std::string text;

    friend bool operator<(const sort_key& a, const sort_key& b)
    {
        if (a.number != b.number)
            return a.number < b.number;
        return a.text < b.text;
    }
};

} // namespace

void TaskList::headerClicked(int column)
{
    if (m_mode == Mode::peers)
    {
        if (column == 0 || column == 2 || column == 4 || column == 5 || column == 6 || column == 7)
            sortPeers(column);
        return;
    }
    switch (column)
    {
    case time_left:
        // What column 1 shows: name, torrent path, save folder.
        m_nameShows = static_cast<NameShows>((static_cast<int>(m_nameShows) + 1) % 3);
        m_model->setHeader(
            name,
            ui_qtext(
                m_nameShows == NameShows::name               ? torrent::uitext::column_name
                    : m_nameShows == NameShows::torrent_path ? torrent::uitext::column_torrent_path
                                                             : torrent::uitext::column_save_path));
        for (const auto& e : m_entries)
        {
            const int row = rowOf(*e);
            if (row >= 0)
                m_model->setCell(row, name, nameText(*e));
        }
        return;
    case completion:
        // The scroll bars step through their four combinations.
        m_scrollBars = (m_scrollBars + 1) % 4;
        m_view->setHorizontalScrollBarPolicy(
            (m_scrollBars & 1) != 0 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
        m_view->setVerticalScrollBarPolicy(
            (m_scrollBars & 2) != 0 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
        return;
    case download_rate:
    case upload_rate:
        return;
    default:
        sortTasks(column);
        return;
    }
}

void TaskList::sortTasks(int column)
{
    m_descending = column == m_sortColumn ? !m_descending : false;
    m_sortColumn = column;
    const int rows = m_model->rowCount();

    struct item
    {
        int row;
        bool running;
        sort_key key;
    };

    std::vector<item> items;
    items.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
    {
        const torrent::task_entry* e = entryAt(r);
        const SlotView* s = e != nullptr ? m_owner.viewOf(*e) : nullptr;
        item it{r, s != nullptr && !s->free(), {}};
        if (it.running)
        {
            const torrent::TaskView& v = s->view;
            switch (column)
            {
            case mark:
                it.key.number = static_cast<std::uint64_t>(v.state);
                break;
            case name:
                it.key.text = v.name;
                break;
            case peers_column:
                it.key.number = v.peer_count;
                break;
            case downloaded:
                it.key.number = v.held;
                break;
            case uploaded:
                it.key.number = v.uploaded;
                break;
            default:
                break;
            }
        }
        else if (e != nullptr)
        {
            switch (column)
            {
            case mark:
                it.key.number = static_cast<std::uint64_t>(e->status);
                break;
            case name:
                it.key.text = e->torrent_path;
                break;
            case size:
                it.key.number = e->total;
                break;
            case downloaded:
                it.key.number = e->done;
                break;
            default:
                break;
            }
        }
        items.push_back(std::move(it));
    }
    // Running rows after the others ascending, before them descending.
    std::stable_sort(
        items.begin(),
        items.end(),
        [this](const item& a, const item& b)
        {
            if (a.running != b.running)
                return m_descending ? a.running : b.running;
            return m_descending ? b.key < a.key : a.key < b.key;
        });
    std::vector<int> order;
    order.reserve(items.size());
    for (const item& it : items)
        order.push_back(it.row);
    m_model->reorder(order);
    updateRows();
}

void TaskList::sortPeers(int column)
{
    m_descending = column == m_sortColumn ? !m_descending : false;
    m_sortColumn = column;
    SlotView* current = m_owner.current();
    if (current == nullptr)
        return;
    const auto& peers = current->view.peers;
    std::vector<int> order(static_cast<std::size_t>(m_model->rowCount()));
    std::iota(order.begin(), order.end(), 0);
    auto keyOf = [&](int row)
    {
        sort_key k;
        const std::size_t i = m_model->key(row) - 1;
        if (i >= peers.size())
            return k;
        const torrent::PeerView& pv = peers[i];
        switch (column)
        {
        case 0:
            k.number = static_cast<std::uint64_t>(pv.state);
            break;
        case 2:
            k.number = pv.downloaded;
            break;
        case 4:
            k.number = pv.uploaded;
            break;
        case 5:
            k.number = pv.pieces_owned;
            break;
        case 6:
            k.number = (static_cast<std::uint64_t>(pv.ip) << 16) | pv.port;
            break;
        case 7:
            k.text = pv.client;
            break;
        default:
            break;
        }
        return k;
    };
    std::stable_sort(
        order.begin(),
        order.end(),
        [&](int a, int b) { return m_descending ? keyOf(b) < keyOf(a) : keyOf(a) < keyOf(b); });
    m_model->reorder(order);
}

void TaskList::showMenu(const QPoint& at, const QPoint& global)
{
    const QModelIndex index = m_view->indexAt(at);
    const int row = m_mode == Mode::tasks && index.isValid() ? index.row() : -1;
    const torrent::task_entry* entry = entryAt(row);
    const SlotView* running = entry != nullptr ? m_owner.viewOf(*entry) : nullptr;
    QMenu menu(m_view);
    menu.setObjectName(QStringLiteral("taskMenu"));
    auto add = [&](int command, id text, bool enabled = true, int checked = -1)
    {
        QAction* a = menu.addAction(ui_qtext(text));
        a->setObjectName(QStringLiteral("m%1").arg(command));
        a->setData(command);
        a->setEnabled(enabled);
        if (checked >= 0)
        {
            a->setCheckable(true);
            a->setChecked(checked != 0);
        }
    };
    if (entry != nullptr)
    {
        add(300, torrent::uitext::menu_single_task_mode, running != nullptr && !running->starting);
        add(301, running != nullptr ? torrent::uitext::menu_stop_task : torrent::uitext::menu_start_task);
        menu.addSeparator();
        add(302, torrent::uitext::menu_delete_task);
        add(303, torrent::uitext::menu_delete_state);
        add(304, torrent::uitext::menu_delete_task_and_state);
        add(305, torrent::uitext::menu_delete_all);
        menu.addSeparator();
        add(306, torrent::uitext::menu_open_save_folder);
        add(307, torrent::uitext::menu_open_torrent_folder);
        menu.addSeparator();
    }
    add(308, torrent::uitext::menu_change_save_folder);
    add(309, torrent::uitext::menu_new_task);
    menu.addSeparator();
    add(310, torrent::uitext::menu_topmost, true, m_owner.topmost() ? 1 : 0);
    add(312, torrent::uitext::menu_timed_minimise, true, m_owner.runtime().timed_minimise ? 1 : 0);
    add(311, torrent::uitext::menu_all_tasks_only, true, m_allTasksOnly ? 1 : 0);
    add(313, torrent::uitext::menu_sound_off, true, m_owner.soundOff() ? 1 : 0);
    menu.addSeparator();
    add(314, torrent::uitext::menu_open_data_folder);
    add(315, torrent::uitext::menu_network_info);
    add(316, torrent::uitext::menu_settings);
    add(317, torrent::uitext::menu_help);
    if (const QAction* chosen = menu.exec(global))
        runCommand(chosen->data().toInt(), row);
}

void TaskList::runCommand(int command, int row)
{
    torrent::task_entry* entry = entryAt(row);
    SlotView* running = entry != nullptr ? m_owner.viewOf(*entry) : nullptr;
    // The row's commands wait until its task's open is over; the others need no row.
    const bool rowCommand = command <= 307 || command == 315;
    if (rowCommand && running != nullptr && running->starting)
        return;
    switch (command)
    {
    case 300:
        if (running != nullptr)
            m_owner.SelectSlot(running);
        return;
    case 301:
        if (entry == nullptr)
            return;
        if (running != nullptr)
        {
            m_owner.stopTask(*running);
            writeStoppedRow(*entry);
            return;
        }
        if (m_owner.runningCount() + static_cast<int>(m_owner.session().starts_pending())
            >= m_owner.maxTasks())
        {
            m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::cannot_start_task));
            return;
        }
        m_owner.StartTask(
            *entry,
            true,
            [this, entry](bool started)
            {
                if (!started)
                    writeStoppedRow(*entry);
                else if (SlotView* s = m_owner.viewOf(*entry))
                    updateTaskRow(*s);
            });
        return;
    case 302:
        if (entry != nullptr)
            static_cast<void>(deleteEntry(*entry, true));
        return;
    case 303:
        if (entry != nullptr)
            static_cast<void>(deleteStateFile(*entry, m_owner.runtime().confirm_delete));
        return;
    case 304:
    case 305:
    {
        if (entry == nullptr)
            return;
        const torrent::task_entry kept = *entry;
        if (!deleteEntry(*entry, true))
            return;
        static_cast<void>(deleteStateFile(kept, false));
        if (command == 305)
            ::unlink(kept.torrent_path.c_str());
        return;
    }
    case 306:
        if (entry != nullptr)
        {
            const std::string content = torrent::join_path(entry->save_folder, entry->name);
            openFolder(!entry->name.empty() && torrent::is_folder(content) ? content : entry->save_folder);
        }
        return;
    case 307:
        if (entry != nullptr)
            openFolder(std::string(torrent::parent_of(entry->torrent_path)));
        return;
    case 308:
        m_owner.ChooseSaveFolder();
        return;
    case 309:
        m_owner.OpenTorrentDialog();
        return;
    case 310:
        m_owner.ToggleTopmost();
        return;
    case 311:
        m_owner.ToggleAllTasksOnly();
        return;
    case 312:
        m_owner.setTimedMinimise(!m_owner.runtime().timed_minimise);
        return;
    case 313:
        m_owner.setSoundOff(!m_owner.soundOff());
        return;
    case 314:
        openFolder(m_owner.dataFolder());
        return;
    case 315:
        m_owner.ShowNetworkInfo(running);
        return;
    case 316:
        m_owner.RunSettings();
        return;
    case 317:
        m_owner.ShowHelpViewer();
        return;
    default:
        return;
    }
}

bool TaskList::deleteEntry(torrent::task_entry& entry, bool ask)
{
    if (entry.status == torrent::task_status::in_use)
    {
        m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::delete_task_in_use));
        return false;
    }
    if (ask && m_owner.runtime().confirm_delete
        && !m_owner.prompt().askOkCancel(&m_owner, uiString(torrent::uitext::delete_task_confirm)))
        return false;
    SlotView* running = m_owner.viewOf(entry);
    if (running != nullptr)
        m_owner.stopTask(*running);
    const torrent::task_status before = entry.status;
    if (entry.index != 0 && m_owner.registry().DeleteTask(entry) != torrent::registry_result::ok)
    {
        entry.status = before;
        m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::delete_task_failed));
        return false;
    }
    // A task still checking its data stays bound to its view until the check ends; the
    // entry goes now, so the view lets go of it (and never writes its record again).
    if (running != nullptr && running->entry == &entry)
    {
        running->entry = nullptr;
        running->row = -1;
    }
    removeEntry(entry);
    return true;
}

bool TaskList::deleteStateFile(const torrent::task_entry& entry, bool ask)
{
    if (ask && !m_owner.prompt().askOkCancel(&m_owner, uiString(torrent::uitext::delete_state_file_confirm)))
        return false;
    // Named by the info-hash, in the data folder (single file) or the torrent's own folder.
    std::string folder = m_owner.dataFolder();
    torrent::torrent_summary summary;
    if (torrent::read_stored_task(
            entry.torrent_path, entry.save_folder, folder, summary, m_owner.dataFolder())
            != torrent::stored_task_result::ok
        || summary.info_hash.empty())
    {
        m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::delete_state_file_failed));
        return false;
    }
    const std::string path = torrent::join_path(folder, summary.info_hash);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    {
        m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::delete_state_file_failed));
        return false;
    }
    return true;
}

void TaskList::chooseFiles(int row)
{
    torrent::task_entry* entry = entryAt(row);
    if (entry == nullptr)
        return;
    torrent::selection_record chosen;
    if (!m_owner.prompt().selectFiles(
            &m_owner, entry->torrent_path, entry->save_folder, m_owner.dataFolder(), chosen))
        return;
    SlotView* running = m_owner.viewOf(*entry);
    if (running == nullptr)
    {
        // The entry's figures follow the new choice.
        fillFromMetainfo(*entry);
        writeStoppedRow(*entry);
        return;
    }
    // A running task downloads the newly chosen files from now on.
    const auto choice = chosen.to_file_selection();
    if (choice
        && m_owner.session().choose_more_files(running->view, *choice) != torrent::open_storage_result::ok)
        m_owner.prompt().warn(&m_owner, uiString(torrent::uitext::cannot_start_task));
}
