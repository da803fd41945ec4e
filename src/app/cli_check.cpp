// zorvik-cli check: a full check of the data of a .torrent on disk, as a task runs it
// before its first announce.
#include "app/cli_check.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/stop_signals.h"
#include "base/event.h"
#include "base/paths.h"
#include "base/text.h"
#include "storage/torrent_manager.h"
#include "ui/result_text.h"

namespace zorvik::cli
{
namespace
{

constexpr int exit_ok = 0;
constexpr int exit_usage = 1;
constexpr int exit_read_error = 7;
constexpr int exit_interrupted = 8;

void usage()
{
    std::fprintf(stderr, "usage: zorvik-cli check [--fast] FILE.torrent SAVE_FOLDER\n");
}

// The path a file is shown under: the torrent name, then its components.
std::string display_path(const torrent::torrent_storage& storage, std::size_t i)
{
    const torrent::file_entry& f = storage.files()[i];
    if (!storage.multi_file())
        return torrent::printable_text(storage.name());
    std::string out = torrent::printable_text(storage.name());
    for (const std::string& c : f.path)
    {
        out += '/';
        out += torrent::printable_text(c);
    }
    return out;
}

bool piece_present(std::span<const std::uint8_t> bitmap, std::uint32_t i)
{
    return (bitmap[i / 8] & (0x80u >> (i % 8))) != 0;
}

void report(const torrent::torrent_storage& storage, std::span<const std::uint8_t> bitmap)
{
    const std::uint32_t n = storage.piece_count();
    std::uint32_t present = 0;
    std::uint64_t bytes = 0;
    for (std::uint32_t i = 0; i < n; ++i)
    {
        if (piece_present(bitmap, i))
        {
            ++present;
            bytes += storage.piece_size(i);
        }
    }
    std::printf("pieces present: %" PRIu32 "/%" PRIu32 "\n", present, n);
    std::printf("bytes present: %" PRIu64 "/%" PRIu64 "\n", bytes, storage.total_size());

    const auto& files = storage.files();
    const auto& on_disk = storage.file_states();
    const std::uint64_t pl = storage.piece_length();
    std::size_t complete = 0;
    std::size_t shown = 0;
    std::vector<std::string> states(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
    {
        const torrent::file_entry& f = files[i];
        if (f.pad)
            continue; // padding is no file of the user's
        ++shown;
        bool ok = true;
        if (f.size > 0)
        {
            const auto first = static_cast<std::uint32_t>(f.offset / pl);
            const auto last = static_cast<std::uint32_t>((f.offset + f.size - 1) / pl);
            for (std::uint32_t p = first; p <= last && ok; ++p)
                ok = piece_present(bitmap, p);
        }
        if (!f.selected)
            states[i] = "unselected";
        else if (on_disk[i].missing)
            states[i] = "missing";
        else if (on_disk[i].disk_length < f.size)
            states[i] = "short (" + std::to_string(on_disk[i].disk_length) + " of " + std::to_string(f.size)
                + " bytes)";
        else if (ok)
            states[i] = "complete";
        else
            states[i] = "incomplete";
        complete += f.selected && ok ? 1 : 0;
    }
    std::printf("files complete: %zu/%zu\n", complete, shown);
    for (std::size_t i = 0; i < files.size(); ++i)
    {
        if (!files[i].pad)
            std::printf("%s: %s\n", states[i].c_str(), display_path(storage, i).c_str());
    }
}

} // namespace

int run_check(std::span<char* const> args)
{
    bool fast = false;
    std::vector<std::string> operands;
    for (const char* a : args)
    {
        const std::string_view arg(a);
        if (arg == "--fast")
            fast = true;
        else if (arg.size() > 1 && arg.front() == '-')
        {
            std::fprintf(stderr, "zorvik-cli check: unknown option '%s'\n", a);
            usage();
            return exit_usage;
        }
        else
            operands.emplace_back(arg);
    }
    if (operands.size() != 2)
    {
        usage();
        return exit_usage;
    }

    // A check reads: it creates, extends and allocates nothing, and keeps its piece-state
    // bitmap in memory.
    torrent::torrent_manager manager;
    std::string info_hash;
    std::vector<std::string> trackers;
    torrent::storage_error why;
    const torrent::add_result added = manager.add_torrent(
        operands[0], operands[1], operands[1], info_hash, trackers, &why, torrent::open_mode::check_only);
    if (added != torrent::add_result::added && added != torrent::add_result::needs_check)
    {
        const std::string text = torrent::result_text(
            static_cast<torrent::open_task_result>(static_cast<std::uint8_t>(added)), why);
        std::fprintf(stderr, "zorvik-cli check: %s\n", torrent::printable_text(text).c_str());
        return static_cast<int>(added);
    }

    const auto data = manager.find_torrent(info_hash);
    torrent::event stop;
    std::int64_t found = 0;
    bool interrupted = false;
    {
        // The check runs beside this thread, which turns SIGINT and SIGTERM into its stop
        // event, so an interrupted check still closes its files.
        torrent::stop_signals stops;
        std::atomic<bool> done{false};
        std::thread check(
            [&]
            {
                // Unpaced, the pieces are hashed on every core (at most four).
                const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
                found = data->check_existing_data({}, stop, fast ? 0 : 100, fast ? cores : 1);
                done.store(true);
                stops.wake();
            });
        while (!done.load())
        {
            if (stops.wait_for(std::chrono::milliseconds{200}))
            {
                interrupted = true;
                stop.set();
                break;
            }
        }
        check.join();
    }
    int status = exit_ok;
    if (found == torrent::check_stopped || interrupted)
    {
        std::fprintf(stderr, "zorvik-cli check: interrupted\n");
        status = exit_interrupted;
    }
    else if (found < 0)
    {
        const torrent::storage_error fault = data->fault();
        const std::string text = fault ? torrent::result_text(fault) : std::string("the data cannot be read");
        std::fprintf(stderr, "zorvik-cli check: %s\n", torrent::printable_text(text).c_str());
        status = exit_read_error;
    }
    else
    {
        const std::lock_guard lock(data->io_mutex());
        report(data->storage(), data->saved_bitmap());
    }
    manager.remove_torrent(info_hash);
    return status;
}

} // namespace zorvik::cli
