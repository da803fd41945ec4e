#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>

#include "app/command_line.h"
#include "app/handover.h"
#include "app/runtime_options.h"
#include "app/session_controller.h"
#include "app/settings_model.h"
#include "app/slot_view.h"
#include "app/sound_player.h"
#include "app/start_options.h"
#include "app/window_layout.h"
#include "registry/task_registry.h"
#include "storage/storage_error.h"

class QLabel;
class QPushButton;
class HandoverServer;
class Prompt;
class TaskList;
class TrayIcon;
class DesktopNotifier;

// What the window is started with (from the command line and the process).
struct MainWindowOptions
{
    torrent::start_options start; // maximum tasks and connections, the listening port
    torrent::command_line line; // its run-time options wait until the network is up
    std::string data_folder; // "My Zorvik", ending in '/'
    std::uint32_t listen_address = 0; // host order; 0 = every address
    torrent::clock* time = nullptr; // null: the system clock (tests move their own)
    std::string registry_path; // empty: "Zorvik.dat" in the data folder
};

// The one top-level window of a running copy: owns the engine (through the session
// controller), the display records of the task slots, the task list, the tray icon and
// the sounds, and drives them from one timer whose ticks never overlap: 49 ms while it
// probes the network, loads the task list or exits, the display refresh period while
// tasks run, off otherwise. It shows itself in one of six layouts (the list modes keep
// their own), takes its keys before any of its controls sees them, and answers mouse
// commands on its body, its controls' area and the tray icon.
// It is the settings dialog's host: the stored settings are applied at initialisation
// and written at exit.
//
// Owner: the process entry (or a test). Runs on: the window's thread; starting a task's
// open runs on the session's worker thread and comes back here.
class MainWindow final
    : public QDialog
    , public torrent::settings_host
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    static constexpr int slot_count = 11; // display records: slot 0 and slots 1..10
    static constexpr int probe_period_ms = 49;
    static constexpr torrent::tick_t sticky_ms = 6000;

    MainWindow(MainWindowOptions options, Prompt& prompt);
    ~MainWindow() override;

    // ---- operations other parts call
    void OpenTorrentDialog();
    // The new-task flow for one .torrent file.
    void OpenTorrent(const std::string& path);
    // Starts the task of a list entry; `done` learns whether it started (it runs once the
    // open, which runs off this thread, is over; at once when it fails before that).
    void StartTask(torrent::task_entry& entry, bool report, std::function<void(bool)> done = {});
    void ShowStatus(const QString& text, bool sticky);
    void ShowTaskCounts();
    void RefreshCurrent(SlotView* view, bool full);
    void SetUpnp(bool wanted, bool startNow) override;
    void ShowNetworkInfo(SlotView* view);
    void ChooseSaveFolder();
    void ClosePrompt();
    // The close prompt's "Yes": settings stored, tray icon gone, the next tick ends.
    void EndProgram();
    void HideToTray();
    void ToggleTopmost();
    // Makes the slot of `view` (one of slots 1..max) current and switches to single-task
    // mode; any other view changes nothing.
    void SelectSlot(SlotView* view);
    // Task-list mode (layouts 2 and 3, the registry loading on the timer) and single-task
    // mode (the layout it had before).
    void SwitchListMode();
    // Makes the next (+1) or previous (-1) running slot current; none: nothing changes.
    void SelectTask(int step);
    // Steps the layout and applies it.
    void NextLayout();
    // Sizes the window for the layout (keeping its right edge) and places its controls.
    void ApplyLayout();
    // Minimises the window and shows it again (showAgain) or leaves it hidden, then hands
    // freed memory back to the system.
    void MinimiseAndRestore(bool showAgain);
    // F4 and menu item 311: the detail fields show every task's figures, not the
    // selected one's.
    void ToggleAllTasksOnly();
    // A line handed over by a second copy; true when it was taken (the answer goes back
    // then), with its boxes and dialogs shown after the answer.
    void ReceiveHandover(const std::string& text);
    // A tray notification (513 left button, 516 right button).
    void TrayNotification(int mouseMessage);
    // Takes the hand-overs of later copies on this listening socket.
    void attachHandover(torrent::handover_listener listener);

    // ---- state other parts of the window read
    [[nodiscard]] bool networkUp() const noexcept { return m_runtime.network_up; }

    [[nodiscard]] const std::string& defaultSaveFolder() const noexcept { return m_saveFolder; }

    [[nodiscard]] const torrent::runtime_values& runtime() const noexcept { return m_runtime.values; }

    [[nodiscard]] std::uint8_t maxTasks() const noexcept { return m_maxTasks; }

    [[nodiscard]] int currentIndex() const noexcept { return m_currentIndex; }

    [[nodiscard]] torrent::display_layout layout() const noexcept { return m_layout; }

    // The layout the tray icon's left click brings back.
    [[nodiscard]] torrent::display_layout trayLayout() const noexcept { return m_trayLayout; }

    // The size the user last dragged the window to (0 x 0: none).
    [[nodiscard]] QSize userSize() const noexcept { return m_userSize; }

    [[nodiscard]] int singleLineWidth() const noexcept { return m_singleLineWidth; }

    [[nodiscard]] QSize singleLineExtendedSize() const noexcept { return m_extSize; }

    // "Go" and "SaveTo" shown and enabled.
    [[nodiscard]] bool buttonsShown() const noexcept { return m_buttonsShown; }

    // The window's right edge (its left edge plus its width) and its top: where it is, or
    // while hidden where it comes back to.
    [[nodiscard]] int layoutRightEdge() const;
    [[nodiscard]] int layoutTop() const;
    // What the settings record keeps of the layouts: the remembered sizes, "Go" shown,
    // the right edge and top.
    [[nodiscard]] torrent::window_geometry layoutGeometry() const;
    // The stored geometry: the layouts' sizes (those no strip fits in are not taken) and
    // "Go"/"SaveTo" shown. The window's place is the settings' (moveToStoredPlace).
    void setLayoutGeometry(const torrent::window_geometry& geometry);

    [[nodiscard]] int runningCount() const noexcept { return m_running; }

    [[nodiscard]] SlotView& slot(int i) { return m_slots[static_cast<std::size_t>(i)]; }

    [[nodiscard]] SlotView* current() const noexcept { return m_current; }

    [[nodiscard]] torrent::session_controller& session() noexcept { return *m_session; }

    [[nodiscard]] torrent::TaskRegistry& registry() noexcept { return m_registry; }

    [[nodiscard]] Prompt& prompt() noexcept { return m_prompt; }

    [[nodiscard]] TaskList& taskList() noexcept { return *m_list; }

    [[nodiscard]] TrayIcon& tray() noexcept { return *m_tray; }

    [[nodiscard]] const std::string& dataFolder() const noexcept { return m_options.data_folder; }

    [[nodiscard]] bool soundOff() const noexcept { return m_soundOff; }

    [[nodiscard]] bool topmost() const noexcept { return m_topmost; }

    [[nodiscard]] bool exitPending() const noexcept { return m_exitPending; }

    [[nodiscard]] QString statusText() const;

    [[nodiscard]] torrent::tick_t now() const noexcept { return m_session->now(); }

    // Sound signals asked for so far (played, or dropped without a device).
    [[nodiscard]] unsigned soundsPlayed() const noexcept { return m_soundsPlayed; }

    // The timer's current period, or -1 while it is off (tests).
    [[nodiscard]] int timerPeriod() const;

    void setSoundOff(bool off) noexcept { m_soundOff = off; }

    void setTimedMinimise(bool on) noexcept { m_runtime.values.timed_minimise = on; }

    // Counts the slots 1..max whose display record is in use.
    void recountRunning();
    // Plays the completion signal (unless sound is off) and tells the desktop.
    void beepDone(const SlotView* view);
    // A task of the list ended in this process: the window's own bookkeeping.
    void taskEnded(SlotView& view);
    // Stops the running task of a display record (the user's stop).
    void stopTask(SlotView& view);
    // What the last look at a running task found that the status line tells: a tracker's
    // refusal (once per new refusal) or the disk fault that stopped it.
    void reportTaskNews(SlotView& view, const torrent::task_watch& watch);
    // The display record of a running task of this process, or null.
    [[nodiscard]] SlotView* viewOf(const torrent::task_entry& entry);

    // ---- the settings dialog's host (main_window_settings.cpp)
    [[nodiscard]] torrent::settings_values current_settings() const override;
    [[nodiscard]] torrent::window_geometry current_geometry() const override;
    void apply_settings(const torrent::settings_values& values) override;
    [[nodiscard]] bool store_settings(const torrent::SettingsRecord& record) override;
    void remember_saved_maximums(std::uint8_t maxTasks, std::uint8_t maxConnections) override;
    // Menu item 316: the settings dialog over this window.
    void RunSettings();
    // F1 and menu item 317: the help viewer over this window.
    void ShowHelpViewer();

Q_SIGNALS:
    // The window has closed for good: the process ends with this status.
    void exitRequested(int status);

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The keys of the window, taken before the control that has the focus sees them.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A font or style that changes after the window was built (the platform's own, once
    // the window is shown) changes what each part needs: measured again.
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Set while the window itself moves or resizes, so that its size events are not taken
    // for the user's.
    class LayoutGuard
    {
    public:
        explicit LayoutGuard(MainWindow& window)
            : m_window(window)
        {
            ++m_window.m_layoutGuard;
        }

        ~LayoutGuard() { --m_window.m_layoutGuard; }

        LayoutGuard(const LayoutGuard&) = delete;
        LayoutGuard& operator=(const LayoutGuard&) = delete;

    private:
        MainWindow& m_window;
    };

    // ---- building and starting (main_window.cpp)
    void buildControls();
    void InitWindow();
    void firstRunCheck();

    // ---- stored settings (main_window_settings.cpp)
    // InitWindow step 4: the default save folder and the stored record (run-time values,
    // geometry, button visibility, maximums), before the pending command line.
    void loadSettings();
    void takeStoredGeometry(const torrent::SettingsRecord& record);
    // A later start: the window's right edge and top where the record left them.
    void moveToStoredPlace();
    // The window's right edge (left edge plus width) and top.
    [[nodiscard]] QPoint rightTop() const;

    // ---- timer (main_window_tick.cpp)
    void tick();
    void setTimer(int ms);
    [[nodiscard]] bool probeNetwork() const;
    void networkCameUp();
    void bindPort();
    void applyRuntime(const torrent::runtime_apply_outcome& outcome);
    void takeNetworkReports();
    void exitNow();
    void timedMinimise();

    // ---- status line, symbol, tray (main_window_status.cpp)
    int showStatusSymbol();
    void resetStatusSymbol();
    void refreshTrayTip();
    void writeSaveToStatus();
    void showButtons(bool shown);

    // ---- layouts (main_window_layout.cpp; list modes and stepping: main_window_modes.cpp)
    void initLayouts();
    void measureLayouts();
    void remeasureLayouts(); // again after a font or style change; re-laid out when it changed
    [[nodiscard]] QSize layoutSize(torrent::display_layout layout) const;
    // Shows the controls of the layout and places them for the window's size.
    void arrange();
    void arrangeStrip();
    void arrangeStandard();
    void userResized(QSize size);

    // ---- keys, mouse, tray, topmost (main_window_input.cpp)
    bool takeKey(int key);
    void bodyRightClick(QPoint at, QPoint global);
    void applyTopmost();

    // ---- tasks (main_window_tasks.cpp)
    void finishStart(
        torrent::task_entry& entry,
        int slotIndex,
        torrent::Task* task,
        torrent::open_task_result result,
        const torrent::storage_error& why,
        bool report,
        const std::function<void(bool)>& done);
    [[nodiscard]] int chooseSlot() const;
    void writeSettingsAtExit();
    void handleHandoverPath(const std::string& text);

    MainWindowOptions m_options;
    Prompt& m_prompt;
    torrent::TaskRegistry m_registry;
    std::unique_ptr<torrent::session_controller> m_session;
    std::array<SlotView, slot_count> m_slots;
    SlotView* m_current = nullptr;
    int m_currentIndex = 0;
    int m_running = 0;
    std::uint8_t m_maxTasks = 10;
    std::uint8_t m_maxConnections = 64;
    torrent::runtime_options_state m_runtime;
    std::string m_saveFolder;
    bool m_upnpEstablished = false;
    bool m_soundOff = false;
    bool m_exitPending = false;
    bool m_topmost = true;
    bool m_trayMissingSaid = false;
    bool m_buttonsShown = true;
    torrent::display_layout m_layout = torrent::display_layout::standard;
    torrent::display_layout m_trayLayout = torrent::display_layout::standard; // saved while hidden
    torrent::display_layout m_listLayout = torrent::display_layout::standard; // saved in task-list mode
    int m_layoutGuard = 0;
    bool m_layoutsMeasured = false; // measureLayouts ran: the parts exist
    QSize m_appliedSize; // what the window itself last sized to
    QSize m_compactSize;
    QSize m_standardSize;
    QSize m_userSize{0, 0};
    QSize m_extSize{505, 200};
    int m_singleLineWidth = 380;
    bool m_stripWidthsStored = false; // the strips' widths came from the settings record
    int m_rowHeight = 24; // the strip's controls
    int m_lineHeight = 16; // a caption's row
    torrent::strip_widths m_strip;
    std::array<int, 4> m_captionWidths{}; // widest caption of each detail column
    int m_valueWidth = 60; // a detail value
    QPoint m_remembered{0, 0}; // where the window comes back to from hiding
    // Dragging by the body where the window manager does not do it: the press's global
    // point and the window's geometry then; in layout 2's border the width changes.
    QPoint m_dragFrom;
    QRect m_dragGeometry;
    bool m_dragArmed = false;
    bool m_dragResizes = false;
    // What the stored settings and the user chose for "Go" and "SaveTo"; they are shown
    // only once the network is up as well.
    bool m_buttonsWanted = true;
    // The UPnP setting (what is stored); m_runtime.values.upnp_wanted is the wish the
    // port mapping clears once it succeeded or gave up.
    bool m_upnpSetting = true;
    QPoint m_storedRightTop{0, 0}; // the window's right edge and top from the stored record
    bool m_settingsRead = false;
    std::optional<torrent::saved_maximums> m_savedMaximums; // from a saved settings dialog
    int m_symbolIndex = 4;
    unsigned m_minimiseCount = 0;
    torrent::tick_t m_stickyAt = 0;

    QTimer m_timer;
    bool m_inTick = false;
    int m_tickRequest = -1; // a period asked for while a tick runs

    QIcon m_icon;
    TrayIcon* m_tray = nullptr;
    TaskList* m_list = nullptr;
    HandoverServer* m_handover = nullptr;
    DesktopNotifier* m_notifier = nullptr;
    torrent::sound_player m_sound;
    unsigned m_soundsPlayed = 0;

    void play(std::span<const torrent::tone> signal);

    QLabel* m_symbol = nullptr; // 1027
    QLabel* m_status = nullptr; // 1015
    QPushButton* m_saveTo = nullptr; // 1013
    QPushButton* m_go = nullptr; // 1011
    QPushButton* m_close = nullptr; // 1016
    std::array<QLabel*, 8> m_captions{};
    std::array<QLabel*, 8> m_values{}; // 1008 1012 1004 1005 1009 1014 1006 1007

    // The detail fields, by their place in m_values.
    enum detail : std::size_t
    {
        total_size,
        time_left,
        download_rate,
        upload_rate,
        connections,
        completion,
        downloaded,
        uploaded,
    };

    QLabel* m_legend = nullptr; // 1018

    friend class TaskList;
    friend class MainWindowProbe;
};
