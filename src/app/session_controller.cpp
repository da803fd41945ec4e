#include "app/session_controller.h"

#include <algorithm>

#include "engine/task.h"
#include "engine/task_view.h"
#include "net/network_context.h"
#include "upnp/start_port_mapping.h"

namespace torrent
{

session_controller::session_controller(clock& time, std::uint8_t slots)
    : m_clock(time)
    , m_upload(30720)
    , m_download(30720)
    , m_pool(std::make_unique<TaskPool>(slots))
{
}

session_controller::~session_controller()
{
    {
        const std::lock_guard lock(m_jobs_mutex);
        m_jobs_stop = true;
    }
    m_jobs_cond.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    // The pool closes every task it still holds, waits for their announcers and shuts the
    // network down.
    m_pool.reset();
}

set_port_result session_controller::start_network(const session_start& start)
{
    network_options net;
    net.listen_address = start.listen_address;
    net.max_peers_per_task = start.max_connections;
    net.upnp_wanted = start.upnp_wanted;
    if (start.upnp_wanted || start.upnp_possible)
        net.mapper_factory = make_port_mapper_factory();
    net.observer = &m_events;
    net.drain_limit = start.drain_limit;
    const set_port_result result = m_pool->SetPort(start.port, std::move(net));
    if (result != set_port_result::started)
        return result;
    m_network_started = true;
    m_pool->configure_slots(start.max_connections, m_upload, m_download);
    return result;
}

void session_controller::restart_port_mapping()
{
    if (NetworkContext* net = m_pool->network())
        net->restart_port_mapping();
}

void session_controller::set_rate_limits(std::int32_t upload, std::int32_t download)
{
    m_upload.set_limit(static_cast<std::uint32_t>(std::max(0, upload)));
    m_download.set_limit(static_cast<std::uint32_t>(std::max(0, download)));
}

Task* session_controller::start_task(
    const std::string& torrent_path,
    const std::string& save_folder,
    TaskView& view,
    open_task_result& result,
    storage_error* why)
{
    Task* task = m_pool->StartTask(torrent_path, save_folder, view, result, why);
    if (task != nullptr)
        view.upload_started = 0;
    return task;
}

void session_controller::start_task_async(
    std::string torrent_path, std::string save_folder, TaskView& view, start_done done)
{
    {
        const std::lock_guard lock(m_jobs_mutex);
        m_jobs.push_back(start_job{std::move(torrent_path), std::move(save_folder), &view, std::move(done)});
        if (!m_worker.joinable())
            m_worker = std::thread([this] { worker_main(); });
    }
    m_jobs_cond.notify_one();
}

std::size_t session_controller::starts_pending() const
{
    const std::lock_guard lock(m_jobs_mutex);
    return m_jobs.size() + m_jobs_running;
}

void session_controller::worker_main()
{
    std::unique_lock lock(m_jobs_mutex);
    for (;;)
    {
        m_jobs_cond.wait(lock, [this] { return m_jobs_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, nothing left to open
        start_job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_jobs_running;
        lock.unlock();
        open_task_result result = open_task_result::no_free_slot;
        storage_error why;
        Task* task = start_task(job.torrent_path, job.save_folder, *job.view, result, &why);
        job.done(task, result, why);
        lock.lock();
        --m_jobs_running;
    }
}

std::uint32_t session_controller::pieces_to_check(const TaskView& view)
{
    const auto data = m_pool->torrents().find_torrent(view.info_hash);
    return data != nullptr ? data->pieces_to_check() : 0;
}

void session_controller::refresh(TaskView& view, tick_t now, bool with_peers)
{
    if (view.task != nullptr && view.task->generation() == view.generation)
        view.task->RefreshView(view, now, with_peers);
}

task_watch session_controller::watch(TaskView& view, tick_t now)
{
    task_watch w;
    if (view.task == nullptr || view.state == view_state::stopped)
        return w;
    Task& task = *view.task;
    const bool same_task = task.generation() == view.generation;
    if (same_task)
    {
        const view_state state = view_state_of(task.state());
        if (view.state == view_state::checking && state != view_state::checking)
            w.check_done = true;
        if (state != view.state && view.state <= view_state::checking)
        {
            view.state = state;
            view.flags |= view_flag::state;
        }
        view.announcer_ended = task.announcer_ended();
    }
    // A slot that changed hands has nothing of ours left running: like an ended announcer.
    if (!same_task || view.announcer_ended)
        view.state = view_state::announcer_ended;
    // A disk fault ends the task with what happened.
    if (same_task && view.state <= view_state::checking)
    {
        if (const auto data = m_pool->torrents().find_torrent(view.info_hash);
            data != nullptr && data->failed())
        {
            w.fault = data->fault();
            view.state = view_state::announcer_ended;
        }
    }

    if (view.state == view_state::uploading && view.upload_started == 0)
    {
        view.upload_started = now != 0 ? now : 1;
        w.seeding_began = true;
    }
    if (view.state == view_state::uploading)
    {
        const auto seeding = static_cast<tick_t>(std::max(0, m_seeding_time));
        const tick_t elapsed = elapsed_since(now, view.upload_started);
        w.seeding_left_ms = elapsed >= seeding ? 0 : static_cast<std::int64_t>(seeding - elapsed);
        if (w.seeding_left_ms < 1)
            view.state = view_state::upload_over;
    }
    if (view.state <= view_state::checking)
        return w;

    // Ended: one last copy of the figures, then the stop.
    w.ended = true;
    w.end_state = view.state;
    if (same_task)
    {
        view.last_refresh = 0;
        task.RefreshView(view, now, false);
        w.complete = task.IsComplete();
    }
    view.state = w.end_state; // the refresh copied the task's own state
    if (view.held > view.total)
        view.held = view.total;
    stop_task(view);
    return w;
}

open_storage_result session_controller::choose_more_files(TaskView& view, const file_selection& choice)
{
    if (view.task == nullptr || view.task->generation() != view.generation)
        return open_storage_result::cannot_open;
    return view.task->choose_more_files(choice);
}

void session_controller::stop_task(TaskView& view)
{
    // A task checking its data stays bound: the check sees the stop event, its announcer
    // ends, and the next watch closes it.
    m_pool->StopTask(view);
}

bool session_controller::wait_announcers(unsigned ms)
{
    return m_pool->workers().wait_idle(ms);
}

} // namespace torrent
