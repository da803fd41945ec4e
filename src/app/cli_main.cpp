// zorvik-cli: the command-line front end. Each command lives in a file cli_<name>.cpp.
#include <csignal>
#include <cstdio>
#include <span>
#include <string_view>

#include "app/cli_check.h"
#include "app/cli_commands.h"
#include "app/cli_get.h"
#include "app/cli_info.h"
#include "base/file_limit.h"

namespace zorvik::cli
{
namespace
{

// The commands, in the order --help lists them.
constexpr command commands[] = {
    {"help", "zorvik-cli --help", "show this text", nullptr},
    {"info", "zorvik-cli info FILE.torrent", "show the name, info-hash, pieces, files, trackers", run_info},
    {"check",
     "zorvik-cli check [--fast] FILE.torrent SAVE_FOLDER",
     "hash the data on disk: pieces, bytes, files present",
     run_check},
    {"get",
     "zorvik-cli get FILE.torrent... [SAVE_FOLDER] [opts]",
     "download, then seed (get --help: options)",
     run_get},
};

void print_usage(std::FILE* out)
{
    std::fprintf(out, "zorvik-cli: the Zorvik BitTorrent client from the command line\n\nUsage:\n");
    for (const command& c : commands)
        std::fprintf(
            out,
            "  %-52.*s %.*s\n",
            static_cast<int>(c.usage.size()),
            c.usage.data(),
            static_cast<int>(c.summary.size()),
            c.summary.data());
}

} // namespace
} // namespace zorvik::cli

int main(int argc, char** argv)
{
    using namespace zorvik::cli;
    // Every file of a running torrent is held open.
    static_cast<void>(torrent::raise_open_file_limit());
    // A file size limit (ulimit -f) makes sizing a file fail with EFBIG, which the open
    // reports, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::span<char* const> args(argv, static_cast<std::size_t>(argc));
    if (args.size() < 2)
    {
        print_usage(stderr);
        return 1;
    }
    const std::string_view name = args[1];
    if (name == "--help" || name == "-h" || name == "help")
    {
        print_usage(stdout);
        return 0;
    }
    for (const command& c : commands)
    {
        if (c.name == name && c.run != nullptr)
            return c.run(args.subspan(2));
    }
    std::fprintf(
        stderr,
        "zorvik-cli: unknown command '%.*s' (see zorvik-cli --help)\n",
        static_cast<int>(name.size()),
        name.data());
    return 1;
}
