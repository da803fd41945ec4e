// A small program around one task of a TaskPool, for script tests and benchmarks: opens a
// torrent, connects to the given peers, and either waits until the download is complete or
// seeds for a while.
//
//   engine_peer_driver --torrent T --save DIR [--connect IP:PORT]... [--port P]
//       [--seed SECONDS] [--until-uploaded BYTES] [--timeout SECONDS] [--select 0,2,...]
//       [--tick-only] [--quiet]
//
// Prints "port N" once listening, then one "done ..." line with the figures. Exit code 0 on
// success, 1 on a timeout, 2 on a failed start.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/data_folder.h"
#include "base/tick.h"
#include "engine/rate_meter.h"
#include "engine/task_pool.h"
#include "engine/task_view.h"
#include "metainfo/torrent_summary.h"
#include "net/local_address.h"
#include "net/peer_connection.h"
#include "storage/selection_record.h"

namespace
{

using namespace torrent;

struct options
{
    std::string torrent;
    std::string save;
    std::vector<std::string> peers;
    std::uint16_t port = 0;
    int seed_seconds = -1; // -1: download until complete
    std::uint64_t until_uploaded = 0;
    int timeout = 600;
    std::string select;
    bool tick_only = false;
    bool quiet = false;
};

bool parse(int argc, char** argv, options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string
        {
            return i + 1 < argc ? argv[++i] : std::string();
        };
        if (a == "--torrent")
            o.torrent = value();
        else if (a == "--save")
            o.save = value();
        else if (a == "--connect")
            o.peers.push_back(value());
        else if (a == "--port")
            o.port = static_cast<std::uint16_t>(std::atoi(value().c_str()));
        else if (a == "--seed")
            o.seed_seconds = std::atoi(value().c_str());
        else if (a == "--until-uploaded")
            o.until_uploaded = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--timeout")
            o.timeout = std::atoi(value().c_str());
        else if (a == "--select")
            o.select = value();
        else if (a == "--tick-only")
            o.tick_only = true;
        else if (a == "--quiet")
            o.quiet = true;
        else
            return false;
    }
    return !o.torrent.empty() && !o.save.empty();
}

// Writes the file choice ("0,2": files 0 and 2 wanted) where the open will find it.
bool write_selection(const options& o, const std::string& data_folder)
{
    torrent_summary summary;
    if (read_torrent_summary(o.torrent, summary) != summary_result::ok)
        return false;
    std::vector<bool> marks(summary.files.size(), false);
    std::size_t start = 0;
    while (start <= o.select.size())
    {
        const std::size_t comma = o.select.find(',', start);
        const std::string item =
            o.select.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto index = static_cast<std::size_t>(std::atoi(item.c_str()));
        if (!item.empty() && index < marks.size())
            marks[index] = true;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    selection_record selection;
    apply_file_choice(selection, marks);
    return WriteStateFile(selection, o.save, summary.name, data_folder);
}

} // namespace

int main(int argc, char** argv)
{
    options o;
    if (!parse(argc, argv, o))
    {
        std::fprintf(stderr, "usage: engine_peer_driver --torrent T --save DIR [--connect IP:PORT]...\n");
        return 2;
    }
    PeerConnection::set_eager_default(!o.tick_only);
    TaskPool pool;
    if (!o.select.empty() && !write_selection(o, data_folder()))
    {
        std::fprintf(stderr, "cannot write the file selection\n");
        return 2;
    }
    RateMeter upload;
    RateMeter download;
    pool.configure_slots(64, upload, download);
    network_options net;
    net.listen_address = 0x7F000001;
    net.max_peers_per_task = 64;
    if (pool.SetPort(o.port, std::move(net)) != set_port_result::started)
    {
        std::fprintf(stderr, "cannot listen\n");
        return 2;
    }
    std::printf("port %u\n", static_cast<unsigned>(pool.port()));
    std::fflush(stdout);

    TaskView view;
    open_task_result opened{};
    Task* task = pool.StartTask(o.torrent, o.save, view, opened);
    if (task == nullptr)
    {
        std::fprintf(stderr, "open failed: %u\n", static_cast<unsigned>(opened));
        return 2;
    }

    const tick_t start = monotonic_ms();
    const tick_t deadline = start + static_cast<tick_t>(o.timeout) * 1000;
    tick_t done_at = 0;
    tick_t next_connect = 0;
    tick_t next_report = start + 1000;
    int code = 1;
    for (;;)
    {
        const tick_t now = monotonic_ms();
        if (now > deadline)
            break;
        if (now >= next_connect)
        {
            // (Re)connect to every given peer that is not connected or being connected to.
            for (const std::string& p : o.peers)
            {
                const auto colon = p.rfind(':');
                PeerEndpoint ep;
                ep.ip = parse_ipv4(p.substr(0, colon));
                ep.port = static_cast<std::uint16_t>(std::atoi(p.c_str() + colon + 1));
                static_cast<void>(task->Connect(ep));
            }
            next_connect = now + 2000;
        }
        const task_state state = task->state();
        if (o.seed_seconds < 0 && state == task_state::complete)
        {
            done_at = now;
            code = 0;
            break;
        }
        if (o.seed_seconds >= 0)
        {
            if (o.until_uploaded != 0 && task->uploaded() >= o.until_uploaded)
            {
                done_at = now;
                code = 0;
                break;
            }
            if (now - start >= static_cast<tick_t>(o.seed_seconds) * 1000)
            {
                done_at = now;
                code = o.until_uploaded == 0 ? 0 : 1;
                break;
            }
        }
        if (state == task_state::checking || state == task_state::free_slot)
        {
            if (task->announcer_ended())
            {
                std::fprintf(stderr, "check failed\n");
                return 2;
            }
        }
        if (!o.quiet && now >= next_report)
        {
            std::fprintf(
                stderr,
                "state %u peers %u held %llu downloaded %llu uploaded %llu\n",
                static_cast<unsigned>(state),
                static_cast<unsigned>(task->connected_count()),
                static_cast<unsigned long long>(task->held()),
                static_cast<unsigned long long>(task->downloaded()),
                static_cast<unsigned long long>(task->uploaded()));
            // Each live connection: record state, receive and send states, choke and
            // interest flags (we choke / peer chokes / we are interested / peer is).
            for (std::size_t i = 0; i < task->record_count(); ++i)
            {
                const PeerRecord& r = task->record(i);
                const PeerConnection* c = r.connection.get();
                if (c == nullptr || r.state.load() == peer_state::gone)
                    continue;
                std::fprintf(
                    stderr,
                    "  peer %zu state %u recv %u send %u choking %d choked %d interested %d/%d out %zu up "
                    "%zu\n",
                    i,
                    static_cast<unsigned>(r.state.load()),
                    static_cast<unsigned>(c->receive_machine()),
                    static_cast<unsigned>(c->send_machine()),
                    c->choking_peer(),
                    c->peer_choking(),
                    c->interested_in_peer(),
                    c->peer_interested(),
                    c->outstanding().size(),
                    c->upload_queue().size());
            }
            next_report = now + 1000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double seconds = static_cast<double>((done_at != 0 ? done_at : monotonic_ms()) - start) / 1000.0;
    const double moved = static_cast<double>(o.seed_seconds < 0 ? task->downloaded() : task->uploaded());
    std::printf(
        "done state=%u held=%llu total=%llu downloaded=%llu uploaded=%llu seconds=%.3f mbps=%.1f\n",
        static_cast<unsigned>(task->state()),
        static_cast<unsigned long long>(task->held()),
        static_cast<unsigned long long>(task->total_length()),
        static_cast<unsigned long long>(task->downloaded()),
        static_cast<unsigned long long>(task->uploaded()),
        seconds,
        seconds > 0 ? moved / seconds / 1e6 : 0.0);
    std::fflush(stdout);
    pool.StopTask(view);
    return code;
}
