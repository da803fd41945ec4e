#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/task.h"
#include "net/bittorrent_recognizer.h"
#include "net/network_context.h"
#include "storage/torrent_manager.h"
#include "tracker/announce_response.h"
#include "tracker/worker_count.h"

namespace torrent
{

class RateMeter;
class task_announcer;
struct TaskView;

// Result of OpenTask and StartTask: the torrent add's codes, then the pool's own.
enum class open_task_result : std::uint8_t
{
    opened = 1,
    invalid = 2, // invalid torrent
    unreadable = 3, // the .torrent cannot be opened
    duplicate = 4, // the torrent is already open in another slot
    no_space = 5,
    cannot_open = 6, // files or the piece-state file cannot be opened or created
    needs_check = 7, // opened; the data on disk is checked before the first announce
    no_free_slot = 8, // every task slot is in use
    no_network = 9, // StartTask before the network root was started (SetPort)
};

void PrintTo(open_task_result r, std::ostream* os);

// Result of SetPort.
enum class set_port_result : std::uint8_t
{
    started = 0,
    bind_failed = 1, // no listening port could be bound (the window says so)
    no_thread = 2, // the network threads could not be started
};

// The fixed table of task slots, the torrent table they load their torrents into, and the
// network root they run on. Opening takes the first free slot; the pool neither queues
// nor schedules: an open that finds no free slot fails.
//
// Owner: the session controller (or a driver program). Runs on: the owner's thread; find_host
// is called by the poller thread (incoming handshakes).
class TaskPool final : public peer_host_directory
{
public:
    static constexpr std::uint8_t default_slots = 10;

    explicit TaskPool(std::uint8_t slot_count = default_slots);
    // Signals the stop event of every task StartTask started, closes every running task,
    // waits until every announcer has ended (their requests, checks and name lookups all
    // end within a few seconds of the stop), then shuts the network down. Nothing an
    // announcer can reach (the tasks, the worker count) is destroyed before it has ended.
    ~TaskPool() override;
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Creates and starts the network root on the port (first free at or above it) with
    // this pool's handshake recognizer and connect completion, and gives every slot its
    // network. The other options are the caller's.
    [[nodiscard]] set_port_result SetPort(std::uint16_t port, network_options options = {});
    // A network made by the caller (tests: a loop they drive themselves, no poller).
    void use_network(const task_network& network);

    // Every slot gets the per-task connection limit and the shared meters.
    void configure_slots(std::uint16_t per_task, RateMeter& upload, RateMeter& download);

    // Under the pool lock: the first free slot, reset to state 0; null when none is free.
    [[nodiscard]] Task* TakeFreeSlot();

    // Opens a torrent in a free slot (see open_task_result) and binds the announcer to it.
    // The slot is free again when the open fails; `why`, when given, then says what failed.
    [[nodiscard]] Task* OpenTask(
        task_announcer& announcer,
        const std::string& torrent_path,
        const std::string& save_folder,
        open_task_result& result,
        storage_error* why = nullptr);

    // Starting a task as the window does: a tracker announcer, the open, the view filled,
    // the announcer given the view's stop event and started on its own thread. The view
    // must outlive the announcer: destroy the pool (or wait for workers()) before the views.
    [[nodiscard]] Task* StartTask(
        const std::string& torrent_path,
        const std::string& save_folder,
        TaskView& view,
        open_task_result& result,
        storage_error* why = nullptr);
    // Stopping a task: its stop event is signalled, and unless it is checking its data it is
    // closed at once and the view shows it stopped.
    void StopTask(TaskView& view);

    // peer_host_directory: the running task of a torrent.
    [[nodiscard]] peer_host* find_host(std::string_view info_hash) override;

    [[nodiscard]] std::size_t slot_count() const noexcept { return m_tasks.size(); }

    [[nodiscard]] Task& slot(std::size_t i) { return *m_tasks[i]; }

    [[nodiscard]] std::size_t running_count() const;

    [[nodiscard]] std::uint16_t port() const noexcept { return m_port; }

    [[nodiscard]] NetworkContext* network() noexcept { return m_network.get(); }

    // The loaded torrents: the network root's table once SetPort has run, else the pool's own.
    [[nodiscard]] torrent_manager& torrents() noexcept { return *m_active_torrents; }

    // Live announcer threads (StartTask's).
    [[nodiscard]] worker_count& workers() noexcept { return m_workers; }

    // Where piece-state files of single-file torrents live (default: the data folder).
    void set_data_folder(std::string folder) { m_data_folder = std::move(folder); }

    // Where the announcers find the favourites file (default: the data folder).
    void set_favourites_folder(std::string folder) { m_favourites_folder = std::move(folder); }

    // The name lookups of the announcers StartTask makes (default: the system resolver).
    void set_host_resolver(host_resolver resolve) { m_resolve = std::move(resolve); }

private:
    [[nodiscard]] std::size_t slot_index(const Task& task) const;

    std::unique_ptr<NetworkContext> m_network;
    std::string m_data_folder;
    std::string m_favourites_folder;
    host_resolver m_resolve;
    torrent_manager m_torrents; // until SetPort (tests that bring their own network)
    torrent_manager* m_active_torrents = &m_torrents;
    worker_count m_workers;
    std::mutex m_lock; // held while a free slot is searched and taken
    std::uint16_t m_port = 0;
    std::vector<std::unique_ptr<Task>> m_tasks;
    // The stop event StartTask gave each slot's announcer (owned by the caller's view).
    std::vector<event*> m_stop_events;
};

} // namespace torrent
