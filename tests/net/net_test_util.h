#pragma once

#include <functional>
#include <sys/socket.h>
#include <utility>

#include "base/unique_fd.h"
#include "net/event_loop.h"
#include "net/net_handler.h"
#include "support/process_env.h"

namespace torrent::test
{

// Two connected non-blocking AF_UNIX stream sockets.
std::pair<unique_fd, unique_fd> socket_pair();

// Two connected non-blocking TCP sockets on 127.0.0.1 (first = connecting side).
std::pair<unique_fd, unique_fd> loopback_tcp_pair();

// Writes into `fd` until the kernel refuses more; returns the bytes written.
std::size_t fill_until_blocked(int fd);

// Reads and discards everything `fd` has ready; returns the bytes read.
std::size_t drain_fd(int fd);

// Runs the loop until `done` holds or `turns` steps pass (no sleeping: a 0 ms wait, or
// the given wait per step).
bool run_until(event_loop& loop, const std::function<bool()>& done, int turns = 100, int wait_ms = 0);

// A handler that counts what it hears and runs optional actions.
class recording_handler : public NetHandler
{
public:
    using NetHandler::NetHandler;

    int on_closed(int error) override
    {
        ++closed;
        close_error = error;
        if (closed_action)
            closed_action();
        return 7;
    }

    void on_readable(int) override
    {
        ++readable;
        if (read_action)
            read_action();
    }

    void on_writable(int) override
    {
        ++writable;
        if (write_action)
            write_action();
    }

    void on_tick() override
    {
        ++ticks;
        if (tick_action)
            tick_action();
    }

    int closed = 0;
    int close_error = -1;
    int readable = 0;
    int writable = 0;
    int ticks = 0;
    std::function<void()> closed_action;
    std::function<void()> read_action;
    std::function<void()> write_action;
    std::function<void()> tick_action;
};

} // namespace torrent::test
