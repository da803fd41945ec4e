#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_get_options.h"
#include "app/session_controller.h"
#include "base/tick.h"

namespace torrent
{
class Task;
struct TaskView;
} // namespace torrent

namespace zorvik::cli
{

class progress_printer;

// Exit statuses of zorvik-cli get. 2..6 are the open results of a torrent that could not
// be started (invalid, unreadable, already open, too little space, files that cannot be
// opened); the message says what failed.
namespace get_exit
{
inline constexpr int ok = 0;
inline constexpr int usage = 1;
inline constexpr int interrupted = 8;
inline constexpr int no_listen_port = 9;
inline constexpr int stopped = 10; // a task stopped before it was complete
inline constexpr int no_network = 11;
inline constexpr int no_free_slot = 12; // more torrents than task slots
} // namespace get_exit

// The engine run the way the main window runs it, without a window: the session
// controller with one display record per torrent, the given peers offered to every task,
// and the messages and progress lines of a progress_printer.
//
// Owner: zorvik-cli get. Runs on: its main thread; the engine's threads only reach the
// observer.
class headless_session
{
public:
    headless_session(
        get_options options, progress_printer& out, torrent::clock& time = torrent::system_clock());
    // Stops what still runs and shuts the network down.
    ~headless_session();
    headless_session(const headless_session&) = delete;
    headless_session& operator=(const headless_session&) = delete;

    // Starts the network and every task: get_exit::ok, or the status of the first failure
    // (after a message; what was started is stopped again).
    [[nodiscard]] int start();

    // One turn of the main loop (call it a few times a second): status lines from the
    // network, state changes, the end of seeding, connects to the given peers, and once a
    // second the progress lines.
    void step();

    // Every task has ended.
    [[nodiscard]] bool finished() const;

    // Stops every task that still runs (stop event, close, final announce) and waits, a
    // bounded time, for the announcers to send their last announce. `interrupted` marks
    // the run as ended by a signal.
    void stop(bool interrupted);

    // What the run ended with (see get_exit).
    [[nodiscard]] int exit_status() const;

    [[nodiscard]] std::uint16_t listen_port() const noexcept;

private:
    struct running_task;

    // The user's stop (or a failed start): a last refresh, then the stop.
    void end_task(running_task& t);
    // The task has ended: its closing line.
    void finish_task(running_task& t, torrent::view_state final_state, bool complete);
    void watch_task(running_task& t, torrent::tick_t now);
    [[nodiscard]] std::string pieces_present(const torrent::TaskView& view);
    void connect_peers(running_task& t, torrent::tick_t now);
    // A tracker's refusal, once per change (the view's copy is made by RefreshView).
    void print_tracker_refusal(running_task& t);
    void print_progress(torrent::tick_t now);
    void print_network_lines();
    [[nodiscard]] int open_all();

    get_options m_options;
    progress_printer& m_out;
    torrent::clock& m_clock;
    std::unique_ptr<torrent::session_controller> m_session;
    std::vector<std::unique_ptr<running_task>> m_tasks;
    torrent::tick_t m_last_progress = 0;
    bool m_interrupted = false;
    bool m_stopped = false;
};

} // namespace zorvik::cli
