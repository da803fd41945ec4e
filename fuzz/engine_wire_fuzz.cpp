// Peer wire bytes into a real PeerConnection of a seeding task: the first half of the input
// arrives together with the handshake (as an incoming peer's first read), the rest over the
// socket; the loop runs with a moving manual clock; then the peer goes away. Whatever the
// bytes, nothing may crash, and the task must have no connection left afterwards.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "base/tick.h"
#include "engine/rate_meter.h"
#include "engine/task_announcer.h"
#include "engine/task_pool.h"
#include "metainfo/sha1.h"
#include "net/bittorrent_recognizer.h"
#include "net/connection_record.h"
#include "net/event_loop.h"
#include "net/peer_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

using namespace torrent;

class quiet_announcer final : public task_announcer
{
public:
    void bind_task(announce_sink&, std::span<const std::string>, bool) override {}

    void set_check_first(bool) override {}
};

void write_file(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// One seeding task (three 16 KiB pieces and a short one) on a loop this thread drives.
struct fixture
{
    fixture()
    {
        char pattern[] = "/tmp/zorvik-wire-fuzz-XXXXXX";
        dir = ::mkdtemp(pattern);
        ::setenv("ZORVIK_HOME", (dir + "/home/").c_str(), 1);
        std::string payload(3 * 16384 + 100, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>(i * 131 + i / 7);
        std::string pieces;
        for (std::size_t at = 0; at < payload.size(); at += 16384)
        {
            const sha1_digest d = sha1(std::string_view(payload).substr(at, 16384), 5);
            pieces.append(reinterpret_cast<const char*>(d.data()), d.size());
        }
        const std::string info = "d6:lengthi" + std::to_string(payload.size())
            + "e4:name5:f.bin12:piece lengthi16384e6:pieces" + std::to_string(pieces.size()) + ":" + pieces
            + "e";
        hash = digest_to_hex(sha1(info, 5));
        write_file(dir + "/t.torrent", "d8:announce22:http://127.0.0.1:1/ann4:info" + info + "e");
        write_file(dir + "/save/f.bin", payload);
        write_file(dir + "/home/" + hash, std::string("\xf0", 1)); // every piece present

        pool = std::make_unique<TaskPool>(1);
        pool->set_data_folder(dir + "/home/");
        pool->configure_slots(2, upload, download);
        task_network net;
        net.loop = &loop;
        net.own_peer_id = "ZRV\x05\xff\xff\x0a\xde\xb2"
                          "ABCDEFGHIJK";
        net.time = &clock;
        pool->use_network(net);
        quiet_announcer announcer;
        open_task_result result{};
        task = pool->OpenTask(announcer, dir + "/t.torrent", dir + "/save", result);
        if (task == nullptr)
            std::abort();
    }

    ~fixture()
    {
        pool.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    fixture(const fixture&) = delete;
    fixture& operator=(const fixture&) = delete;

    void pump()
    {
        for (int i = 0; i < 6; ++i)
            loop.run_once(0);
    }

    std::string dir;
    std::string hash;
    manual_clock clock{1000};
    event_loop loop{clock, event_loop::options{false}};
    RateMeter upload;
    RateMeter download;
    std::unique_ptr<TaskPool> pool;
    Task* task = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fixture f;
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    unique_fd ours(fds[0]);
    unique_fd theirs(fds[1]);

    // The handshake, and the first half of the input read along with it.
    std::string first(wire::handshake_size, '\0');
    wire::write_handshake(
        std::span<std::byte, wire::handshake_size>(
            reinterpret_cast<std::byte*>(first.data()), wire::handshake_size),
        wire::hash_bytes_of(f.hash),
        "-XX0001-fuzzfuzzfuzz");
    const std::size_t half = size / 2;
    first.append(reinterpret_cast<const char*>(data), half);
    ConnectionRecord record;
    record.endpoint.ip = 0x7F000001;
    record.endpoint.port = 6881;
    record.live = 1;
    record.socket = std::move(ours);
    BitTorrentRecognizer recognizer(*f.pool);
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(first.data()), first.size());
    if (recognizer.recognize(bytes, record, 0, 0) != recognize_result::taken)
        std::abort();

    // The rest over the socket, in pieces, with time moving (ticks, keep-alives, resumes).
    std::size_t at = half;
    while (at < size)
    {
        const std::size_t n = std::min<std::size_t>(size - at, 4096);
        if (::send(theirs.get(), data + at, n, MSG_NOSIGNAL | MSG_DONTWAIT) <= 0)
            break;
        at += n;
        f.pump();
        f.clock.advance(event_loop::tick_period_ms);
        f.loop.tick();
    }
    for (int i = 0; i < 8; ++i)
    {
        f.pump();
        f.clock.advance(event_loop::tick_period_ms);
        f.loop.tick();
        char sink[65536];
        while (::recv(theirs.get(), sink, sizeof sink, MSG_DONTWAIT) > 0)
        {
        }
    }
    theirs.reset();
    // One message per readable event: what is still unread takes a turn each, then the
    // connection sees the end of the stream. (Far more turns than any input has messages.)
    for (int turn = 0; turn < 20000 && f.task->connected_count() != 0; ++turn)
        f.loop.run_once(0);
    if (f.task->connected_count() != 0)
        std::abort(); // a connection outlived its peer
    return 0;
}
