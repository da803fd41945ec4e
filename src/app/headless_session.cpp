#include "app/headless_session.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/cli_get_progress.h"
#include "base/data_folder.h"
#include "base/paths.h"
#include "engine/task.h"
#include "engine/task_pool.h"
#include "engine/task_view.h"
#include "net/local_address.h"
#include "storage/bitfield.h"
#include "storage/torrent_manager.h"
#include "ui/language_file.h"
#include "ui/number_format.h"
#include "ui/result_text.h"
#include "ui/ui_text.h"

namespace zorvik::cli
{

using torrent::tick_t;
using torrent::uitext::id;

namespace
{

// How often the given peers are offered to a task again (an address the task already
// knows, connected or connecting, is refused by the task itself).
constexpr tick_t peer_retry_ms = 5000;
constexpr tick_t progress_period_ms = 1000;
// How long stopping waits for the announcers' last announce ("stopped" has 3 s at most).
constexpr unsigned announcer_wait_ms = 3500;
// How long the network thread may take to let its connections go at shutdown.
constexpr std::chrono::milliseconds drain_limit{1000};

std::string text(id entry)
{
    return std::string(torrent::ui_text(entry));
}

// The built-in texts, replaced by the language file in the data folder when there is one
// (a front end without a window never writes it).
void load_language_texts(const std::string& folder)
{
    std::string bytes;
    if (!torrent::read_whole_file(
            torrent::join_path(folder, std::string(torrent::language_file_name)), bytes))
        return;
    torrent::ui_text_table table;
    torrent::read_language_file(bytes, table);
    torrent::install_ui_text(std::move(table));
}

// The exit status of a torrent that could not be started: the open result for 2..6.
int open_exit_status(torrent::open_task_result r)
{
    switch (r)
    {
    case torrent::open_task_result::no_free_slot:
        return get_exit::no_free_slot;
    case torrent::open_task_result::no_network:
        return get_exit::no_network;
    default:
        return static_cast<int>(r);
    }
}

std::string minutes_text(std::int32_t ms)
{
    if (ms <= 0)
        return "no seeding time";
    const std::int32_t minutes = ms / 60000;
    return "seeding for " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

} // namespace

struct headless_session::running_task
{
    std::string torrent_path;
    std::unique_ptr<torrent::TaskView> view = std::make_unique<torrent::TaskView>();
    tick_t next_peer_try = 0;
    bool ended = false;
    bool was_complete = false;
    std::uint32_t tracker_failure_serial = 0; // the tracker refusal last printed
};

headless_session::headless_session(get_options options, progress_printer& out, torrent::clock& time)
    : m_options(std::move(options))
    , m_out(out)
    , m_clock(time)
{
}

headless_session::~headless_session()
{
    if (m_session)
        stop(m_interrupted);
    m_session.reset();
}

std::uint16_t headless_session::listen_port() const noexcept
{
    return m_session ? m_session->listen_port() : 0;
}

int headless_session::start()
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(m_options.save_folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
    {
        m_out.error("zorvik-cli get: the save folder '" + m_options.save_folder + "' is not a folder");
        return get_exit::usage;
    }
    m_options.save_folder = folder.lexically_normal().string();
    for (std::string& path : m_options.torrents)
        path = std::filesystem::absolute(path, ec).lexically_normal().string();

    const std::string data = torrent::data_folder();
    std::filesystem::create_directories(data, ec);
    load_language_texts(data);

    if (torrent::route_source_address() == 0)
    {
        m_out.error("zorvik-cli get: " + text(torrent::uitext::network_not_connected));
        return get_exit::no_network;
    }

    m_session = std::make_unique<torrent::session_controller>(m_clock);
    torrent::session_start net;
    net.port = m_options.listen_port;
    net.listen_address = m_options.listen_address;
    net.max_connections = m_options.max_connections;
    net.upnp_wanted = m_options.runtime.upnp_wanted;
    net.upnp_possible = m_options.runtime.upnp_wanted;
    net.drain_limit = drain_limit;
    switch (m_session->start_network(net))
    {
    case torrent::set_port_result::started:
        break;
    case torrent::set_port_result::bind_failed:
        m_out.error(
            "zorvik-cli get: " + torrent::result_text(torrent::set_port_result::bind_failed)
            + " (no free port from " + std::to_string(m_options.listen_port) + " up)");
        m_session.reset();
        return get_exit::no_listen_port;
    case torrent::set_port_result::no_thread:
        m_out.error("zorvik-cli get: " + torrent::result_text(torrent::set_port_result::no_thread));
        m_session.reset();
        return get_exit::no_listen_port;
    }
    m_out.message(
        text(torrent::uitext::network_connected) + " (listening on port "
        + std::to_string(m_session->listen_port()) + ")");

    m_session->set_rate_limits(m_options.runtime.upload_limit, m_options.runtime.download_limit);
    m_session->set_seeding_time(m_options.runtime.seeding_time);
    return open_all();
}

int headless_session::open_all()
{
    for (const std::string& path : m_options.torrents)
    {
        auto t = std::make_unique<running_task>();
        t->torrent_path = path;
        torrent::open_task_result result{};
        torrent::storage_error why;
        torrent::Task* task = m_session->start_task(path, m_options.save_folder, *t->view, result, &why);
        if (task == nullptr)
        {
            m_out.error(
                "zorvik-cli get: " + text(torrent::uitext::open_file_failed) + " " + path + ": "
                + torrent::result_text(result, why));
            stop(false);
            return open_exit_status(result);
        }
        const torrent::TaskView& v = *t->view;
        std::string line = v.name + ": " + v.info_hash + ", " + torrent::FormatSize(v.total) + " into "
            + m_options.save_folder;
        if (result == torrent::open_task_result::needs_check)
            line += "; checking the data already on disk (" + std::to_string(m_session->pieces_to_check(v))
                + " pieces)";
        else
            line += "; " + pieces_present(v) + " pieces present";
        m_out.message(line);
        m_tasks.push_back(std::move(t));
    }
    return get_exit::ok;
}

std::string headless_session::pieces_present(const torrent::TaskView& view)
{
    torrent::bitfield have;
    static_cast<void>(m_session->torrents().copy_have(view.info_hash, have));
    return std::to_string(have.count()) + "/" + std::to_string(have.bit_count());
}

void headless_session::step()
{
    const tick_t now = m_clock.now();
    print_network_lines();
    for (auto& t : m_tasks)
    {
        if (!t->ended)
            watch_task(*t, now);
        if (!t->ended)
            connect_peers(*t, now);
    }
    if (m_last_progress == 0 || now - m_last_progress >= progress_period_ms)
    {
        m_last_progress = now;
        print_progress(now);
    }
}

void headless_session::watch_task(running_task& t, tick_t now)
{
    torrent::TaskView& v = *t.view;
    const torrent::task_watch w = m_session->watch(v, now);
    // A disk fault (a file cut short, an I/O error, a read-only file left incomplete) stops
    // the task with what happened; the other tasks go on.
    if (w.fault)
        m_out.error("zorvik-cli get: " + v.name + ": " + torrent::result_text(*w.fault));
    if (w.check_done)
        m_out.message(v.name + ": check done, " + pieces_present(v) + " pieces present");
    if (w.seeding_began)
        m_out.message(v.name + ": 上传中! (complete; " + minutes_text(m_options.runtime.seeding_time) + ")");
    if (v.state == torrent::view_state::uploading || w.end_state == torrent::view_state::upload_over)
        t.was_complete = true;
    if (w.ended)
        finish_task(t, w.end_state, w.complete);
}

void headless_session::finish_task(running_task& t, torrent::view_state final_state, bool complete)
{
    torrent::TaskView& v = *t.view;
    print_tracker_refusal(t);
    t.ended = true;
    t.was_complete = t.was_complete || complete;
    v.state = final_state;
    const id words = final_state == torrent::view_state::upload_over ? torrent::uitext::download_complete
                                                                     : torrent::uitext::stopped;
    m_out.message(
        v.name + ": " + text(words) + " (" + torrent::FormatPercent(v.held, v.total) + ", "
        + torrent::FormatSize(v.downloaded) + " down, " + torrent::FormatSize(v.uploaded) + " up)");
}

void headless_session::print_tracker_refusal(running_task& t)
{
    const torrent::TaskView& v = *t.view;
    if (v.tracker_failure_serial == t.tracker_failure_serial)
        return;
    t.tracker_failure_serial = v.tracker_failure_serial;
    if (!v.tracker_failure.empty())
        m_out.message(
            v.name + ": "
            + torrent::result_text(
                torrent::announce_outcome::failure, v.tracker_failure_url, v.tracker_failure));
}

void headless_session::end_task(running_task& t)
{
    torrent::TaskView& v = *t.view;
    bool complete = false;
    if (v.task != nullptr && v.task->generation() == v.generation)
    {
        complete = v.task->IsComplete();
        // Refresh the counters one last time for the closing line.
        v.last_refresh = 0;
        m_session->refresh(v, m_clock.now(), false);
        m_session->stop_task(v);
    }
    finish_task(t, torrent::view_state::stopped, complete);
}

void headless_session::connect_peers(running_task& t, tick_t now)
{
    if (m_options.peers.empty() || now < t.next_peer_try)
        return;
    torrent::Task& task = *t.view->task;
    if (task.state() == torrent::task_state::checking)
        return;
    t.next_peer_try = now + peer_retry_ms;
    for (const peer_address& p : m_options.peers)
    {
        torrent::PeerEndpoint endpoint{};
        endpoint.ip = p.ip;
        endpoint.port = p.port;
        static_cast<void>(task.Connect(endpoint));
    }
}

void headless_session::print_progress(tick_t now)
{
    std::vector<std::string> lines;
    for (auto& t : m_tasks)
    {
        if (t->ended)
            continue;
        torrent::TaskView& v = *t->view;
        m_session->refresh(v, now, false);
        print_tracker_refusal(*t);
        std::int64_t left = 0;
        if (v.upload_started != 0)
        {
            const auto seeding = static_cast<tick_t>(std::max(0, m_options.runtime.seeding_time));
            const tick_t elapsed = now - v.upload_started;
            left = elapsed >= seeding ? 0 : static_cast<std::int64_t>((seeding - elapsed) / 1000);
        }
        else
        {
            left = seconds_left(v.total > v.held ? v.total - v.held : 0, v.download_rate);
        }
        lines.push_back(progress_line(v, left));
    }
    if (!lines.empty())
        m_out.progress(lines);
}

void headless_session::print_network_lines()
{
    if (!m_session)
        return;
    for (const std::string& line : m_session->events().take().sticky_lines)
        m_out.message(line);
}

bool headless_session::finished() const
{
    return std::all_of(m_tasks.begin(), m_tasks.end(), [](const auto& t) { return t->ended; });
}

void headless_session::stop(bool interrupted)
{
    m_interrupted = m_interrupted || interrupted;
    if (!m_session || m_stopped)
        return;
    for (auto& t : m_tasks)
    {
        if (!t->ended)
            end_task(*t);
    }
    // Closing changed every task's generation, so each announcer sends its "stopped" and ends.
    if (!m_session->wait_announcers(announcer_wait_ms))
        m_out.error("zorvik-cli get: a tracker did not answer the last announce in time");
    print_network_lines();
    m_stopped = true;
}

int headless_session::exit_status() const
{
    if (m_interrupted)
        return get_exit::interrupted;
    const bool all_complete =
        std::all_of(m_tasks.begin(), m_tasks.end(), [](const auto& t) { return t->was_complete; });
    return all_complete ? get_exit::ok : get_exit::stopped;
}

} // namespace zorvik::cli
