// A task pool on its real threads (network, poller, announcers): closing a task from the
// window's thread while the network thread runs its connections, and destroying the pool
// while an announcer waits on name lookups that do not answer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include <gtest/gtest.h>

#include "engine/task_view.h"
#include "scripted_http_server.h"
#include "support/wait_until.h"
#include "tracker/name_lookup.h"
#include "wire_rig.h"

namespace torrent::test
{
namespace
{

using namespace std::chrono_literals;

// A connection to the pool's port from the loopback address `from` (each a host of its own).
unique_fd connect_to(std::uint16_t port, std::uint32_t from)
{
    unique_fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(from);
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0)
        return {};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000001);
    a.sin_port = htons(port);
    if (::connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return {};
    return s;
}

// A pool listening on 127.0.0.1 with its network threads running; its data folder and
// favourites (empty: no default tracker is ever asked) in a temporary folder.
struct threaded_pool
{
    temp_dir dir;
    scoped_env home{"ZORVIK_HOME", dir.path() + "/home/"};
    RateMeter upload;
    RateMeter download;
    std::unique_ptr<TaskPool> pool;

    threaded_pool()
    {
        dir.write("home/trackerFavorite.txt", "");
        pool = std::make_unique<TaskPool>(2);
        pool->set_data_folder(dir.path() + "/home/");
        pool->set_favourites_folder(dir.path() + "/home/");
        pool->configure_slots(8, upload, download);
        network_options net;
        net.listen_address = 0x7F000001;
        EXPECT_EQ(pool->SetPort(0, std::move(net)), set_port_result::started);
    }
};

// The same torrent announcing to `url` (the announce key lies outside the info
// dictionary, so the info-hash stays).
std::string with_announce(const made_torrent& t, const std::string& url)
{
    const std::string old = "30:http://127.0.0.1:6969/announce";
    std::string bytes = t.bytes;
    const std::size_t at = bytes.find(old);
    EXPECT_NE(at, std::string::npos);
    bytes.replace(at, old.size(), std::to_string(url.size()) + ":" + url);
    return bytes;
}

TEST(TaskPoolThreads, ClosingFromTheWindowThreadWhileTheNetworkThreadRunsConnections)
{
    threaded_pool p;
    const made_torrent t = make_single_file("payload.bin", pattern_bytes(4 * 16384, 3), 16384);
    stub_announcer announcer;
    open_task_result result{};
    Task* task = p.pool->OpenTask(announcer, p.dir.write("t.torrent", t.bytes), p.dir / "save", result);
    ASSERT_NE(task, nullptr);
    std::vector<unique_fd> peers;
    for (int i = 1; i <= 3; ++i)
    {
        unique_fd s = connect_to(p.pool->port(), 0x7F000001 + static_cast<std::uint32_t>(i));
        ASSERT_TRUE(s);
        const std::string hs = handshake_text(t.info_hash, other_id(i));
        ASSERT_EQ(::send(s.get(), hs.data(), hs.size(), MSG_NOSIGNAL), static_cast<ssize_t>(hs.size()));
        peers.push_back(std::move(s));
    }
    // An outgoing connection too: the peer takes it and reads our handshake, and says nothing.
    unique_fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000005); // a host of its own
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    PeerEndpoint ep;
    ep.ip = 0x7F000005;
    ep.port = ntohs(a.sin_port);
    ASSERT_EQ(task->Connect(ep), connect_answer::connected);
    unique_fd outgoing(::accept(listener.get(), nullptr, nullptr));
    ASSERT_TRUE(outgoing);
    std::string got;
    ASSERT_TRUE(test::wait_until(
        [&]
        {
            char buf[128];
            const ssize_t n = ::recv(outgoing.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
            return got.size() >= 68;
        }));
    peers.push_back(std::move(outgoing));

    // The network thread made and attached each record's connection.
    ASSERT_TRUE(test::wait_until([&] { return task->connected_count() == 4; }));
    task->Close();
    EXPECT_EQ(task->connected_count(), 0);
    EXPECT_EQ(task->state(), task_state::free_slot);
    for (const unique_fd& s : peers)
    {
        char c = 0;
        EXPECT_TRUE(test::wait_until(
            [&]
            {
                const ssize_t n = ::recv(s.get(), &c, 1, MSG_DONTWAIT);
                return n == 0 || (n < 0 && errno != EAGAIN);
            }))
            << "a connection stayed open after Close";
    }
}

// A resolver stand-in that blocks until released.
struct stuck_resolver
{
    std::mutex mutex;
    std::condition_variable cond;
    bool released = false;
    std::atomic<int> lookups{0};

    host_resolver get()
    {
        return [this](const std::string&)
        {
            ++lookups;
            std::unique_lock lock(mutex);
            cond.wait(lock, [this] { return released; });
            return std::uint32_t{0x0A000009};
        };
    }

    ~stuck_resolver()
    {
        {
            const std::lock_guard lock(mutex);
            released = true;
        }
        cond.notify_all();
        for (int i = 0; i < 500 && lookup_helpers_running() != 0; ++i)
            std::this_thread::sleep_for(10ms);
    }
};

TEST(TaskPoolThreads, DestroyingThePoolDuringSlowNameLookupsWaitsForTheAnnouncerAndIsQuick)
{
    stuck_resolver stuck;
    std::string peers = "l";
    for (int i = 0; i < 10; ++i)
    {
        const std::string name = "peer" + std::to_string(i) + ".example";
        peers += "d2:ip" + std::to_string(name.size()) + ":" + name + "4:porti6881ee";
    }
    peers += "e";
    scripted_http_server tracker([&](const http_request&)
                                 { return make_reply(200, "OK", "d8:intervali1800e5:peers" + peers + "e"); });
    TaskView view; // outlives the pool, as the window's views do
    {
        threaded_pool p;
        p.pool->set_host_resolver(stuck.get());
        const made_torrent t = make_single_file("payload.bin", pattern_bytes(4 * 16384, 4), 16384);
        open_task_result result{};
        Task* task = p.pool->StartTask(
            p.dir.write("t.torrent", with_announce(t, tracker.url("/announce"))),
            p.dir / "save",
            view,
            result);
        ASSERT_NE(task, nullptr) << static_cast<int>(result);
        ASSERT_TRUE(test::wait_until([&] { return stuck.lookups.load() >= 1; }));
        EXPECT_EQ(p.pool->workers().live(), 1U);
        const auto start = std::chrono::steady_clock::now();
        p.pool.reset(); // the task is still running; its announcer sits in a lookup
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    EXPECT_EQ(stuck.lookups.load(), 1);
    const auto requests = tracker.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_NE(requests[1].target.find("&event=stopped"), std::string::npos);
}

} // namespace
} // namespace torrent::test
