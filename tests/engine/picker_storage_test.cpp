// The picker behind real torrent storage: blocks it hands out are written and verified, a
// piece that fails its check comes back to be downloaded again, a verified one never does.
#include <map>
#include <memory>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/piece_picker.h"
#include "storage/torrent_manager.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

std::span<const std::byte> bytes_of(std::string_view s)
{
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

class PickerStorageTest : public ::testing::Test
{
protected:
    PickerStorageTest()
        : manager(
            [this](torrent_data& d)
            {
                const auto& s = d.storage();
                auto p = std::make_unique<PiecePicker>(s.piece_count(), s.piece_length(), s.total_size(), 5);
                p->assign_have(s.have());
                picker = p.get();
                return p;
            },
            dir / "home/")
    {
    }

    void add(const test::made_torrent& t)
    {
        std::string hash;
        std::vector<std::string> urls;
        ASSERT_EQ(
            manager.add_torrent(dir.write("t.torrent", t.bytes), dir / "save/T", dir / "save", hash, urls),
            add_result::added);
        ASSERT_NE(picker, nullptr);
    }

    // The peer sends the block's bytes from the payload, the first byte flipped if asked.
    write_result deliver(const test::made_torrent& t, peer_key peer, block_request b, bool corrupt = false)
    {
        std::string data = t.payload.substr(std::uint64_t{b.index} * t.piece_length + b.offset, b.length);
        if (corrupt)
            data[0] = static_cast<char>(data[0] ^ 0x01);
        return manager.write_block_and_verify(t.info_hash, peer, b, bytes_of(data));
    }

    test::temp_dir dir;
    PiecePicker* picker = nullptr;
    torrent_manager manager;
};

TEST_F(PickerStorageTest, FailedPieceIsDownloadedAgainAndTheTorrentCompletes)
{
    // Three pieces of 32768, 32768 and 4464 bytes: five blocks.
    const auto t = test::make_multi_file(
        "T", {{{"a"}, test::pattern_bytes(40000, 1)}, {{"b"}, test::pattern_bytes(30000, 2)}}, 32768);
    add(t);
    ASSERT_TRUE(picker->set_peer_bitfield(1, std::vector<std::uint8_t>{0xE0}, 3));

    std::map<std::uint32_t, int> starts;
    bool corrupted = false;
    write_result last = write_result::nothing_stored;
    std::vector<block_request> list;
    for (int round = 0; round < 20 && last != write_result::torrent_done; ++round)
    {
        ASSERT_TRUE(picker->pick_block(1, list));
        ASSERT_FALSE(list.empty()) << "nothing left to ask for before the torrent was complete";
        const block_request b = list.back();
        list.pop_back();
        if (b.offset == 0)
            ++starts[b.index];
        const bool corrupt = b.index == 1 && !corrupted;
        corrupted = corrupted || corrupt;
        last = deliver(t, 1, b, corrupt);
        if (corrupt)
        {
            EXPECT_EQ(last, write_result::stored);
        }
        if (last == write_result::piece_done || last == write_result::torrent_done)
        {
            const bool stored_have = manager.find_torrent(t.info_hash)->storage().have().test(b.index);
            EXPECT_EQ(picker->have(b.index), stored_have);
        }
    }
    EXPECT_EQ(last, write_result::torrent_done);
    EXPECT_EQ(starts[0], 1);
    EXPECT_EQ(starts[1], 2) << "the corrupted piece is started again from scratch";
    EXPECT_EQ(starts[2], 1);
    EXPECT_EQ(picker->have_count(), 3U);
    EXPECT_FALSE(picker->still_interesting(1));
    EXPECT_EQ(picker->partial_piece_count(), 0U);
}

TEST_F(PickerStorageTest, DuplicateFromEndGameIsNotStoredTwice)
{
    const auto t = test::make_single_file("f", test::pattern_bytes(20000, 3), 32768); // one piece, two blocks
    add(t);
    ASSERT_TRUE(picker->set_peer_bitfield(1, std::vector<std::uint8_t>{0x80}, 1));
    ASSERT_TRUE(picker->set_peer_bitfield(2, std::vector<std::uint8_t>{0x80}, 1));
    std::vector<block_request> a, b;
    ASSERT_TRUE(picker->pick_block(1, a));
    ASSERT_TRUE(picker->pick_block(1, a));
    ASSERT_TRUE(picker->pick_block(2, b)); // end game: the first block again
    ASSERT_EQ(b.size(), 1U);
    ASSERT_EQ(b[0], a[0]);

    EXPECT_EQ(deliver(t, 2, b[0]), write_result::stored);
    EXPECT_EQ(deliver(t, 1, a[0]), write_result::not_wanted);
    EXPECT_EQ(deliver(t, 1, a[1]), write_result::torrent_done);
    EXPECT_TRUE(picker->have(0));
}

} // namespace
} // namespace torrent
