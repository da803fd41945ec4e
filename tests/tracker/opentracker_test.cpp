// The announcer against a real tracker (opentracker), run by the test inside its private
// network namespace on 127.0.0.1.
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "announcer_rig.h"
#include "base/paths.h"
#include "base/unique_fd.h"
#include "private_network.h"
#include "tracker/announce_request.h"
#include "tracker/announce_response.h"
#include "tracker/http_fetcher.h"

namespace torrent
{
namespace
{

constexpr const char* opentracker_path = "/usr/bin/opentracker";
constexpr std::uint16_t tracker_port = 16969;

bool accepts_connections(std::uint16_t port)
{
    const unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return fd && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

// opentracker as a child process, ended (by its pid) when the object goes.
class opentracker_process
{
public:
    // The tracker serves only the torrents listed in `folder`/whitelist (as the packaged
    // build requires) and runs chrooted there.
    explicit opentracker_process(const std::string& folder)
    {
        const std::string port = std::to_string(tracker_port);
        m_pid = ::fork();
        if (m_pid == 0)
        {
            if (::chdir(folder.c_str()) == 0)
                ::execl(
                    opentracker_path,
                    opentracker_path,
                    "-i",
                    "127.0.0.1",
                    "-p",
                    port.c_str(),
                    "-P",
                    port.c_str(),
                    "-d",
                    folder.c_str(),
                    "-w",
                    "whitelist",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    ~opentracker_process()
    {
        if (m_pid > 0)
        {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    opentracker_process(const opentracker_process&) = delete;
    opentracker_process& operator=(const opentracker_process&) = delete;

    [[nodiscard]] bool ready() const
    {
        for (int i = 0; i < 100 && m_pid > 0; ++i)
        {
            if (accepts_connections(tracker_port))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    pid_t m_pid = -1;
};

TEST(Opentracker, AnnouncerLearnsAnotherPeerAndLeavesCleanly)
{
    if (!test::in_private_network() || !is_regular_file(opentracker_path))
        GTEST_SKIP() << "needs opentracker and a private network namespace";
    test::temp_dir folder;
    folder.write("whitelist", std::string(test::fake_task::hash_text) + "\n");
    ::chmod(folder.path().c_str(), 0755); // the tracker drops its privileges before reading it
    opentracker_process tracker(folder.path());
    ASSERT_TRUE(tracker.ready());
    const std::string announce_url = "http://127.0.0.1:" + std::to_string(tracker_port) + "/announce";

    // Another peer joins the swarm first, by hand.
    announce_values other;
    other.tracker_url = announce_url;
    ASSERT_TRUE(decode_info_hash(test::fake_task::hash_text, other.info_hash));
    other.peer_id = "-XX0001-otherpeer001";
    other.port = 7001;
    other.left = 1000;
    other.ip_text = "127.0.0.1";
    other.event = announce_event::started;
    HttpFetcher hand;
    ASSERT_TRUE(hand.SetUrl(format_announce_url(other)));
    ASSERT_TRUE(hand.Fetch());
    ASSERT_TRUE(hand.HasBody());
    const announce_answer first = decode_announce_response(*hand.Body(), announce_self{}, {});
    EXPECT_EQ(first.outcome, announce_outcome::ok);

    // Our announcer announces as 127.0.0.1:7002 and is told about the other peer.
    test::announcer_rig rig;
    rig.external.set_external(7002, "127.0.0.1");
    auto announcer = rig.make({announce_url});
    rig.clock.stop_at(1000 + 10000);
    announcer->Run();
    const auto connects = rig.task.connects();
    ASSERT_EQ(connects.size(), 1U);
    EXPECT_EQ(connects[0].endpoint.ip, 0x7F000001U);
    EXPECT_EQ(connects[0].endpoint.port, 7001);
    EXPECT_EQ(announcer->trackers().entries().front().state, tracker_state::stopped);

    // Our "stopped" took us out of the swarm: the other peer no longer sees us (this tracker
    // lists the asking peer itself, so only our entry is looked for).
    other.event = announce_event::none;
    hand.Reset();
    ASSERT_TRUE(hand.SetUrl(format_announce_url(other)));
    ASSERT_TRUE(hand.Fetch());
    const announce_answer after = decode_announce_response(*hand.Body(), announce_self{}, {});
    EXPECT_EQ(after.outcome, announce_outcome::ok);
    for (const announced_peer& p : after.peers)
        EXPECT_NE(p.key, plain_candidate_key(0x7F000001U, 7002));
    EXPECT_EQ(after.peers.size(), 1U);
}

} // namespace
} // namespace torrent
