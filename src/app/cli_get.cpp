// zorvik-cli get: the engine without a window, for scripts, servers and the swarm tests.
#include "app/cli_get.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/cli_get_options.h"
#include "app/cli_get_progress.h"
#include "app/headless_session.h"
#include "app/stop_signals.h"

namespace zorvik::cli
{
namespace
{

// The main loop's turn: short enough that the end of a download (-ut0 ends the program
// there) is seen at once, long enough to cost nothing (a turn copies a few counters; a
// stop signal ends the turn at once). 200 ms added 100 ms on average to every download's
// time.
constexpr std::chrono::milliseconds turn{20};

void usage(std::FILE* out)
{
    std::fprintf(
        out,
        "usage: zorvik-cli get FILE.torrent... [SAVE_FOLDER] [options]\n"
        "  SAVE_FOLDER        where the content goes (default: the current folder)\n"
        "  -usN               upload limit N KB/s (1..1000000; other values: no limit; default 30)\n"
        "  -dsN               download limit N KB/s (default: no limit)\n"
        "  -utN               seed N minutes after completion, then end (default 30; -ut0 ends at once)\n"
        "  -portN             first listening port tried (default: random in 5000..64999)\n"
        "  -pcN               peer connections per torrent (5..255, default 64)\n"
        "  -noupnp            no router port mapping\n"
        "  --peer IP:PORT     also connect to this peer (repeatable)\n"
        "Ctrl-C (SIGINT) or SIGTERM stops every torrent with a last announce and ends.\n");
}

} // namespace

int run_get(std::span<char* const> args)
{
    std::vector<std::string> words(args.begin(), args.end());
    const get_arguments parsed = parse_get_arguments(words, torrent::system_random_source());
    if (parsed.help)
    {
        usage(stdout);
        return get_exit::ok;
    }
    if (!parsed.ok)
    {
        std::fprintf(stderr, "zorvik-cli get: %s\n", parsed.error.c_str());
        usage(stderr);
        return get_exit::usage;
    }

    std::signal(SIGPIPE, SIG_IGN);
    torrent::stop_signals stops;
    progress_printer out(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    headless_session session(parsed.options, out);
    if (const int status = session.start(); status != get_exit::ok)
        return status;
    while (!session.finished())
    {
        if (stops.wait_for(turn))
        {
            out.message("zorvik-cli get: stopping");
            session.stop(true);
            break;
        }
        session.step();
    }
    session.stop(false);
    return session.exit_status();
}

} // namespace zorvik::cli
