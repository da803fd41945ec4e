// Task slots: outgoing connects and their refusals, peer records, peer ids and addresses,
// closing, and the display copy.
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "engine/task_view.h"
#include "net/connect_completion_peer.h"
#include "net/connection_poller.h"
#include "net/outgoing_connect.h"
#include "net/peer_listener.h"
#include "wire_rig.h"

namespace torrent::test
{
namespace
{

// A TCP socket bound to 127.0.0.1 on a port the system picks; `port` receives the port.
unique_fd bound_loopback(std::uint16_t& port)
{
    unique_fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000001);
    socklen_t n = sizeof a;
    ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    return s;
}

// A loopback port nobody listens on: a connect to it is refused at once.
std::uint16_t closed_port()
{
    std::uint16_t port = 0;
    bound_loopback(port);
    return port;
}

// A loopback listener that never accepts (connects to it complete in the kernel).
unique_fd listening(std::uint16_t& port, int backlog = 8)
{
    unique_fd s = bound_loopback(port);
    ::listen(s.get(), backlog);
    return s;
}

// A loopback listener whose accept queue is full: connects to it neither complete nor fail
// (their SYNs are dropped) until their deadline.
struct hanging_listener
{
    hanging_listener()
    {
        listener = listening(port, 0);
        filler.reset(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7F000001);
        a.sin_port = htons(port);
        ::connect(filler.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    std::uint16_t port = 0;
    unique_fd listener;
    unique_fd filler;
};

// An endpoint on a loopback address of its own (127.0.x.y from the port): a task takes one
// connection per address.
PeerEndpoint endpoint(std::uint16_t port)
{
    PeerEndpoint ep;
    ep.ip = 0x7F000000 + port;
    ep.port = port;
    return ep;
}

// An endpoint on 127.0.0.1, where the test's listeners are.
PeerEndpoint local_endpoint(std::uint16_t port)
{
    PeerEndpoint ep = endpoint(port);
    ep.ip = 0x7F000001;
    return ep;
}

// Connects the task to the endpoint and answers the record the connect took, or null.
PeerRecord* connect_record(Task& task, PeerEndpoint& ep)
{
    if (task.Connect(ep) != connect_answer::connected)
        return nullptr;
    for (std::size_t i = 0; i < task.record_count(); ++i)
    {
        PeerRecord& r = task.record(i);
        if (r.state.load() != peer_state::gone && r.endpoint.ip == ep.ip && r.endpoint.port == ep.port)
            return &r;
    }
    return nullptr;
}

// A rig whose tasks queue outgoing connects on a poller the test drives.
struct connect_rig
{
    explicit connect_rig(std::uint16_t peers_per_task, int max_peers_for_limit = 64)
        : rig(rig_options{.peers_per_task = peers_per_task})
    {
        limit.reset(max_peers_for_limit);
        task_network net;
        net.loop = &rig.loop;
        net.poller = &poller;
        net.connect_limit = &limit;
        net.own_peer_id = std::string(wire_rig::own_id);
        net.time = &rig.clock;
        rig.pool->use_network(net);
    }

    wire_rig rig;
    PeerConnectCompletion completion;
    ConnectionPoller poller{rig.clock, &completion, 0x7F000001};
    pending_connect_limit limit;
};

TEST(TaskConnect, EveryRecordInUseGivesNoReason)
{
    connect_rig r(2);
    Task& task = *r.rig.task;
    PeerEndpoint a = endpoint(1001), b = endpoint(1002), c = endpoint(1003);
    EXPECT_EQ(task.Connect(a), connect_answer::connected);
    EXPECT_EQ(task.Connect(b), connect_answer::connected);
    EXPECT_EQ(task.Connect(c), connect_answer::full);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(task.connected_count(), 2);
    EXPECT_EQ(r.poller.pending_count(), 2u);
}

TEST(TaskConnect, RefusalsCarryTheirReason)
{
    connect_rig r(10, 3); // pending-connect limit 2
    Task& task = *r.rig.task;
    PeerEndpoint a = endpoint(1001), again = endpoint(1001), b = endpoint(1002), c = endpoint(1003);
    ASSERT_EQ(task.Connect(a), connect_answer::connected);
    EXPECT_EQ(task.Connect(again), connect_answer::known);
    EXPECT_EQ(again.result, 7); // address already known
    ASSERT_EQ(task.Connect(b), connect_answer::connected);
    EXPECT_EQ(task.Connect(c), connect_answer::refused);
    EXPECT_EQ(c.result, 6); // two connects wait: the limit is reached
    EXPECT_EQ(task.record(1).state.load(), peer_state::queued);
    EXPECT_TRUE(task.record(1).outgoing.load());
}

TEST(TaskConnect, FailedConnectFreesItsRecordAndForgetsTheAddress)
{
    connect_rig r(4);
    Task& task = *r.rig.task;
    PeerEndpoint a = endpoint(closed_port());
    PeerRecord* record = connect_record(task, a);
    ASSERT_NE(record, nullptr);
    for (int i = 0; i < 50 && task.connected_count() != 0; ++i)
        r.poller.run_once(10);
    EXPECT_EQ(task.connected_count(), 0);
    EXPECT_EQ(record->state.load(), peer_state::gone);
    PeerEndpoint again = a;
    again.result = 0;
    EXPECT_EQ(task.Connect(again), connect_answer::connected);
}

TEST(TaskConnect, StaleFailureAfterCloseLeavesTheNextTorrentsRecordAlone)
{
    connect_rig r(1); // one record: the new connect gets the same one
    Task& task = *r.rig.task;
    const hanging_listener hanging;
    PeerEndpoint a = local_endpoint(hanging.port);
    ASSERT_EQ(task.Connect(a), connect_answer::connected);
    r.poller.run_once(0); // the connect is under way when the task closes
    task.Close();
    Task* reopened = r.rig.open(r.rig.torrent, "again.torrent");
    ASSERT_EQ(reopened, &task);
    std::uint16_t port = 0;
    const unique_fd listener = listening(port);
    PeerEndpoint b = local_endpoint(port);
    PeerRecord* record = connect_record(task, b);
    ASSERT_NE(record, nullptr);
    for (int i = 0; i < 5; ++i)
        r.poller.run_once(5);
    ASSERT_EQ(record->state.load(), peer_state::handshaking);
    // The old attempt times out now and must not free the record the new one uses.
    r.rig.clock.advance(OutgoingConnect::connect_timeout_ms + 1);
    for (int i = 0; i < 5; ++i)
        r.poller.run_once(5);
    EXPECT_EQ(r.poller.active_count(), 0u);
    EXPECT_EQ(task.connected_count(), 1);
    EXPECT_NE(record->state.load(), peer_state::gone);
}

// Incoming peers from many addresses take at most the records outgoing dials do not need.
TEST(TaskConnect, IncomingPeersLeaveRecordsForOutgoingDials)
{
    connect_rig r(16);
    Task& task = *r.rig.task;
    ASSERT_EQ(task.outgoing_reserve(), 2);
    std::vector<scripted_peer> kept;
    for (int i = 0; i < 20; ++i)
    {
        if (auto peer = r.rig.incoming_at(0x7F000100 + static_cast<std::uint32_t>(i), other_id(i)))
            kept.push_back(std::move(*peer));
    }
    EXPECT_EQ(kept.size(), 14U);
    PeerEndpoint a = endpoint(1001);
    EXPECT_EQ(task.Connect(a), connect_answer::connected);
    // Our dials go where we choose, also to an address an incoming peer holds (the same
    // peer twice is refused by its id at the handshake).
    PeerEndpoint beside = endpoint(1002);
    beside.ip = 0x7F000100;
    EXPECT_EQ(task.Connect(beside), connect_answer::connected);
    PeerEndpoint b = endpoint(1003);
    EXPECT_EQ(task.Connect(b), connect_answer::full);
}

TEST(TaskPeers, RecordsAreTakenRoundRobinAndASingleRecordCanBeTaken)
{
    connect_rig r(3);
    Task& task = *r.rig.task;
    std::vector<std::size_t> order;
    for (std::uint16_t port = 1001; port <= 1003; ++port)
    {
        PeerEndpoint ep = endpoint(port);
        PeerRecord* record = connect_record(task, ep);
        ASSERT_NE(record, nullptr);
        for (std::size_t i = 0; i < task.record_count(); ++i)
        {
            if (&task.record(i) == record)
                order.push_back(i);
        }
    }
    EXPECT_EQ(order, (std::vector<std::size_t>{1, 2, 0}));

    connect_rig one(1);
    PeerEndpoint ep = endpoint(1001);
    EXPECT_EQ(one.rig.task->Connect(ep), connect_answer::connected);
}

TEST(TaskPeers, PeerIdsAreCheckedAndRemembered)
{
    wire_rig rig;
    Task& task = *rig.task;
    EXPECT_TRUE(task.is_peer_id_unwelcome(wire_rig::own_id, true));
    EXPECT_FALSE(task.is_peer_id_unwelcome(other_id(1), true));
    EXPECT_TRUE(task.is_peer_id_unwelcome(other_id(1), true));
    // An id that is not 20 bytes is neither refused nor remembered.
    EXPECT_FALSE(task.is_peer_id_unwelcome("short", true));
    EXPECT_FALSE(task.is_peer_id_unwelcome("short", true));
    task.forget_peer(0, other_id(1));
    EXPECT_FALSE(task.is_peer_id_unwelcome(other_id(1), false));

    task.Close();
    // Our own id is refused even by a free task; so is everyone else.
    EXPECT_TRUE(task.is_peer_id_unwelcome(wire_rig::own_id, false));
    EXPECT_TRUE(task.is_peer_id_unwelcome(other_id(2), false));
}

TEST(TaskLifecycle, CloseFreesTheSlotAndChangesItsGeneration)
{
    wire_rig rig;
    Task& task = *rig.task;
    const std::uint64_t before = task.generation();
    auto peer = rig.incoming(other_id(1));
    ASSERT_TRUE(peer);
    EXPECT_TRUE(task.IsKnownAddress(77, true) == false);
    task.Close();
    EXPECT_NE(task.generation(), before);
    EXPECT_EQ(task.state(), task_state::free_slot);
    EXPECT_EQ(task.connected_count(), 0);
    EXPECT_TRUE(peer->closed());
    EXPECT_EQ(rig.pool->torrents().find_torrent(rig.torrent.info_hash), nullptr);
    RateMeter up, down;
    EXPECT_TRUE(task.Configure(3, up, down));
    EXPECT_EQ(task.record_count(), 3u);
}

TEST(TaskLifecycle, ConfigureIsRefusedWhileTheTaskRuns)
{
    wire_rig rig;
    RateMeter up, down;
    EXPECT_FALSE(rig.task->Configure(20, up, down));
    EXPECT_EQ(rig.task->record_count(), 4u);
}

TEST(TaskLifecycle, PeersOfOursTellTheirInternalAddress)
{
    wire_rig rig;
    rig.task->set_alternate_address(0x0A000005, 45790, 0x01020304, 6881);
    std::vector<PeerCandidate> gathered;
    rig.task->take_gathered_addresses(gathered);
    ASSERT_EQ(gathered.size(), 1u);
    EXPECT_EQ(gathered[0].key, internal_candidate_key(0x0A000005, 45790, 6881));
    EXPECT_EQ(gathered[0].external_address, 0x01020304u);
    gathered.clear();
    rig.task->take_gathered_addresses(gathered);
    EXPECT_TRUE(gathered.empty());
}

TEST(TaskView, FillCopiesIdentityAndRefreshMeasuresRates)
{
    wire_rig rig;
    auto peer = rig.incoming(other_id(1));
    TaskView view;
    rig.task->FillView(view);
    EXPECT_EQ(view.task, rig.task);
    EXPECT_EQ(view.info_hash, rig.torrent.info_hash);
    EXPECT_EQ(view.name, "payload.bin");
    EXPECT_EQ(view.total, rig.torrent.payload.size());
    EXPECT_EQ(view.peer_count, 1);
    EXPECT_EQ(view.flags, view_flag::all);
    ASSERT_EQ(view.peers.size(), 4u);

    view.flags = 0;
    rig.task->RefreshView(view, 10000, true);
    PeerConnection* c = rig.last_connection();
    rig.task->count_received(c->slot(), 20000, 10000);
    rig.task->RefreshView(view, 10500, true); // within the second: ignored
    EXPECT_EQ(view.download_rate, 0u);
    rig.task->RefreshView(view, 12000, true);
    EXPECT_EQ(view.download_rate, 10000u);
    EXPECT_NE(view.flags & view_flag::download_rate, 0);
    rig.task->RefreshView(view, 13000, true);
    EXPECT_EQ(view.download_rate, 5000u); // no new bytes: the rate halves

    // The check of existing data starts the download count again: the counter goes back,
    // and the rate is 0, not a wrapped difference.
    event stop;
    ASSERT_GE(rig.task->check_existing_data(stop), 0);
    ASSERT_LT(rig.task->downloaded(), view.downloaded);
    rig.task->RefreshView(view, 14000, true);
    EXPECT_EQ(view.download_rate, 0u);
    EXPECT_EQ(view.downloaded, rig.task->downloaded());
    rig.task->count_received(c->slot(), 3000, 14000);
    rig.task->RefreshView(view, 15000, true);
    EXPECT_EQ(view.download_rate, 3000u);
}

} // namespace
} // namespace torrent::test
