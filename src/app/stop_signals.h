#pragma once

#include <chrono>
#include <csignal>

#include "base/unique_fd.h"

namespace torrent
{

// SIGINT and SIGTERM (Ctrl-C in a terminal, a session that logs out, `kill`) as a
// descriptor that becomes readable: the handler only writes a byte to a pipe and the
// owner's loop takes it (a timed wait, a Qt socket notifier). The signals are never
// blocked, so a program started from here (the file manager) gets them as usual. Also a
// signal the parent set to be ignored is taken: a script stops its background zorvik-cli
// with `kill -INT` (the shell starts background jobs with SIGINT ignored). One object at a
// time in a process; the earlier handlers come back when it goes.
//
// Owner: the entry function of a front end. Runs on: the owner's thread; wake() from any
// thread, the handler on whichever thread the kernel picks.
class stop_signals
{
public:
    stop_signals();
    ~stop_signals();
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;

    // Readable once a stop signal or a wake() came (-1 when no pipe could be made: then
    // no handler is installed and the signals keep their earlier action).
    [[nodiscard]] int fd() const noexcept { return m_read.get(); }

    // Waits up to `limit` (0: only a look) for a stop signal or a wake(); true when a stop
    // signal has come, now or in an earlier wait.
    [[nodiscard]] bool wait_for(std::chrono::milliseconds limit);

    // Ends a wait_for in progress (the work it waited beside is done).
    void wake() noexcept;

    [[nodiscard]] bool came() const noexcept { return m_came; }

private:
    static constexpr int watched[] = {SIGINT, SIGTERM};

    unique_fd m_read;
    unique_fd m_write;
    struct sigaction m_earlier[2]{};
    bool m_installed[2] = {false, false};
    bool m_came = false;
};

} // namespace torrent
