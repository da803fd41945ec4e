#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/session_events.h"
#include "base/tick.h"
#include "engine/rate_meter.h"
#include "engine/task_pool.h"
#include "engine/view_state.h"
#include "storage/storage_error.h"

namespace torrent
{

class NetworkContext;
class Task;
struct TaskView;

// How the network root is brought up.
struct session_start
{
    std::uint16_t port = 0; // first listening port tried
    std::uint32_t listen_address = 0; // host order; 0 = every address (tests: loopback)
    std::uint8_t max_connections = 64; // per task
    bool upnp_wanted = true; // map the listening port on the router from the start
    bool upnp_possible = true; // a mapping can be asked for later (restart_port_mapping)
    std::chrono::milliseconds drain_limit{3000}; // for the network thread at shutdown
};

// What one look at a running task found.
struct task_watch
{
    bool check_done = false; // its check of the data on disk ended since the last look
    bool seeding_began = false; // first look at it uploading: the seeding time runs from now
    bool ended = false; // this look stopped it (its view is free again)
    view_state end_state =
        view_state::stopped; // what ended it: announcer ended (or closed elsewhere), upload over
    bool complete = false; // with ended: it held everything when it stopped
    std::int64_t seeding_left_ms = -1; // while seeding: time until the seeding time is over
    std::optional<storage_error> fault; // a disk fault stopped it (ended is set)
};

// The engine as both front ends run it: the task pool on its network root, the two shared
// rate meters, the network layer's reports, starting tasks into their display records,
// the rules that end them (announcer ended, task closed elsewhere, seeding time over) and
// stopping them. The front end keeps the display records and decides what to show; it
// never reaches the pool for anything this class does.
//
// Owner: zorvik-cli get's session, or the main window. Runs on: the owner's thread; the
// opens of start_task_async run on a worker thread of this object, one after the other.
class session_controller
{
public:
    explicit session_controller(clock& time = system_clock(), std::uint8_t slots = TaskPool::default_slots);
    // Waits for a start in progress, stops every task and shuts the network down.
    ~session_controller();
    session_controller(const session_controller&) = delete;
    session_controller& operator=(const session_controller&) = delete;

    // Creates the network root on the first free port at or above start.port and gives
    // every slot the connection limit and the shared meters.
    [[nodiscard]] set_port_result start_network(const session_start& start);

    [[nodiscard]] bool network_started() const noexcept { return m_network_started; }

    [[nodiscard]] std::uint16_t listen_port() const noexcept { return m_pool->port(); }

    [[nodiscard]] NetworkContext* network() noexcept { return m_pool->network(); }

    [[nodiscard]] session_events& events() noexcept { return m_events; }

    // Asks the listener for a router mapping on its next pass (none while one exists).
    void restart_port_mapping();

    // Limits in bytes per second (0 or below: no limit); the seeding time in milliseconds.
    void set_rate_limits(std::int32_t upload, std::int32_t download);

    void set_seeding_time(std::int32_t ms) noexcept { m_seeding_time = ms; }

    [[nodiscard]] std::int32_t seeding_time() const noexcept { return m_seeding_time; }

    [[nodiscard]] RateMeter& upload_meter() noexcept { return m_upload; }

    [[nodiscard]] RateMeter& download_meter() noexcept { return m_download; }

    // Opens the torrent in a free slot, fills the view and starts its announcer. Null with
    // the reason in `result` (and what failed in `why`) when it cannot be opened.
    [[nodiscard]] Task* start_task(
        const std::string& torrent_path,
        const std::string& save_folder,
        TaskView& view,
        open_task_result& result,
        storage_error* why = nullptr);

    using start_done = std::function<void(Task*, open_task_result, const storage_error&)>;
    // start_task on the worker thread (it reads the torrent, creates and sizes its files and
    // maps its piece-state file); `done` runs on that thread once the open is over. The
    // view belongs to the worker until then.
    void start_task_async(std::string torrent_path, std::string save_folder, TaskView& view, start_done done);

    // Pieces a task opened with needs_check still has to check (0 when none).
    [[nodiscard]] std::uint32_t pieces_to_check(const TaskView& view);

    // Starts still waiting for or being run by the worker.
    [[nodiscard]] std::size_t starts_pending() const;

    // Copies the task's figures into its view (at most once a second, see Task::RefreshView).
    void refresh(TaskView& view, tick_t now, bool with_peers);

    // The rules that end a running task, for its view: the live state is copied (change
    // flag 8); a task closed elsewhere or whose announcer ended is stopped; uploading starts
    // the seeding time at the first look and stops the task when the time is over.
    [[nodiscard]] task_watch watch(TaskView& view, tick_t now);

    // The user chose more files of a running task: it opens them and downloads them from
    // now on. Its files are created and sized here, on the caller's thread.
    [[nodiscard]] open_storage_result choose_more_files(TaskView& view, const file_selection& choice);

    // Stops the task of a view: stop event, then close and view free, except for a task
    // checking its data, which ends its check and is closed by the next watch.
    void stop_task(TaskView& view);

    // Waits up to `ms` for every announcer to end; false when one is still running.
    [[nodiscard]] bool wait_announcers(unsigned ms);

    [[nodiscard]] std::size_t running_count() const { return m_pool->running_count(); }

    [[nodiscard]] torrent_manager& torrents() noexcept { return m_pool->torrents(); }

    [[nodiscard]] tick_t now() const noexcept { return m_clock.now(); }

private:
    struct start_job
    {
        std::string torrent_path;
        std::string save_folder;
        TaskView* view = nullptr;
        start_done done;
    };

    void worker_main();

    clock& m_clock;
    session_events m_events;
    RateMeter m_upload;
    RateMeter m_download;
    std::unique_ptr<TaskPool> m_pool;
    std::int32_t m_seeding_time = 1800000;
    bool m_network_started = false;

    mutable std::mutex m_jobs_mutex;
    std::condition_variable m_jobs_cond;
    std::deque<start_job> m_jobs;
    std::size_t m_jobs_running = 0;
    bool m_jobs_stop = false;
    std::thread m_worker; // started with the first asynchronous start
};

} // namespace torrent
