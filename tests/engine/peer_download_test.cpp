// Peer connections downloading from scripted seeds (requests, the pipeline, block data in
// every arrangement, rate limits) and the tick's keep-alive and inactivity rules.
#include <deque>

#include <gtest/gtest.h>

#include "net/peer_wire.h"
#include "peer_test_helpers.h"

namespace torrent::test
{
namespace
{

TEST(PeerDownload, DownloadsEveryPieceFromAScriptedSeedAndAnnouncesThem)
{
    wire_rig rig;
    scripted_peer seed = *rig.incoming(other_id(1));
    PeerConnection* seed_c = rig.last_connection();
    scripted_peer watcher = *rig.incoming(other_id(2));
    const made_torrent& t = rig.torrent;
    seed.send_message(wire::bitfield, all_pieces_bitfield(t.piece_count));
    seed.send_message(wire::unchoke);
    for (int round = 0; round < 200 && rig.task->state() != task_state::complete; ++round)
    {
        rig.pump();
        rig.ticks(1);
        const auto ms = seed.messages();
        EXPECT_LE(seed_c->outstanding().size(), PeerConnection::min_pipeline);
        serve_requests(seed, t, ms);
    }
    ASSERT_EQ(rig.task->state(), task_state::complete);
    EXPECT_EQ(test::read_file(rig.save + "/payload.bin"), t.payload);
    EXPECT_EQ(rig.task->held(), t.payload.size());
    EXPECT_EQ(rig.task->downloaded(), t.payload.size());
    rig.ticks(8);
    EXPECT_EQ(count(watcher.messages(), wire::have), t.piece_count);
    // Both sides complete: the seed's connection ends.
    EXPECT_TRUE(seed.closed());
}

TEST(PeerDownload, FailedPieceQueuesNoHaveAndIsNotHeld)
{
    wire_rig rig;
    scripted_peer seed = *rig.incoming(other_id(1));
    scripted_peer watcher = *rig.incoming(other_id(2));
    const made_torrent& t = rig.torrent;
    std::string only_first(t.piece_count / 8 + 1, '\0');
    only_first[0] = static_cast<char>(0x80);
    seed.send_message(wire::bitfield, only_first);
    seed.send_message(wire::unchoke);
    rig.pump();
    rig.ticks(8);
    serve_requests(seed, t, seed.messages(), true);
    rig.pump(20);
    rig.ticks(8);
    EXPECT_FALSE(has(watcher.messages(), wire::have));
    EXPECT_EQ(rig.task->held(), 0u);
    // Asked again, and this time right.
    for (int round = 0; round < 20 && rig.task->held() == 0; ++round)
    {
        serve_requests(seed, t, seed.messages());
        rig.pump();
        rig.ticks(1);
    }
    EXPECT_EQ(rig.task->held(), t.piece_length);
    rig.ticks(8);
    const auto ms = watcher.messages();
    ASSERT_EQ(count(ms, wire::have), 1u);
}

TEST(PeerDownload, TickOnlyComposingAsksForAtMost16BlocksPerTick)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig, false);
    auto ms = seed.messages();
    EXPECT_EQ(count(ms, wire::request), 16u);
    // Blocks answered within one tick are not asked again before the next tick.
    serve_requests(seed, rig.torrent, ms);
    rig.pump(40);
    EXPECT_EQ(count(seed.messages(), wire::request), 0u);
    rig.ticks(2);
    EXPECT_EQ(count(seed.messages(), wire::request), 16u);
}

TEST(PeerDownload, EagerComposingAsksAgainAsSoonAsABlockIsStored)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig);
    auto ms = seed.messages();
    ASSERT_EQ(count(ms, wire::request), 16u);
    serve_requests(seed, rig.torrent, ms);
    rig.pump(40);
    EXPECT_EQ(count(seed.messages(), wire::request), 16u);
    EXPECT_EQ(rig.last_connection()->outstanding().size(), 16u);
}

TEST(PeerDownload, StoredBlocksRefillThePipelineAFewRequestsAtATime)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig);
    PeerConnection* c = rig.last_connection();
    std::deque<wire_message> asked;
    for (const wire_message& m : seed.messages())
        if (m.id == wire::request)
            asked.push_back(m);
    ASSERT_EQ(asked.size(), 16u);
    const std::size_t step = c->refill_step();
    ASSERT_GT(step, 1u);
    // One block at a time: requests go out only once `step` slots are free, all together,
    // and the pipeline never runs lower than that.
    std::size_t sent = 0;
    for (int i = 0; i < 12; ++i)
    {
        serve_requests(seed, rig.torrent, wire_messages{asked.front()});
        asked.pop_front();
        rig.pump(10);
        const wire_messages now = seed.messages();
        const std::size_t n = count(now, wire::request);
        EXPECT_TRUE(n == 0 || n == step) << n;
        for (const wire_message& m : now)
            if (m.id == wire::request)
                asked.push_back(m);
        sent += n;
        EXPECT_GE(c->outstanding().size() + step, c->pipeline());
    }
    EXPECT_EQ(sent, 12u);
}

TEST(PeerDownload, BurstOfBlocksIsStoredInShortRunsAndNothingReadAheadIsForgotten)
{
    // Blocks and a choke arrive in one burst. One readable report stores a few blocks; the
    // choke, read ahead together with the last of them, is handled by the next tick although
    // the socket has nothing more to report.
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig);
    PeerConnection* c = rig.last_connection();
    c->set_eager_requests(false);
    serve_requests(seed, rig.torrent, seed.messages(), false, PeerConnection::max_blocks_per_run);
    seed.send_message(wire::choke);
    rig.pump(10);
    EXPECT_EQ(rig.task->downloaded(), PeerConnection::max_blocks_per_run * 16384u);
    EXPECT_FALSE(c->peer_choking());
    rig.ticks(1);
    EXPECT_TRUE(c->peer_choking());
}

TEST(PeerDownload, ShortMessagesBetweenBlocksNeverStopTheReading)
{
    // A keep-alive behind every fourth block, the next blocks sent a little later: the run
    // that stores four blocks leaves the keep-alive read ahead, the next readable report is
    // served from it alone, and the socket's further bytes must still be read, with no tick
    // to help.
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig, false);
    wire_messages requests = seed.messages();
    std::erase_if(requests, [](const wire_message& m) { return m.id != wire::request; });
    ASSERT_EQ(requests.size(), 16u);
    for (std::size_t i = 0; i < requests.size(); i += PeerConnection::max_blocks_per_run)
    {
        const auto from = requests.begin() + static_cast<std::ptrdiff_t>(i);
        serve_requests(seed, rig.torrent, wire_messages(from, from + PeerConnection::max_blocks_per_run));
        seed.send(u32(0));
        rig.pump(10);
    }
    EXPECT_EQ(rig.task->downloaded(), 16u * 16384);
    EXPECT_TRUE(rig.last_connection()->outstanding().empty());
}

TEST(PeerDownload, BlockWhoseRequestAChokeVoidedIsTaken)
{
    // The peer chokes and unchokes us while our requests cross its choke; it serves them
    // after the unchoke, before we asked again. That is no fault: the blocks are stored.
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig, false);
    PeerConnection* c = rig.last_connection();
    const auto ms = seed.messages();
    seed.send_message(wire::choke);
    seed.send_message(wire::unchoke);
    serve_requests(seed, rig.torrent, ms, false, 2);
    rig.pump(20);
    EXPECT_TRUE(c->is_open());
    EXPECT_EQ(rig.task->downloaded(), 2u * 16384);
}

TEST(PeerDownload, StoredBlockSendsWhatATickComposedWithoutWaitingForTheNext)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig);
    PeerConnection* c = rig.last_connection();
    const auto ms = seed.messages();
    ASSERT_EQ(count(ms, wire::request), 16u);
    // A tick composes an unchoke, which then waits for the next run.
    c->set_choke(false);
    rig.ticks(1);
    ASSERT_EQ(c->send_machine(), send_state::buffer);
    serve_requests(seed, rig.torrent, ms, false, 1);
    rig.pump(10);
    const auto now = seed.messages();
    EXPECT_TRUE(has(now, wire::unchoke));
    EXPECT_EQ(count(now, wire::request), 1u);
}

TEST(PeerDownload, DiscardedBlockLeavesTheOtherRequestsOutstanding)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 4 * 262144});
    scripted_peer seed = unchoking_seed(rig, false);
    PeerConnection* c = rig.last_connection();
    const auto ms = seed.messages();
    ASSERT_EQ(count(ms, wire::request), 16u);
    serve_requests(seed, rig.torrent, ms, false, 1);
    rig.pump(10);
    const std::vector<block_request> before = c->outstanding();
    ASSERT_EQ(before.size(), 15u);
    // The same block again: already held, so it is read and dropped; no request is lost.
    serve_requests(seed, rig.torrent, ms, false, 1);
    rig.pump(10);
    EXPECT_TRUE(c->is_open());
    EXPECT_EQ(c->outstanding(), before);
    EXPECT_EQ(rig.task->downloaded(), 16384u); // discarded data is not counted
}

TEST(PeerDownload, LaterBitfieldIsThePeersNewHaveState)
{
    wire_rig rig;
    scripted_peer peer = *rig.incoming(other_id(1));
    PeerConnection* c = rig.last_connection();
    const std::string none(2, '\0');
    std::string first_piece = none;
    first_piece[0] = static_cast<char>(0x80);
    // A keep-alive first, then a bitfield of nothing: nothing to ask for.
    peer.send(u32(0));
    peer.send_message(wire::bitfield, none);
    peer.send_message(wire::unchoke);
    rig.pump();
    rig.ticks(8);
    EXPECT_FALSE(c->interested_in_peer());
    peer.messages();
    // A second bitfield with piece 0: we want it and ask for its blocks only.
    peer.send_message(wire::bitfield, first_piece);
    rig.pump();
    rig.ticks(2);
    auto ms = peer.messages();
    ASSERT_TRUE(has(ms, wire::interested));
    EXPECT_EQ(count(ms, wire::request), 2u);
    for (const auto& m : ms)
    {
        if (m.id == wire::request)
        {
            EXPECT_EQ(u32_at(m.payload, 0), 0u);
        }
    }
    EXPECT_EQ(c->slot().have_count.load(), 1u);
    // Back to nothing: we lose interest, and the connection stays.
    peer.send_message(wire::bitfield, none);
    rig.pump();
    rig.ticks(2);
    EXPECT_TRUE(has(peer.messages(), wire::not_interested));
    EXPECT_TRUE(c->is_open());
    EXPECT_EQ(c->slot().have_count.load(), 0u);
}

TEST(PeerDownload, PipelineFollowsThePeersRate)
{
    wire_rig rig(rig_options{.piece_length = 262144, .size = 48 * 262144});
    scripted_peer seed = unchoking_seed(rig);
    PeerConnection* c = rig.last_connection();
    std::deque<wire_message> asked;
    const auto serve = [&](std::size_t n)
    {
        for (const wire_message& m : seed.messages())
        {
            if (m.id == wire::request)
                asked.push_back(m);
        }
        wire_messages now;
        for (; n != 0 && !asked.empty(); --n)
        {
            now.push_back(asked.front());
            asked.pop_front();
        }
        serve_requests(seed, rig.torrent, now);
    };
    EXPECT_EQ(c->pipeline(), PeerConnection::min_pipeline);
    // 80 blocks a second for 4 s: what 2.5 s bring is kept outstanding (200 blocks).
    for (int i = 0; i < 40; ++i)
    {
        serve(8);
        rig.ticks(2);
    }
    EXPECT_NEAR(static_cast<double>(c->pipeline()), 200.0, 20.0);
    serve(0);
    EXPECT_GT(asked.size() + c->refill_step() + 8, c->pipeline()) << "the requests follow the pipeline";
    EXPECT_LE(c->outstanding().size(), c->pipeline());
    // A block a second: back to the floor.
    for (int i = 0; i < 8; ++i)
    {
        serve(1);
        rig.ticks(20);
    }
    EXPECT_EQ(c->pipeline(), PeerConnection::min_pipeline);
    EXPECT_TRUE(c->is_open());
}

TEST(PeerDownload, BlockDataWaitsForTheDownloadMeter)
{
    wire_rig rig;
    rig.download.set_limit(10000);
    scripted_peer seed = unchoking_seed(rig);
    serve_requests(seed, rig.torrent, seed.messages(), false, 3);
    rig.pump(40);
    // The first block overshoots the window; nothing more is read until it closes.
    const std::uint64_t first = rig.task->downloaded();
    EXPECT_GE(first, 16384u);
    EXPECT_LT(first, 2u * 16384);
    rig.ticks(10);
    EXPECT_EQ(rig.task->downloaded(), first);
    // The tick that resumes reading stores a block stamped later than the tick's own reading
    // of the clock; that must not count as 584 million years of silence.
    PeerConnection* c = rig.last_connection();
    rig.clock.set_step(1);
    rig.ticks(12);
    EXPECT_GT(rig.task->downloaded(), first);
    EXPECT_TRUE(c->is_open());
}

TEST(PeerTick, SilentPeerIsDroppedAfter180Seconds)
{
    wire_rig rig;
    scripted_peer peer = *rig.incoming(other_id(1));
    PeerConnection* c = rig.last_connection();
    rig.clock.advance(179999 - event_loop::tick_period_ms);
    rig.ticks(1);
    EXPECT_TRUE(c->is_open());
    rig.ticks(1);
    EXPECT_FALSE(c->is_open());
    EXPECT_EQ(c->last_close(), close_reason::inactive);
    EXPECT_TRUE(peer.closed());
}

TEST(PeerTick, PeerThatSentBlockDataGetsASecondPer3000Bytes)
{
    wire_rig rig;
    scripted_peer peer = *rig.incoming(other_id(1));
    PeerConnection* c = rig.last_connection();
    c->slot().downloaded.store(3000000);
    rig.clock.advance(1179999 - event_loop::tick_period_ms);
    rig.ticks(1);
    EXPECT_TRUE(c->is_open());
    rig.ticks(1);
    EXPECT_FALSE(c->is_open());
}

TEST(PeerTick, SeedServingASlowLeecherKeepsItForFiveMinutes)
{
    // A seed receives no block data: the blocks it sends keep the connection.
    unchoked_seed s;
    for (std::uint32_t second = 0; second < 300; ++second)
    {
        s.peer.send_message(wire::request, request_payload(second % 8, 0, 16384));
        s.rig.clock.advance(1000 - event_loop::tick_period_ms);
        s.rig.ticks(1);
        ASSERT_TRUE(s.c->is_open()) << "closed after " << second << " s";
        s.peer.messages();
    }
    EXPECT_EQ(s.rig.task->uploaded(), 300u * 16384);
    // Then silence: dropped 180 s after the last block went out.
    s.rig.clock.advance(180000 - 2 * event_loop::tick_period_ms);
    s.rig.ticks(1);
    EXPECT_TRUE(s.c->is_open());
    s.rig.ticks(1);
    EXPECT_FALSE(s.c->is_open());
    EXPECT_EQ(s.c->last_close(), close_reason::inactive);
}

TEST(PeerTick, MessagesKeepAPeerButKeepAlivesAndOurOwnMessagesDoNot)
{
    wire_rig rig;
    scripted_peer talker = *rig.incoming(other_id(1));
    PeerConnection* talker_c = rig.last_connection();
    scripted_peer quiet = *rig.incoming(other_id(2));
    PeerConnection* quiet_c = rig.last_connection();
    // Ten minutes: one has message a minute from one peer, keep-alives from the other (and
    // ours to both, as we download).
    for (std::uint32_t minute = 0; minute < 10; ++minute)
    {
        talker.send_message(wire::have, u32(minute % 9));
        quiet.send(u32(0));
        for (int step = 0; step < 6; ++step)
        {
            rig.clock.advance(10000 - event_loop::tick_period_ms);
            rig.ticks(1);
        }
    }
    EXPECT_TRUE(talker_c->is_open());
    EXPECT_FALSE(quiet_c->is_open());
    EXPECT_EQ(quiet_c->last_close(), close_reason::inactive);
}

TEST(PeerTick, KeepAliveAfterTenSecondsWithoutBlockData)
{
    wire_rig rig;
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.messages();
    rig.clock.advance(10000);
    rig.ticks(8);
    EXPECT_TRUE(has(peer.messages(), wire::keep_alive));
}

// Every malformed message closes its own connection; another connection of the task lives
// on and the task keeps the other peer.

} // namespace
} // namespace torrent::test
