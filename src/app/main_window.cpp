// The main window: its controls, its initialisation and the events it takes itself.
#include "app/main_window.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QUrl>

#include "app/desktop_notifier.h"
#include "app/handover_server.h"
#include "app/main_window_title.h"
#include "app/prompt.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "base/data_folder.h"
#include "base/paths.h"

using torrent::uitext::id;

namespace
{

// The program's icon: a round badge with a downward arrow, drawn once (no image files).
QIcon makeAppIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
    {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x6f, 0xb5));
        p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        p.setBrush(Qt::white);
        const double s = size / 16.0;
        const QPointF arrow[] = {
            {6.5 * s, 3 * s},
            {9.5 * s, 3 * s},
            {9.5 * s, 8 * s},
            {12 * s, 8 * s},
            {8 * s, 13 * s},
            {4 * s, 8 * s},
            {6.5 * s, 8 * s}};
        p.drawPolygon(arrow, 7);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QLabel* makeLabel(QWidget* parent, int control, const QString& text = {})
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("c%1").arg(control));
    return label;
}

QPushButton* makeButton(QWidget* parent, int control, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("c%1").arg(control));
    button->setAutoDefault(false);
    return button;
}

// Captions and value controls in the order of the detail fields: total size, time left,
// download speed, upload speed, connections, completion, downloaded, uploaded.
constexpr int caption_ids[8] = {1021, 1019, 1022, 1023, 1026, 1020, 1025, 1024};
constexpr int value_ids[8] = {1008, 1012, 1004, 1005, 1009, 1014, 1006, 1007};

} // namespace

MainWindow::MainWindow(MainWindowOptions options, Prompt& prompt)
    : m_options(std::move(options))
    , m_prompt(prompt)
    , m_registry(
          m_options.registry_path.empty() ? m_options.data_folder + "Zorvik.dat" : m_options.registry_path)
    , m_session(std::make_unique<torrent::session_controller>(
          m_options.time != nullptr ? *m_options.time : torrent::system_clock()))
    , m_maxTasks(m_options.start.max_tasks)
    , m_maxConnections(m_options.start.max_connections)
{
    m_icon = makeAppIcon();
    m_notifier = new DesktopNotifier(this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MainWindow::tick);
    // The network layer's reports arrive on the poller thread; they are taken here.
    m_session->events().set_wake(
        [this]
        {
            QMetaObject::invokeMethod(
                this, [this] { takeNetworkReports(); }, Qt::QueuedConnection);
        });
    // Until the network is up the run-time options only wait as the pending line.
    static_cast<void>(torrent::ApplyRuntimeOptions(m_runtime, m_options.line, false));
    buildControls();
    InitWindow();
}

MainWindow::~MainWindow()
{
    m_timer.stop();
    m_session->events().set_wake({});
    for (SlotView& s : m_slots)
    {
        if (s.view.state <= torrent::view_state::checking && s.view.task != nullptr)
            m_session->stop_task(s.view);
    }
    // The session waits for a start in progress and closes what is left; the slots it
    // fills outlive it (members are destroyed after this body).
    m_session.reset();
}

void MainWindow::attachHandover(torrent::handover_listener listener)
{
    if (!listener.valid())
        return;
    delete m_handover;
    m_handover = new HandoverServer(std::move(listener), this);
    connect(m_handover, &HandoverServer::lineReceived, this, &MainWindow::ReceiveHandover);
    connect(
        m_handover,
        &HandoverServer::showRequested,
        this,
        [this] { TrayNotification(TrayIcon::left_button_down); });
    connect(
        m_handover,
        &HandoverServer::foregroundRequested,
        this,
        [this]
        {
            if (isVisible())
            {
                raise();
                activateWindow();
            }
        });
}

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("MainWindow"));
    m_symbol = makeLabel(this, 1027, QStringLiteral("<="));
    m_symbol->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("■")) + 6);
    m_symbol->setAlignment(Qt::AlignCenter);
    m_status = makeLabel(this, 1015);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setFrameShape(QFrame::StyledPanel);
    m_saveTo = makeButton(this, 1013, QStringLiteral("SaveTo"));
    m_go = makeButton(this, 1011, QStringLiteral("Go"));
    m_close = makeButton(this, 1016, QStringLiteral("x"));
    for (QPushButton* b : {m_saveTo, m_go, m_close})
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_close->setFixedWidth(m_close->sizeHint().height());

    for (int i = 0; i < 8; ++i)
    {
        m_captions[static_cast<std::size_t>(i)] = makeLabel(this, caption_ids[i]);
        QLabel* value = makeLabel(this, value_ids[i]);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_values[static_cast<std::size_t>(i)] = value;
    }
    m_legend = makeLabel(this, 1018);
    m_legend->setWordWrap(true);
    QFont small = m_legend->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_legend->setFont(small);

    // The controls are placed by the layouts (main_window_layout.cpp), not by a layout
    // manager: each layout shows its own set at its own places.
    m_list = new TaskList(*this);

    connect(m_go, &QPushButton::clicked, this, &MainWindow::OpenTorrentDialog);
    connect(m_saveTo, &QPushButton::clicked, this, &MainWindow::ChooseSaveFolder);
    connect(m_close, &QPushButton::clicked, this, &MainWindow::ClosePrompt);
    setAcceptDrops(true);
    // The window's keys are taken before the control with the focus sees them.
    qApp->installEventFilter(this);
}

void MainWindow::InitWindow()
{
    // 1. Icons and title.
    setWindowIcon(m_icon);
    setWindowTitle(mainWindowTitle());

    // 2. The tray icon with "No Task".
    m_tray = new TrayIcon(this);
    connect(m_tray, &TrayIcon::notified, this, &MainWindow::TrayNotification);
    const std::string noTask = "No Task";
    m_tray->SetIcon(&m_icon, &noTask);

    // 3. The list builds its single-task columns once.
    m_list->setMode(TaskList::Mode::peers);

    // 4. Stored settings.
    loadSettings();

    // 5. The network.
    if (probeNetwork())
    {
        networkCameUp();
    }
    else
    {
        showButtons(false);
        setTimer(probe_period_ms);
    }

    // 7. The save folder into the status bar.
    writeSaveToStatus();

    // 8. Captions and legend.
    const id captions[8] = {
        torrent::uitext::caption_file_size,
        torrent::uitext::caption_time_left,
        torrent::uitext::caption_download_speed,
        torrent::uitext::caption_upload_speed,
        torrent::uitext::caption_connections,
        torrent::uitext::caption_completion,
        torrent::uitext::caption_downloaded,
        torrent::uitext::caption_uploaded};
    for (int i = 0; i < 8; ++i)
        m_captions[static_cast<std::size_t>(i)]->setText(ui_qtext(captions[i]));
    m_legend->setText(ui_qtext(torrent::uitext::legend));

    // 9. Symbol, tray tip, the task list (loading starts on the timer), centred.
    resetStatusSymbol();
    refreshTrayTip();
    initLayouts();
    SwitchListMode();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // 10. First run.
    firstRunCheck();
}

void MainWindow::firstRunCheck()
{
    const std::string& folder = m_options.data_folder;
    static_cast<void>(torrent::make_folders(folder));
    const std::string torrents = torrent::join_path(folder, "torrent");
    if (torrent::is_folder(torrents))
    {
        // A later start: the window goes back where the stored record left it.
        if (m_settingsRead)
            moveToStoredPlace();
    }
    else
    {
        // The first start: the help viewer introduces the program.
        static_cast<void>(torrent::make_folders(torrents));
        ShowHelpViewer();
    }
    MinimiseAndRestore(true);
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

int MainWindow::timerPeriod() const
{
    if (m_inTick)
        return m_tickRequest;
    return m_timer.isActive() ? m_timer.interval() : -1;
}

SlotView* MainWindow::viewOf(const torrent::task_entry& entry)
{
    if (entry.view_slot < 0 || entry.view_slot >= slot_count)
        return nullptr;
    SlotView& s = m_slots[static_cast<std::size_t>(entry.view_slot)];
    return s.entry == &entry ? &s : nullptr;
}

void MainWindow::reject()
{
    // Escape hides the window in the tray.
    HideToTray();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The window manager's close button asks as the "x" button does.
    event->ignore();
    if (!m_exitPending)
        ClosePrompt();
}

namespace
{

std::string droppedTorrent(const QMimeData* mime)
{
    if (mime == nullptr || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
    {
        if (url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral(".torrent"), Qt::CaseInsensitive))
            return utf8_string(url.toLocalFile());
    }
    return {};
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedTorrent(event->mimeData()).empty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const std::string path = droppedTorrent(event->mimeData());
    if (path.empty())
        return;
    event->acceptProposedAction();
    // The same checks as "Go", after the drop itself has ended.
    QTimer::singleShot(
        0,
        this,
        [this, path]
        {
            if (m_saveFolder.empty())
            {
                m_prompt.warn(this, qt_string(torrent::ui_text(torrent::uitext::choose_save_folder_first)));
                return;
            }
            OpenTorrent(path);
        });
}
