// Peer connections against scripted peers over socket pairs: the handshake, choking,
// serving requests, and every malformed message a peer can send (each closes that one
// connection and nothing else).
#include <algorithm>

#include <gtest/gtest.h>

#include "net/peer_wire.h"
#include "peer_test_helpers.h"

namespace torrent::test
{
namespace
{

TEST(PeerHandshake, IncomingPeerGetsOurHandshakeAndBitfieldAtOnce)
{
    wire_rig rig(rig_options{.seeding = true});
    auto peer = rig.incoming(other_id(1));
    ASSERT_TRUE(peer);
    const auto ms = peer->messages();
    const std::string hs = peer->handshake();
    ASSERT_EQ(hs.size(), 68u);
    EXPECT_EQ(hs[0], 19);
    EXPECT_EQ(hs.substr(1, 19), "BitTorrent protocol");
    EXPECT_EQ(
        wire::hash_text_of(std::span(reinterpret_cast<const std::byte*>(hs.data() + 28), 20)),
        rig.torrent.info_hash);
    EXPECT_EQ(hs.substr(48), std::string(wire_rig::own_id));
    ASSERT_EQ(ms.size(), 1u);
    EXPECT_EQ(ms[0].id, wire::bitfield);
    EXPECT_EQ(ms[0].payload, all_pieces_bitfield(rig.torrent.piece_count));
}

TEST(PeerHandshake, BytesSentRightAfterTheHandshakeAreRead)
{
    wire_rig rig(rig_options{.seeding = true});
    // interested travels in the same read as the handshake: the poller takes both.
    std::string interested = u32(1) + std::string(1, static_cast<char>(wire::interested));
    auto peer = rig.incoming(other_id(1), interested);
    ASSERT_TRUE(peer);
    EXPECT_TRUE(rig.last_connection()->peer_interested());
    rig.ticks(8);
    EXPECT_TRUE(has(peer->messages(), wire::unchoke));
}

TEST(PeerHandshake, IncomingRefusals)
{
    wire_rig rig(rig_options{.slots = 2});
    // Another torrent, our own id, an id already connected.
    EXPECT_FALSE(rig.incoming_for(*rig.task, std::string(40, 'A'), other_id(1)));
    EXPECT_FALSE(rig.incoming(std::string(wire_rig::own_id)));
    ASSERT_TRUE(rig.incoming(other_id(2)));
    EXPECT_FALSE(rig.incoming(other_id(2)));
    EXPECT_EQ(rig.task->connected_count(), 1);
    // The same id may join another task.
    const made_torrent second = make_single_file("other.bin", pattern_bytes(50000, 3), 16384);
    Task* other = rig.open(second, "other.torrent");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(rig.incoming_for(*other, second.info_hash, other_id(2)));
}

TEST(PeerHandshake, OutgoingConnectionToAnotherTorrentReadsNoMessageAndClosesOnTheNextByte)
{
    wire_rig rig;
    scripted_peer peer = rig.outgoing();
    EXPECT_TRUE(peer.messages().empty());
    EXPECT_TRUE(peer.handshake_received());
    peer.send_handshake(std::string(40, 'B'), other_id(1));
    rig.pump();
    PeerConnection* c = rig.last_connection();
    EXPECT_TRUE(c->is_open());
    peer.send_message(wire::unchoke);
    rig.pump();
    EXPECT_FALSE(c->is_open());
    EXPECT_TRUE(c->peer_choking()); // the unchoke was never handled
    EXPECT_TRUE(peer.closed());
    EXPECT_EQ(rig.task->connected_count(), 0);
}

TEST(PeerHandshake, OutgoingConnectionSaysNothingMoreUntilThePeersHandshakeIsChecked)
{
    wire_rig rig(rig_options{.seeding = true});
    scripted_peer peer = rig.outgoing();
    PeerConnection* c = rig.last_connection();
    // Ticks, a piece to announce and a keep-alive's worth of silence: still only our 68
    // bytes on the wire.
    c->queue_have(0, true);
    rig.ticks(8);
    rig.clock.advance(PeerConnection::keep_alive_ms);
    rig.ticks(2);
    EXPECT_TRUE(peer.messages().empty());
    EXPECT_TRUE(peer.handshake_received());
    peer.send_handshake(rig.torrent.info_hash, other_id(1));
    rig.pump();
    const auto ms = peer.messages();
    ASSERT_FALSE(ms.empty());
    EXPECT_EQ(ms[0].id, wire::bitfield);
    EXPECT_EQ(ms[0].payload, all_pieces_bitfield(rig.torrent.piece_count));
}

TEST(PeerHandshake, OutgoingHandshakeWithAWrongProtocolStringCloses)
{
    wire_rig rig;
    scripted_peer peer = rig.outgoing();
    std::string hs(68, '\0');
    hs[0] = 18;
    hs.replace(1, 19, "BitTorrent protocol");
    peer.send(hs);
    rig.pump();
    EXPECT_TRUE(peer.closed());
    EXPECT_EQ(rig.last_connection()->last_close(), close_reason::bad_handshake);
}

TEST(PeerHandshake, PeerOfOursGivesTheTaskItsInternalAddress)
{
    wire_rig rig;
    scripted_peer peer = rig.outgoing(6881);
    // "ZRV", 10.0.0.5 (least significant byte first, zeros as 0xFF), port 45790.
    const std::string id = std::string("ZRV\x05\xff\xff\x0a\xde\xb2", 9) + "abcdefghijk";
    peer.send_handshake(rig.torrent.info_hash, id);
    rig.pump();
    std::vector<PeerCandidate> gathered;
    rig.task->take_gathered_addresses(gathered);
    ASSERT_EQ(gathered.size(), 1u);
    EXPECT_EQ(gathered[0].key, internal_candidate_key(0x0A000005, 45790, 6881));
    EXPECT_EQ(gathered[0].external_address, 0x7F000001u);
}

TEST(PeerChoking, TwoInterestedMessagesGetOneUnchoke)
{
    wire_rig rig(rig_options{.seeding = true});
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.messages();
    peer.send_message(wire::interested);
    peer.send_message(wire::interested);
    rig.pump();
    rig.ticks(10);
    EXPECT_EQ(count(peer.messages(), wire::unchoke), 1u);
}

TEST(PeerChoking, NotInterestedWhileChokedSendsNothing)
{
    wire_rig rig(rig_options{.seeding = true});
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.messages();
    peer.send_message(wire::not_interested);
    rig.pump();
    rig.ticks(10);
    EXPECT_TRUE(peer.messages().empty());
}

TEST(PeerChoking, RequestWhileChokedIsDroppedAndNotServedAfterTheUnchoke)
{
    wire_rig rig(rig_options{.seeding = true});
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.send_message(wire::request, request_payload(0, 0, 16384));
    rig.pump();
    EXPECT_TRUE(rig.last_connection()->upload_queue().empty());
    peer.send_message(wire::interested);
    rig.pump();
    rig.ticks(10);
    EXPECT_FALSE(has(peer.messages(), wire::piece));
}

TEST(PeerUpload, ServesRequestedBlocksOfEveryLength)
{
    unchoked_seed s;
    // A whole block, then a short one at the next offset, then the short last piece's
    // block, then a whole piece (more than one transfer takes with its header): the upload
    // buffer must follow each length.
    const std::uint32_t last = s.rig.torrent.piece_count - 1;
    s.peer.send_message(wire::request, request_payload(1, 0, 16384));
    s.peer.send_message(wire::request, request_payload(1, 16384, 1000));
    s.peer.send_message(wire::request, request_payload(last, 0, 1000));
    s.peer.send_message(wire::request, request_payload(2, 0, 32768));
    s.rig.pump();
    s.rig.ticks(4);
    const auto ms = s.peer.messages();
    ASSERT_EQ(count(ms, wire::piece), 4u);
    const made_torrent& t = s.rig.torrent;
    std::vector<std::string> blocks;
    for (const auto& m : ms)
    {
        if (m.id == wire::piece)
            blocks.push_back(m.payload);
    }
    EXPECT_EQ(blocks[0].substr(8), t.payload.substr(32768, 16384));
    EXPECT_EQ(blocks[1].substr(8), t.payload.substr(32768 + 16384, 1000));
    EXPECT_EQ(blocks[2].substr(8), t.payload.substr(std::size_t{last} * 32768, 1000));
    EXPECT_EQ(blocks[3].substr(8), t.payload.substr(2 * 32768, 32768));
    EXPECT_EQ(s.rig.task->uploaded(), 16384u + 1000 + 1000 + 32768);
}

TEST(PeerUpload, BlockDataWaitsForTheUploadMeter)
{
    unchoked_seed s;
    s.rig.upload.set_limit(10000);
    for (std::uint32_t i = 0; i < 3; ++i)
        s.peer.send_message(wire::request, request_payload(i, 0, 16384));
    s.rig.pump(20);
    // One block overshoots the window; the next waits until the window has closed.
    EXPECT_EQ(s.rig.task->uploaded(), 16384u);
    s.rig.ticks(10);
    EXPECT_EQ(s.rig.task->uploaded(), 16384u);
    s.rig.ticks(12);
    EXPECT_EQ(s.rig.task->uploaded(), 2u * 16384);
    EXPECT_EQ(count(s.peer.messages(), wire::piece), 2u);
}

TEST(PeerUpload, RequestsThatDoNotNameABlockOfAPieceAreDropped)
{
    unchoked_seed s(false);
    const std::uint32_t pieces = s.rig.torrent.piece_count;
    s.peer.send_message(wire::request, request_payload(0, 0, 0)); // empty
    s.peer.send_message(wire::request, request_payload(0, 0, 131073)); // too long
    s.peer.send_message(wire::request, request_payload(0, 32768 - 100, 16384)); // past the piece
    s.peer.send_message(wire::request, request_payload(pieces - 1, 0, 16384)); // past the short last piece
    s.peer.send_message(wire::request, request_payload(pieces, 0, 16384)); // no such piece
    s.peer.send_message(wire::request, request_payload(0, 0xFFFFFFF0u, 16384)); // offset wraps
    s.rig.pump(20);
    EXPECT_TRUE(s.c->is_open());
    EXPECT_TRUE(s.c->upload_queue().empty());
}

TEST(PeerUpload, PiecesWeDoNotHaveAreNotServed)
{
    wire_rig rig; // nothing on disk
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.send_message(wire::interested);
    rig.pump();
    rig.ticks(8);
    peer.send_message(wire::request, request_payload(0, 0, 16384));
    rig.pump();
    rig.ticks(4);
    EXPECT_TRUE(rig.last_connection()->upload_queue().empty());
    EXPECT_FALSE(has(peer.messages(), wire::piece));
}

TEST(PeerUpload, RequestsBeyondTheQueueWaitInTheSocketAndEveryOneIsServed)
{
    // 3000 distinct requests in one go (a leecher with a deep request queue): the queue
    // holds its bound, the rest waits unread, and every request is answered once.
    unchoked_seed s(false);
    constexpr std::uint32_t asked = 3000;
    std::string flood;
    for (std::uint32_t i = 0; i < asked; ++i)
        flood +=
            u32(13) + std::string(1, static_cast<char>(wire::request)) + request_payload(i % 8, 0, 1 + i / 8);
    s.peer.send(flood);
    s.rig.pump(3 * asked); // one request per readable report
    EXPECT_EQ(s.c->upload_queue().size(), PeerConnection::max_upload_queue);
    s.c->set_eager_requests(true);
    std::size_t served = 0;
    for (int round = 0; round < 400 && served < asked; ++round)
    {
        s.rig.ticks(1);
        served += count(s.peer.messages(), wire::piece);
        ASSERT_LE(s.c->upload_queue().size(), PeerConnection::max_upload_queue);
    }
    EXPECT_EQ(served, asked);
    EXPECT_TRUE(s.c->is_open());
    EXPECT_TRUE(s.c->upload_queue().empty());
}

TEST(PeerUpload, DuplicateRequestMovesToTheEnd)
{
    unchoked_seed s(false);
    for (std::uint32_t i : {0u, 1u, 2u, 1u})
        s.peer.send_message(wire::request, request_payload(i, 0, 16384));
    s.rig.pump();
    const auto& q = s.c->upload_queue();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].index, 0u);
    EXPECT_EQ(q[1].index, 2u);
    EXPECT_EQ(q[2].index, 1u);
}

TEST(PeerUpload, CancelOfTheBlockBeingSentKeepsIt)
{
    unchoked_seed s(false);
    s.peer.send_message(wire::request, request_payload(0, 0, 16384));
    s.peer.send_message(wire::request, request_payload(1, 0, 16384));
    s.rig.pump();
    s.rig.ticks(1); // compose: the piece header of block 0 is queued
    ASSERT_EQ(s.c->send_machine(), send_state::buffer);
    s.peer.send_message(wire::cancel, request_payload(0, 0, 16384));
    s.peer.send_message(wire::cancel, request_payload(1, 0, 16384));
    s.rig.pump();
    ASSERT_EQ(s.c->upload_queue().size(), 1u);
    EXPECT_EQ(s.c->upload_queue().front().index, 0u);
    s.rig.ticks(3);
    EXPECT_EQ(count(s.peer.messages(), wire::piece), 1u);
}

struct malformed_case
{
    const char* name;
    std::string bytes;
    close_reason reason;
};

class PeerMalformed : public ::testing::TestWithParam<malformed_case>
{
};

TEST_P(PeerMalformed, ClosesOnlyItsConnection)
{
    wire_rig rig;
    scripted_peer bad = *rig.incoming(other_id(1));
    PeerConnection* bad_c = rig.last_connection();
    scripted_peer good = *rig.incoming(other_id(2));
    PeerConnection* good_c = rig.last_connection();
    bad.send(GetParam().bytes);
    rig.pump(20);
    EXPECT_FALSE(bad_c->is_open());
    EXPECT_EQ(bad_c->last_close(), GetParam().reason);
    EXPECT_TRUE(bad.closed());
    EXPECT_TRUE(good_c->is_open());
    EXPECT_FALSE(good.closed());
    EXPECT_EQ(rig.task->connected_count(), 1);
}

std::string msg(std::uint8_t id, std::string payload = {})
{
    return u32(static_cast<std::uint32_t>(payload.size() + 1)) + std::string(1, static_cast<char>(id))
        + payload;
}

const malformed_case malformed_cases[] = {
    {"have_too_long", msg(wire::have, u32(1) + "x"), close_reason::bad_length},
    {"unknown_id", msg(9, "abc"), close_reason::unknown_id},
    {"bitfield_wrong_size", msg(wire::bitfield, std::string(3, '\xff')), close_reason::bad_length},
    {"have_equal_to_piece_count", msg(wire::have, u32(9)), close_reason::bad_have},
    {"choke_longer_than_the_buffer",
     u32(600) + std::string(1, '\0') + std::string(599, 'x'),
     close_reason::bad_length},
    {"one_mebibyte_length_prefix",
     u32(1 << 20) + std::string(1, static_cast<char>(wire::piece)),
     close_reason::bad_length},
    {"request_too_short", msg(wire::request, u32(0) + u32(0)), close_reason::bad_length},
    {"piece_nobody_asked_for",
     msg(wire::piece, u32(0) + u32(0) + std::string(16384, 'x')),
     close_reason::unrequested_piece},
};

INSTANTIATE_TEST_SUITE_P(
    Each,
    PeerMalformed,
    ::testing::ValuesIn(malformed_cases),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PeerMalformed, EmptyPieceIsConsumedAndChangesNothing)
{
    wire_rig rig;
    scripted_peer peer = *rig.incoming(other_id(1));
    peer.send(msg(wire::piece, u32(0) + u32(0)));
    peer.send(msg(wire::unchoke));
    rig.pump();
    EXPECT_TRUE(rig.last_connection()->is_open());
    EXPECT_FALSE(rig.last_connection()->peer_choking());
    EXPECT_EQ(rig.task->downloaded(), 0u);
}

} // namespace
} // namespace torrent::test
