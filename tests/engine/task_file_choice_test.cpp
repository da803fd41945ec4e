// A file chosen while its task runs is downloaded from the peers the task already has.
#include <algorithm>

#include <gtest/gtest.h>

#include "net/peer_wire.h"
#include "storage/selection_record.h"
#include "wire_rig.h"

namespace torrent::test
{
namespace
{

bool has(const std::vector<wire_message>& ms, std::uint8_t id)
{
    return std::any_of(ms.begin(), ms.end(), [id](const wire_message& m) { return m.id == id; });
}

// Answers the requests among `ms` with the torrent's bytes.
void serve(scripted_peer& peer, const made_torrent& t, const std::vector<wire_message>& ms)
{
    for (const wire_message& m : ms)
    {
        if (m.id != wire::request)
            continue;
        const auto at = [&m](std::size_t k)
        {
            return wire::get_u32(reinterpret_cast<const std::byte*>(m.payload.data() + k));
        };
        const std::uint32_t index = at(0);
        const std::uint32_t begin = at(4);
        peer.send_message(
            wire::piece,
            u32(index) + u32(begin) + t.payload.substr(std::size_t{index} * t.piece_length + begin, at(8)));
    }
}

// Serves requests until the task is complete; every message seen on the way.
std::vector<wire_message>
serve_until_complete(wire_rig& rig, Task& task, scripted_peer& peer, const made_torrent& t)
{
    std::vector<wire_message> seen;
    for (int round = 0; round < 300 && task.state() != task_state::complete; ++round)
    {
        rig.ticks(1);
        const auto ms = peer.messages();
        seen.insert(seen.end(), ms.begin(), ms.end());
        serve(peer, t, ms);
    }
    rig.ticks(2);
    const auto ms = peer.messages();
    seen.insert(seen.end(), ms.begin(), ms.end());
    return seen;
}

TEST(TaskFileChoice, FileChosenWhileSeedingIsDownloadedFromThePeersItHas)
{
    wire_rig rig;
    // a [0,20000) and b [20000,60000) not chosen, c [60000,80000) chosen; 16 KiB pieces:
    // 0 = a; 1 = a+b; 2 = b; 3 = b+c; 4 = c.
    const made_torrent t = make_multi_file(
        "M",
        {{{"a"}, pattern_bytes(20000, 1)},
         {{"b"}, pattern_bytes(40000, 2)},
         {{"c"}, pattern_bytes(20000, 3)}},
        16384);
    selection_record choice;
    apply_file_choice(choice, {false, false, true});
    ASSERT_TRUE(WriteStateFile(choice, rig.save, "M", rig.dir / "home/"));
    Task* task = rig.open(t, "m.torrent");
    ASSERT_NE(task, nullptr);

    // A peer with every piece but the first: it stays connected when we complete.
    scripted_peer peer = *rig.incoming_for(*task, t.info_hash, other_id(1));
    peer.send_message(wire::bitfield, std::string(1, '\x78'));
    peer.send_message(wire::unchoke);
    auto seen = serve_until_complete(rig, *task, peer, t);
    ASSERT_EQ(task->state(), task_state::complete);
    EXPECT_TRUE(has(seen, wire::not_interested));
    EXPECT_FALSE(exists(rig.save + "/M/b"));

    ASSERT_EQ(task->choose_more_files(file_selection{{false, true, true}}), open_storage_result::ok);
    EXPECT_EQ(task->state(), task_state::downloading);
    EXPECT_EQ(read_file(rig.save + "/M/b").size(), 40000u);
    seen = serve_until_complete(rig, *task, peer, t);
    ASSERT_EQ(task->state(), task_state::complete);
    EXPECT_TRUE(has(seen, wire::interested));
    EXPECT_EQ(read_file(rig.save + "/M/b"), t.payload.substr(20000, 40000));
    EXPECT_EQ(read_file(rig.save + "/M/c"), t.payload.substr(60000));
    EXPECT_FALSE(exists(rig.save + "/M/a"));
    EXPECT_FALSE(peer.closed());

    // Nothing new chosen: nothing changes.
    ASSERT_EQ(task->choose_more_files(file_selection{{false, true, true}}), open_storage_result::ok);
    EXPECT_EQ(task->state(), task_state::complete);
}

} // namespace
} // namespace torrent::test
