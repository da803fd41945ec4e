// A task's rules about its peers' addresses: a peer that sends only corrupt pieces is
// dropped for good while honest peers stay; one connection per address (a peer of ours on a
// LAN address excepted). The records kept for outgoing dials are tested with the connects.
#include <gtest/gtest.h>

#include "net/peer_wire.h"
#include "wire_rig.h"

namespace torrent::test
{
namespace
{

constexpr std::uint32_t liar_ip = 0x7F000010;
constexpr std::uint32_t honest_ip = 0x7F000020;

// A peer id of this program: "ZRV", 10.0.0.5, port 45790.
const std::string ours = std::string("ZRV\x05\xff\xff\x0a\xde\xb2", 9) + "abcdefghijk";

void offer_everything(scripted_peer& peer, const made_torrent& t)
{
    peer.send_message(wire::bitfield, all_pieces_bitfield(t.piece_count));
    peer.send_message(wire::unchoke);
}

TEST(PeerBan, APeerThatSendsOnlyCorruptPiecesIsDroppedAndNeverTakenAgain)
{
    wire_rig rig;
    const made_torrent& t = rig.torrent;
    scripted_peer liar = *rig.incoming_at(liar_ip, other_id(1));
    PeerConnection* c = rig.last_connection();
    offer_everything(liar, t);
    int rounds = 0;
    for (; rounds < 200 && !liar.closed(); ++rounds)
    {
        rig.pump();
        rig.ticks(1);
        serve_requests(liar, t, liar.messages(), true);
    }
    ASSERT_TRUE(liar.closed()) << "the liar was never dropped";
    EXPECT_EQ(c->last_close(), close_reason::corrupt_data);
    EXPECT_TRUE(rig.task->is_banned(liar_ip));
    EXPECT_EQ(rig.task->held(), 0U);
    // Three failed pieces are all it costs: nothing near the whole torrent came.
    EXPECT_LE(
        rig.task->downloaded(), (Task::ban_after_failed_pieces + 1) * std::uint64_t{t.piece_length} * 2);
    EXPECT_EQ(rig.task->connected_count(), 0);

    // The address is refused from then on, incoming and outgoing, whatever its id.
    EXPECT_FALSE(rig.incoming_at(liar_ip, other_id(2)));
    PeerEndpoint again;
    again.ip = liar_ip;
    again.port = 6881;
    EXPECT_EQ(rig.task->take_peer_slot(again), nullptr);
    // Other addresses are still welcome.
    EXPECT_TRUE(rig.incoming_at(honest_ip, other_id(3)));
}

TEST(PeerBan, HonestPeersBesideALiarAreKeptAndTheDownloadCompletes)
{
    wire_rig rig;
    const made_torrent& t = rig.torrent;
    scripted_peer liar = *rig.incoming_at(liar_ip, other_id(1));
    scripted_peer honest = *rig.incoming_at(honest_ip, other_id(2));
    PeerConnection* honest_c = rig.last_connection();
    offer_everything(liar, t);
    offer_everything(honest, t);
    for (int round = 0; round < 400 && rig.task->state() != task_state::complete; ++round)
    {
        rig.pump();
        rig.ticks(1);
        // The liar answers first, so pieces it shares with the honest peer fail too.
        if (!liar.closed())
            serve_requests(liar, t, liar.messages(), true);
        serve_requests(honest, t, honest.messages());
    }
    ASSERT_EQ(rig.task->state(), task_state::complete);
    EXPECT_EQ(read_file(rig.save + "/payload.bin"), t.payload);
    EXPECT_TRUE(rig.task->is_banned(liar_ip));
    EXPECT_FALSE(rig.task->is_banned(honest_ip));
    EXPECT_NE(honest_c->last_close(), close_reason::corrupt_data);
}

// Connects a peer from the address and keeps it connected; true when the task took it.
bool connect_from(wire_rig& rig, std::vector<scripted_peer>& kept, std::uint32_t ip, const std::string& id)
{
    std::optional<scripted_peer> peer = rig.incoming_at(ip, id);
    if (!peer)
        return false;
    kept.push_back(std::move(*peer));
    return true;
}

TEST(PeerAddresses, OneConnectionPerAddressUnlessItIsAPeerOfOursNearby)
{
    wire_rig rig(rig_options{.peers_per_task = 8});
    std::vector<scripted_peer> kept;
    const std::string ours_too = std::string(ours).replace(10, 1, "X"); // another copy's id
    EXPECT_TRUE(connect_from(rig, kept, 0x7F000030, other_id(1)));
    EXPECT_FALSE(connect_from(rig, kept, 0x7F000030, other_id(2))) << "a second connection from one address";
    // Copies of this program beside it on a loopback or LAN address are taken...
    EXPECT_TRUE(connect_from(rig, kept, 0x7F000030, ours));
    EXPECT_TRUE(connect_from(rig, kept, 0xC0A80107, other_id(3)));
    EXPECT_TRUE(connect_from(rig, kept, 0xC0A80107, ours_too));
    // ...but not on a public address, where one address is one host.
    EXPECT_TRUE(connect_from(rig, kept, 0xC6336407, other_id(4)));
    EXPECT_FALSE(connect_from(rig, kept, 0xC6336407, ours));
    EXPECT_EQ(rig.task->connected_count(), 5);
}

} // namespace
} // namespace torrent::test
