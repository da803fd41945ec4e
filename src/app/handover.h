#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace torrent
{

// The hand-over between copies of the program: every running copy listens on its own
// AF_UNIX stream socket "copy-<pid>" in a folder of the user's own; a second copy connects
// to the oldest live one and sends frames. A frame is a type byte, a text and a NUL:
//   'L' line: a command line; the running copy answers one byte 'A' once it has taken it;
//   'S' show: show and restore the window, as a left click on the tray icon does;
//   'F' foreground: bring the window to the front (a copy that starts beside it).
// Both ends check that the other end runs as the same user (SO_PEERCRED).
namespace handover
{
inline constexpr char line_frame = 'L';
inline constexpr char show_frame = 'S';
inline constexpr char foreground_frame = 'F';
inline constexpr char acknowledgement = 'A';
// A frame longer than this is refused (the connection is closed).
inline constexpr std::size_t max_frame = 64 * 1024;
// How long a second copy waits for the running copy (connect, send, acknowledgement).
inline constexpr int wait_limit_ms = 10000;
} // namespace handover

struct socket_folder
{
    std::string path; // ends in '/'; empty when no usable folder exists
    std::string error; // why not, in a few words
};

// $XDG_RUNTIME_DIR/zorvik/ (or /tmp/zorvik-<uid>/ without a runtime folder), created with
// mode 0700 when missing. A folder that is a symbolic link, is not owned by this user or
// does not have exactly mode 0700 is never used.
[[nodiscard]] socket_folder prepare_socket_folder();
// The same below a given parent (tests).
[[nodiscard]] socket_folder prepare_socket_folder_in(const std::string& parent, const std::string& name);

// The listening socket of this copy. Its file is removed when the object goes.
class handover_listener
{
public:
    handover_listener() = default;
    // Binds folder + "copy-<pid>" (replacing a stale file of that name); empty on failure.
    [[nodiscard]] static handover_listener open(const std::string& folder);
    ~handover_listener();
    handover_listener(handover_listener&& other) noexcept;
    handover_listener& operator=(handover_listener&& other) noexcept;
    handover_listener(const handover_listener&) = delete;
    handover_listener& operator=(const handover_listener&) = delete;

    [[nodiscard]] bool valid() const noexcept { return m_fd.valid(); }

    [[nodiscard]] int fd() const noexcept { return m_fd.get(); }

    [[nodiscard]] const std::string& path() const noexcept { return m_path; }

    // The next waiting connection of this user (non-blocking); connections of another user
    // are closed unanswered. Empty when nobody waits.
    [[nodiscard]] unique_fd accept_same_user();

private:
    unique_fd m_fd;
    std::string m_path;
};

// Collects the bytes of one connection into frames.
class handover_reader
{
public:
    struct frame
    {
        char type = 0;
        std::string text;
    };

    // Adds received bytes; false when the connection must be closed (an over-long frame).
    bool feed(std::string_view bytes);
    // The next complete frame, oldest first.
    [[nodiscard]] std::optional<frame> next();

private:
    std::string m_buffer;
};

enum class handover_status : std::uint8_t
{
    no_copy = 0, // no live copy of this user listens
    delivered = 1, // the running copy took the line
    timed_out = 2, // it did not answer within the wait limit
    failed = 3, // the connection broke off
};

// The oldest live copy's socket, connected (blocking, with a send and receive time-out).
// Socket files nobody listens on any more are removed. Empty when there is none.
[[nodiscard]] unique_fd connect_running_copy(const std::string& folder);

// Sends a frame; true when it went out whole within the time-out.
bool send_frame(int fd, char type, std::string_view text);

// Sends a command line and waits, up to `wait_ms` in all, for the acknowledgement; then
// asks the copy to show itself.
[[nodiscard]] handover_status
hand_over_line(int fd, std::string_view line, int wait_ms = handover::wait_limit_ms);

// The uid of the process at the other end of a connected AF_UNIX socket, or -1.
[[nodiscard]] long peer_uid(int fd) noexcept;

} // namespace torrent
