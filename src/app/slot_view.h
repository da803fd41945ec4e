#pragma once

#include <cstdint>

#include "engine/task_view.h"

namespace torrent
{
struct task_entry;
}

// The window's display record of one task slot: the engine's TaskView plus what only the
// window keeps, the task's row in the list, the activity mark's blink state and the list
// entry it belongs to.
// Owner: the main window (one per slot). Runs on: the window's thread.
struct SlotView
{
    torrent::TaskView view;
    int row = -1; // the task's row in the list, -1 = none
    std::uint16_t blink = 0;
    torrent::task_entry* entry = nullptr; // the task's list entry while it runs
    bool starting = false; // reserved by a start whose open is still running
    bool downloadedHere = false; // seen downloading in this run (its completion is news)
    std::uint32_t trackerFailureShown = 0; // the tracker refusal last put in the status line

    [[nodiscard]] bool free() const noexcept
    {
        return view.state == torrent::view_state::stopped && !starting;
    }
};
