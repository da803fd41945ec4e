// The task list control: its modes, columns and entries, and loading the registry.
#include "app/task_list.h"

#include <algorithm>

#include <QHeaderView>
#include <QStyle>
#include <QTableView>

#include "app/list_model.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "base/paths.h"
#include "storage/stored_task.h"
#include "ui/number_format.h"

using torrent::uitext::id;

namespace
{

struct column_spec
{
    id header;
    int width;
};

constexpr column_spec task_columns[] = {
    {torrent::uitext::column_mark, 24},
    {torrent::uitext::column_name, 150},
    {torrent::uitext::column_time_left, 70},
    {torrent::uitext::column_size, 65},
    {torrent::uitext::column_completion, 65},
    {torrent::uitext::column_peers, 36},
    {torrent::uitext::column_download_speed, 65},
    {torrent::uitext::column_downloaded, 65},
    {torrent::uitext::column_upload_speed, 65},
    {torrent::uitext::column_uploaded, 65},
};

constexpr column_spec peer_columns[] = {
    {torrent::uitext::column_mark, 24},
    {torrent::uitext::column_download_speed, 65},
    {torrent::uitext::column_downloaded, 65},
    {torrent::uitext::column_upload_speed, 65},
    {torrent::uitext::column_uploaded, 65},
    {torrent::uitext::column_pieces_owned, 65},
    {torrent::uitext::column_address, 142},
    {torrent::uitext::column_client, 110},
};

template <std::size_t N>
QStringList headers(const column_spec (&specs)[N])
{
    QStringList out;
    for (const column_spec& c : specs)
        out << ui_qtext(c.header);
    return out;
}

std::uintptr_t keyOf(const torrent::task_entry& entry)
{
    return reinterpret_cast<std::uintptr_t>(&entry);
}

} // namespace

TaskList::TaskList(MainWindow& owner)
    : QObject(&owner)
    , m_owner(owner)
    , m_view(new QTableView(&owner))
    , m_model(new ListModel(this))
{
    m_view->setObjectName(QStringLiteral("c1010"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setShowGrid(true);
    m_view->setWordWrap(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setHighlightSections(false);
    m_view->horizontalHeader()->setSectionsClickable(true);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this, &TaskList::headerClicked);
    connect(
        m_view,
        &QWidget::customContextMenuRequested,
        this,
        [this](const QPoint& at) { showMenu(at, m_view->viewport()->mapToGlobal(at)); });
    connect(
        m_view,
        &QAbstractItemView::doubleClicked,
        this,
        [this](const QModelIndex& index)
        {
            if (m_mode == Mode::tasks && index.column() == mark)
                chooseFiles(index.row());
        });
}

TaskList::~TaskList() = default;

void TaskList::setMode(Mode mode)
{
    m_mode = mode;
    m_sortColumn = -1;
    if (mode == Mode::tasks)
        setupTaskColumns();
    else
        setupPeerColumns();
}

void TaskList::setupTaskColumns()
{
    QStringList h = headers(task_columns);
    if (m_nameShows == NameShows::torrent_path)
        h[name] = ui_qtext(torrent::uitext::column_torrent_path);
    else if (m_nameShows == NameShows::save_folder)
        h[name] = ui_qtext(torrent::uitext::column_save_path);
    m_model->reset(h);
    m_model->setLeftAligned({mark, name});
    for (std::size_t i = 0; i < std::size(task_columns); ++i)
        m_view->setColumnWidth(
            static_cast<int>(i), columnWidth(task_columns[i].width, h[static_cast<int>(i)]));
    for (const auto& entry : m_entries)
        appendEntryRow(*entry);
}

void TaskList::setupPeerColumns()
{
    const QStringList h = headers(peer_columns);
    m_model->reset(h);
    m_model->setLeftAligned({0, 6, 7});
    for (std::size_t i = 0; i < std::size(peer_columns); ++i)
        m_view->setColumnWidth(
            static_cast<int>(i), columnWidth(peer_columns[i].width, h[static_cast<int>(i)]));
    if (SlotView* current = m_owner.current())
    {
        for (torrent::PeerView& pv : current->view.peers)
            pv.flags = static_cast<std::uint16_t>(
                pv.state != torrent::peer_state::gone ? torrent::peer_view_flag::identity : 0);
    }
}

int TaskList::columnWidth(int pixels, const QString& header) const
{
    // The widths are made for a narrow font: a column keeps room for two marks or a size,
    // and for its header in the language in use.
    const int mark_width = m_view->fontMetrics().horizontalAdvance(QStringLiteral("==")) + 12;
    const int size_width = m_view->fontMetrics().horizontalAdvance(QStringLiteral("1023.999M")) + 10;
    const QHeaderView* top = m_view->horizontalHeader();
    const int margin = top->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, top);
    const int header_width = top->fontMetrics().horizontalAdvance(header) + 2 * margin + 2;
    if (pixels <= 24)
        pixels = std::max(pixels, mark_width);
    else if (pixels == 65)
        pixels = std::max(pixels, size_width);
    return std::max(pixels, header_width);
}

void TaskList::beginLoading()
{
    if (m_loaded || m_loading)
        return;
    m_loading = true;
    m_owner.registry().begin_load();
}

bool TaskList::loadStep()
{
    // A record left running is ours only when one of our tasks has its index.
    class ours final : public torrent::running_task_finder
    {
    public:
        explicit ours(MainWindow& owner)
            : m_owner(owner)
        {
        }

        bool bind_running(torrent::task_entry& e) override
        {
            for (int i = 0; i < MainWindow::slot_count; ++i)
            {
                const SlotView& s = m_owner.slot(i);
                if (s.entry != nullptr && s.entry->index == e.index
                    && s.view.state < torrent::view_state::announcer_ended)
                    return true;
            }
            return false;
        }

    private:
        MainWindow& m_owner;
    } finder(m_owner);

    torrent::load_step_result step = m_owner.registry().load_step(&finder);
    std::vector<torrent::task_entry>& found = step.entries;
    const bool done = step.done;
    for (torrent::task_entry& e : found)
    {
        // An entry already in the list (a task started before loading reached it).
        const bool known = std::any_of(
            m_entries.begin(), m_entries.end(), [&](const auto& have) { return have->index == e.index; });
        if (known)
            continue;
        fillFromMetainfo(e);
        if (e.status != torrent::task_status::finished && e.status != torrent::task_status::seeding
            && e.status != torrent::task_status::missing && e.total != 0 && e.done >= e.total)
        {
            e.status = torrent::task_status::finished;
            static_cast<void>(m_owner.registry().WriteStatus(e));
        }
        m_entries.push_back(std::make_unique<torrent::task_entry>(std::move(e)));
        if (m_mode == Mode::tasks)
            appendEntryRow(*m_entries.back());
    }
    return !done;
}

void TaskList::endLoading()
{
    m_loading = false;
    m_loaded = true;
}

void TaskList::fillFromMetainfo(torrent::task_entry& entry) const
{
    std::string data = m_owner.dataFolder();
    torrent::torrent_summary summary;
    const torrent::stored_task_result r =
        torrent::read_stored_task(entry.torrent_path, entry.save_folder, data, summary, m_owner.dataFolder());
    if (r == torrent::stored_task_result::ok)
    {
        entry.name = summary.name;
        entry.total = summary.total_size;
        entry.done = std::min(summary.downloaded, summary.total_size);
    }
    else if (!torrent::is_regular_file(entry.torrent_path))
    {
        entry.status = torrent::task_status::missing;
    }
}

torrent::task_entry& TaskList::holdNew(std::unique_ptr<torrent::task_entry> entry)
{
    m_new.push_back(std::move(entry));
    return *m_new.back();
}

void TaskList::dropNew(torrent::task_entry& entry)
{
    std::erase_if(m_new, [&](const auto& e) { return e.get() == &entry; });
}

void TaskList::addEntry(torrent::task_entry& entry)
{
    const auto it =
        std::find_if(m_new.begin(), m_new.end(), [&](const auto& e) { return e.get() == &entry; });
    if (it == m_new.end())
        return;
    std::unique_ptr<torrent::task_entry> owned = std::move(*it);
    m_new.erase(it);
    switch (m_owner.registry().AddRecord(*owned))
    {
    case torrent::registry_result::ok:
        break;
    case torrent::registry_result::path_too_long:
        m_owner.ShowStatus(
            QStringLiteral("路径太长(最多259字节)，任务没有保存: %1").arg(qt_string(owned->torrent_path)),
            true);
        break;
    default:
        m_owner.ShowStatus(ui_qtext(torrent::uitext::open_file_failed), true);
        break;
    }
    m_entries.push_back(std::move(owned));
    if (m_mode == Mode::tasks)
        appendEntryRow(*m_entries.back());
}

int TaskList::rowOf(const torrent::task_entry& entry) const
{
    return m_mode == Mode::tasks ? m_model->rowOf(keyOf(entry)) : -1;
}

void TaskList::select(const torrent::task_entry& entry)
{
    const int row = rowOf(entry);
    if (row >= 0)
        m_view->setCurrentIndex(m_model->index(row, name));
}

torrent::task_entry* TaskList::entryAt(int row) const
{
    if (m_mode != Mode::tasks || row < 0 || row >= m_model->rowCount())
        return nullptr;
    return reinterpret_cast<torrent::task_entry*>(m_model->key(row));
}

QString TaskList::nameText(const torrent::task_entry& entry) const
{
    switch (m_nameShows)
    {
    case NameShows::torrent_path:
        return qt_string(entry.torrent_path);
    case NameShows::save_folder:
        return qt_string(entry.save_folder);
    case NameShows::name:
        break;
    }
    // A torrent that is gone or unreadable shows its path.
    if (entry.name.empty() || entry.status == torrent::task_status::missing)
        return qt_string(entry.torrent_path);
    return qt_string(entry.name);
}

void TaskList::appendEntryRow(torrent::task_entry& entry)
{
    const int row = m_model->appendRow(keyOf(entry));
    if (SlotView* s = m_owner.viewOf(entry); s != nullptr && !s->starting)
    {
        s->row = row;
        updateTaskRow(*s);
        return;
    }
    writeStoppedRow(entry);
}

void TaskList::writeStoppedRow(const torrent::task_entry& entry)
{
    const int row = rowOf(entry);
    if (row < 0)
        return;
    QString markText;
    switch (entry.status)
    {
    case torrent::task_status::running:
        markText = QStringLiteral("=>");
        break;
    case torrent::task_status::finished:
        markText = QStringLiteral("√");
        break;
    case torrent::task_status::in_use:
        markText = QStringLiteral("■");
        break;
    case torrent::task_status::missing:
        markText = QStringLiteral("$");
        break;
    default:
        break;
    }
    const bool complete = entry.total != 0 && entry.done >= entry.total;
    m_model->setCell(row, mark, markText);
    m_model->setCell(row, name, nameText(entry));
    m_model->setCell(row, time_left, qt_string(torrent::FormatDuration(complete ? 0 : -1)));
    m_model->setCell(row, size, qt_string(torrent::FormatSize(entry.total)));
    m_model->setCell(row, completion, qt_string(torrent::FormatPercent(entry.done, entry.total)));
    m_model->setCell(row, peers_column, QString());
    m_model->setCell(row, download_rate, QString());
    m_model->setCell(row, downloaded, qt_string(torrent::FormatSize(entry.done)));
    m_model->setCell(row, upload_rate, QString());
    m_model->setCell(row, uploaded, QString());
}

void TaskList::removeEntry(torrent::task_entry& entry)
{
    const int row = rowOf(entry);
    if (row >= 0)
        m_model->removeRow(row);
    std::erase_if(m_entries, [&](const auto& e) { return e.get() == &entry; });
    updateRows();
}

void TaskList::updateRows()
{
    for (int i = 0; i < MainWindow::slot_count; ++i)
    {
        SlotView& s = m_owner.slot(i);
        s.row = s.entry != nullptr ? rowOf(*s.entry) : -1;
    }
}
