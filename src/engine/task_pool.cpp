#include "engine/task_pool.h"

#include "base/data_folder.h"
#include "engine/piece_picker.h"
#include "engine/task_announcer.h"
#include "engine/task_view.h"
#include "net/connect_completion_peer.h"
#include "net/net_ui_thread.h"
#include "storage/stored_task.h"
#include "tracker/private_torrent.h"
#include "tracker/tracker_announcer.h"

namespace torrent
{

namespace
{

// Every loaded torrent gets the engine's piece picker as its piece tracker, knowing the
// pieces the torrent already holds.
std::unique_ptr<picker_sink> make_picker(torrent_data& data)
{
    const torrent_storage& s = data.storage();
    auto picker =
        std::make_unique<PiecePicker>(s.piece_count(), s.piece_length(), s.total_size(), monotonic_ms());
    picker->assign_have(s.have());
    return picker;
}

// Closing the pool waits for the announcers in steps of this length (they send their last
// announce within 3 s of the stop; a step that ends with some still running waits again).
constexpr unsigned announcer_wait_ms = 8000;

} // namespace

void PrintTo(open_task_result r, std::ostream* os)
{
    *os << "open_task_result(" << static_cast<unsigned>(r) << ')';
}

void tracker_announcer_binding::bind_task(
    announce_sink& task, std::span<const std::string> trackers, bool private_torrent)
{
    m_announcer.BuildTrackerList(task, trackers, private_torrent);
}

void tracker_announcer_binding::set_check_first(bool check)
{
    m_announcer.set_check_first(check);
}

TaskPool::TaskPool(std::uint8_t slot_count)
    : m_data_folder(data_folder())
    , m_torrents(make_picker, m_data_folder)
{
    const std::uint8_t n = slot_count != 0 ? slot_count : 1;
    m_tasks.reserve(n);
    for (std::uint8_t i = 0; i < n; ++i)
        m_tasks.push_back(std::make_unique<Task>());
    m_stop_events.assign(n, nullptr);
}

TaskPool::~TaskPool()
{
    // A check of existing data listens to its stop event only.
    for (event* stop : m_stop_events)
    {
        if (stop != nullptr)
            stop->set();
    }
    for (auto& t : m_tasks)
    {
        if (t->state() != task_state::free_slot)
            t->Close();
    }
    // Closing changed every generation, so each announcer ends at its next check: its
    // requests, waits and name lookups all give up within a few seconds of the stop. Until
    // the last one has ended it may still reach its task, the worker count and the poller,
    // so nothing is destroyed before (the network is shut down after the wait, too).
    while (!m_workers.wait_idle(announcer_wait_ms))
    {
    }
    if (m_network)
        m_network->shutdown();
}

set_port_result TaskPool::SetPort(std::uint16_t port, network_options options)
{
    options.wanted_port = port;
    options.recognizer = std::make_unique<BitTorrentRecognizer>(*this);
    options.completion = std::make_unique<PeerConnectCompletion>();
    options.make_picker = make_picker;
    options.selection_folder = m_data_folder;
    clock* time = options.time;
    auto network = std::make_unique<NetworkContext>(std::move(options));
    switch (network->start())
    {
    case network_start_result::started:
        break;
    case network_start_result::no_port:
        return set_port_result::bind_failed;
    case network_start_result::no_thread:
    case network_start_result::already:
        return set_port_result::no_thread;
    }
    m_network = std::move(network);
    m_active_torrents = &m_network->torrents();
    m_port = m_network->listen_port();

    task_network net;
    net.loop = &m_network->net_thread()->loop();
    net.poller = m_network->poller();
    net.connect_limit = &m_network->connect_limit();
    net.own_peer_id = m_network->peer_id();
    net.time = time;
    use_network(net);
    return set_port_result::started;
}

void TaskPool::use_network(const task_network& network)
{
    task_network net = network;
    net.torrents = m_active_torrents;
    for (auto& t : m_tasks)
        t->set_network(net);
}

void TaskPool::configure_slots(std::uint16_t per_task, RateMeter& upload, RateMeter& download)
{
    for (auto& t : m_tasks)
        static_cast<void>(t->Configure(per_task, upload, download));
}

Task* TaskPool::TakeFreeSlot()
{
    const std::lock_guard lock(m_lock);
    for (auto& t : m_tasks)
    {
        if (t->state() == task_state::free_slot)
        {
            t->Reset(task_state::downloading);
            return t.get();
        }
    }
    return nullptr;
}

Task* TaskPool::OpenTask(
    task_announcer& announcer,
    const std::string& torrent_path,
    const std::string& save_folder,
    open_task_result& result,
    storage_error* why)
{
    if (why != nullptr)
        *why = {};
    Task* task = TakeFreeSlot();
    if (task == nullptr)
    {
        result = open_task_result::no_free_slot;
        return nullptr;
    }

    // What the files on disk say, without loading the torrent.
    std::string data = m_data_folder;
    torrent_summary summary;
    const stored_task_result stored =
        read_stored_task(torrent_path, save_folder, data, summary, m_data_folder);
    const std::uint64_t held = stored == stored_task_result::ok ? summary.downloaded : 0;

    std::string hash;
    std::vector<std::string> trackers;
    const add_result added =
        m_active_torrents->add_torrent(torrent_path, data, save_folder, hash, trackers, why);
    if (added != add_result::added && added != add_result::needs_check)
    {
        // A failed add leaves nothing in the table. (Removing by hash here would close the
        // torrent of the task that already has it open, for a duplicate.)
        task->SetState(task_state::free_slot);
        result = static_cast<open_task_result>(added);
        return nullptr;
    }

    // The piece-state file may vouch for more than the loaded torrent believes (files
    // changed since it was written): what is held is what the torrent has.
    std::uint64_t held_now = held;
    bitfield wanted;
    if (added == add_result::added && m_active_torrents->copy_have_wanted(hash, wanted))
    {
        const std::uint32_t n = wanted.bit_count();
        held_now = stored_downloaded_bytes(
            wanted.count(),
            n > 0 && wanted.test(n - 1),
            n,
            static_cast<std::uint32_t>(summary.piece_length),
            summary.total_size);
    }
    task->bind_torrent(
        hash,
        summary.name,
        save_folder,
        torrent_path,
        static_cast<std::uint32_t>(summary.piece_length),
        summary.total_size,
        held_now);
    // Complete when the held bytes cover the total, or when every wanted piece is present
    // (a torrent with unselected files never holds its total).
    bitfield have;
    static_cast<void>(m_active_torrents->copy_have(hash, have));
    // Data found on disk without a saved state is checked before the task takes any peer
    // (the announcer runs the check): until then it does not know what it has.
    if (added == add_result::needs_check)
        task->SetState(task_state::checking);
    else
        task->SetState(task->IsComplete() || have.all() ? task_state::complete : task_state::downloading);
    announcer.bind_task(*task, trackers, read_private_flag(torrent_path));
    if (added == add_result::needs_check)
        announcer.set_check_first(true);
    result = static_cast<open_task_result>(added);
    return task;
}

Task* TaskPool::StartTask(
    const std::string& torrent_path,
    const std::string& save_folder,
    TaskView& view,
    open_task_result& result,
    storage_error* why)
{
    if (why != nullptr)
        *why = {};
    if (!m_network)
    {
        result = open_task_result::no_network;
        return nullptr;
    }
    auto announcer = std::make_unique<TrackerAnnouncer>(m_network->peer_id(), m_network->external());
    if (!m_favourites_folder.empty())
        announcer->set_favourites_folder(m_favourites_folder);
    if (m_resolve)
        announcer->set_host_resolver(m_resolve);
    tracker_announcer_binding binding(*announcer);
    Task* task = OpenTask(binding, torrent_path, save_folder, result, why);
    if (task == nullptr)
        return nullptr;
    task->FillView(view);
    announcer->set_stop_event(view.stop);
    view.stop.reset();
    m_stop_events[slot_index(*task)] = &view.stop;
    if (!TrackerAnnouncer::start(std::move(announcer), m_workers))
        task->set_announcer_ended();
    return task;
}

void TaskPool::StopTask(TaskView& view)
{
    view.stop.set();
    for (event*& stop : m_stop_events)
    {
        if (stop == &view.stop)
            stop = nullptr; // signalled already; the view may go once its announcer has ended
    }
    if (view.task == nullptr || view.state == view_state::checking)
        return; // a check notices the event itself
    if (view.task->generation() == view.generation)
        view.task->Close();
    view.state = view_state::stopped;
}

std::size_t TaskPool::slot_index(const Task& task) const
{
    for (std::size_t i = 0; i < m_tasks.size(); ++i)
    {
        if (m_tasks[i].get() == &task)
            return i;
    }
    return 0;
}

peer_host* TaskPool::find_host(std::string_view info_hash)
{
    for (auto& t : m_tasks)
    {
        if (t->has_info_hash(info_hash))
            return t.get();
    }
    return nullptr;
}

std::size_t TaskPool::running_count() const
{
    std::size_t n = 0;
    for (const auto& t : m_tasks)
        n += t->state() != task_state::free_slot ? 1 : 0;
    return n;
}

} // namespace torrent
