#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/event.h"
#include "base/tick.h"
#include "engine/view_state.h"
#include "net/peer_state.h"

namespace torrent
{

class Task;
struct PeerRecord;

// Change flags of a TaskView: which figures changed since the window last drew them.
namespace view_flag
{
inline constexpr std::uint16_t uploaded = 0x02;
inline constexpr std::uint16_t held = 0x04;
inline constexpr std::uint16_t state = 0x08;
inline constexpr std::uint16_t upload_rate = 0x10;
inline constexpr std::uint16_t download_rate = 0x20;
inline constexpr std::uint16_t peer_count = 0x40;
inline constexpr std::uint16_t tracker_failure = 0x100;
inline constexpr std::uint16_t all = 0xFFFF;
} // namespace view_flag

// Change flags of a PeerView.
namespace peer_view_flag
{
inline constexpr std::uint16_t identity = 0x001;
inline constexpr std::uint16_t uploaded = 0x002;
inline constexpr std::uint16_t downloaded = 0x004;
inline constexpr std::uint16_t state = 0x008;
inline constexpr std::uint16_t upload_rate = 0x010;
inline constexpr std::uint16_t download_rate = 0x020;
inline constexpr std::uint16_t pieces = 0x080;
inline constexpr std::uint16_t client = 0x100;
inline constexpr std::uint16_t row_exists = 0x1000;
} // namespace peer_view_flag

// What the window shows of one peer record of a task.
struct PeerView
{
    const PeerRecord* record = nullptr;
    tick_t taken_at = 0; // identity of the record's current use
    std::string client;
    bool outgoing = false;
    std::uint32_t ip = 0; // host order
    std::uint16_t port = 0;
    std::uint64_t uploaded = 0;
    std::uint64_t downloaded = 0;
    std::uint64_t upload_rate = 0; // bytes per second
    std::uint64_t download_rate = 0;
    std::uint32_t pieces_owned = 0;
    peer_state state = peer_state::gone;
    std::uint16_t flags = 0;
};

// A front end's display record of one task slot: a plain copy of the task's identity,
// counters and peers, refreshed by the front end's timer (at most once a second) without
// taking the engine's locks for the counters. It also owns the task's stop event.
// Owner: the main window or zorvik-cli get's session (one per task slot). Runs on: its
// owner's thread.
struct TaskView
{
    Task* task = nullptr; // none while no task is bound
    std::uint64_t generation = 0; // the task's generation when it was bound
    std::string name;
    std::string save_folder;
    std::string torrent_path;
    std::string info_hash;
    std::uint32_t piece_length = 0;
    std::uint64_t total = 0;
    std::uint64_t held = 0;
    std::uint64_t uploaded = 0;
    std::uint64_t downloaded = 0;
    view_state state = view_state::stopped;
    bool announcer_ended = false;
    std::uint16_t peer_count = 0;
    std::uint16_t slot_count = 0;
    std::uint64_t download_rate = 0; // bytes per second
    std::uint64_t upload_rate = 0;
    std::uint16_t flags = 0;
    tick_t last_refresh = 0;
    std::uint32_t elapsed_seconds = 0; // whole seconds between the last two refreshes
    tick_t upload_started = 0; // 0 = not uploading yet
    std::size_t tracker_peers = 0;
    // The last refusal by a tracker: its URL and its own reason (safe to show; both empty
    // when none or once the tracker accepted again). The serial tells a copy from the next.
    std::string tracker_failure_url;
    std::string tracker_failure;
    std::uint32_t tracker_failure_serial = 0;
    event stop; // signalled to stop the task; resets itself when a wait consumes it
    std::vector<PeerView> peers; // one per peer record of the task

    TaskView() = default;
    TaskView(const TaskView&) = delete;
    TaskView& operator=(const TaskView&) = delete;
};

} // namespace torrent
