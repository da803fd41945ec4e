#pragma once

#include <cstdint>
#include <ostream>

#include "net/task_state.h"

namespace torrent
{

// What the window shows a task as: the task's own states 0..2, then the window's.
enum class view_state : std::uint8_t
{
    downloading = 0,
    uploading = 1,
    checking = 2,
    announcer_ended = 3, // the announcer ended (or the slot was freed) while the task ran
    upload_over = 4, // the upload time is over
    stopped = 5, // stopped by the user; no task bound
};

// The view state that stands for a task state (a freed slot shows as ended).
[[nodiscard]] constexpr view_state view_state_of(task_state s) noexcept
{
    return static_cast<view_state>(static_cast<std::uint8_t>(s));
}

inline void PrintTo(view_state s, std::ostream* os)
{
    *os << "view_state(" << static_cast<unsigned>(s) << ')';
}

} // namespace torrent
