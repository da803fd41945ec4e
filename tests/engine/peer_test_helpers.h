#pragma once

// Shared by the peer connection tests: message look-ups and scripted peers in the states
// most tests start from.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "net/peer_wire.h"
#include "wire_rig.h"

namespace torrent::test
{

using wire_messages = std::vector<wire_message>;

inline bool has(const wire_messages& ms, std::uint8_t id)
{
    return std::any_of(ms.begin(), ms.end(), [id](const wire_message& m) { return m.id == id; });
}

inline std::size_t count(const wire_messages& ms, std::uint8_t id)
{
    return static_cast<std::size_t>(
        std::count_if(ms.begin(), ms.end(), [id](const wire_message& m) { return m.id == id; }));
}

// A seeding task that has unchoked the scripted peer (which said interested).
struct unchoked_seed
{
    wire_rig rig{rig_options{.seeding = true}};
    scripted_peer peer = *rig.incoming(other_id(1));
    PeerConnection* c = rig.last_connection();

    explicit unchoked_seed(bool eager = true)
    {
        c->set_eager_requests(eager);
        peer.send_message(wire::interested);
        rig.pump();
        rig.ticks(8);
        const auto ms = peer.messages();
        EXPECT_TRUE(has(ms, wire::unchoke));
    }
};

// An incoming seed that has every piece and unchokes us, past the quiet first ticks: its
// first requests are waiting to be read.
inline scripted_peer unchoking_seed(wire_rig& rig, bool eager = true)
{
    scripted_peer seed = *rig.incoming(other_id(1));
    rig.last_connection()->set_eager_requests(eager);
    seed.send_message(wire::bitfield, all_pieces_bitfield(rig.torrent.piece_count));
    seed.send_message(wire::unchoke);
    rig.pump();
    rig.ticks(8);
    return seed;
}

} // namespace torrent::test
