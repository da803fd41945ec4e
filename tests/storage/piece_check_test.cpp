#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "base/event.h"
#include "metainfo/base_error.h"
#include "storage/torrent_storage.h"
#include "storage_fixture.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::payload_file;
using test::temp_dir;

class PieceCheckTest : public ::testing::Test
{
protected:
    void open(
        const std::vector<payload_file>& files,
        std::uint32_t piece_length,
        const file_selection_source* sel = nullptr)
    {
        torrent = test::make_multi_file("T", files, piece_length);
        test::write_payload(dir / "save/T", files);
        bool is_new = false;
        ASSERT_EQ(
            storage.open_storage(test::load_made(torrent), dir / "save", is_new, sel),
            open_storage_result::ok);
        bitmap.assign(storage.have().byte_count(), 0xAA);
    }

    bool check(unsigned pause_ms = 0, unsigned workers = 1)
    {
        return storage.full_check(
            check_progress{&downloaded, &checked}, stop, bitmap, {pause_ms, nullptr, workers});
    }

    temp_dir dir;
    test::made_torrent torrent;
    torrent_storage storage;
    std::vector<std::uint8_t> bitmap;
    std::atomic<std::uint64_t> downloaded{0};
    std::atomic<std::uint64_t> checked{0};
    event stop;
};

TEST_F(PieceCheckTest, CheckPieceRecordsOnlyMatchingData)
{
    auto files = std::vector<payload_file>{{{"a"}, test::pattern_bytes(40000, 1)}};
    open(files, 16384);
    // Corrupt piece 1 on disk, through a writable block.
    {
        block_request b{1, 100, 1, &storage, 0};
        const std::byte x{0x5A};
        ASSERT_TRUE(storage.write_block(b, std::span(&x, 1)));
    }
    piece_buffer p0 = storage.read_piece(0, false, true);
    EXPECT_TRUE(storage.check_piece(p0));
    EXPECT_TRUE(p0.spans().empty()); // released once recorded
    piece_buffer p1 = storage.read_piece(1, false, true);
    EXPECT_FALSE(storage.check_piece(p1));
    EXPECT_TRUE(storage.have().test(0));
    EXPECT_FALSE(storage.have().test(1));
    EXPECT_EQ(storage.have_count(), 1u);
    EXPECT_EQ(storage.have_bytes(), 16384u);
    // Present already: accepted with no further counting.
    piece_buffer again = storage.read_piece(0, false, true);
    EXPECT_TRUE(storage.check_piece(again));
    EXPECT_EQ(storage.have_count(), 1u);
    piece_buffer none(-1);
    EXPECT_FALSE(storage.check_piece(none));
    EXPECT_THROW(none.add(BlockHandle::placeholder(3)), base_error);
}

TEST_F(PieceCheckTest, SetHaveRefusesAnIndexPastTheEnd)
{
    open({{{"a"}, test::pattern_bytes(1000, 1)}}, 256);
    try
    {
        storage.set_have(storage.piece_count(), true);
        FAIL();
    }
    catch (const base_error& e)
    {
        EXPECT_EQ(e.code(), err::piece_unavailable);
    }
}

TEST_F(PieceCheckTest, FullCheckFindsExactlyThePiecesHoldingAFlippedByte)
{
    // A flipped byte at 16383 lies in piece 0 only; one at 32768 + 1000 in piece 2 only.
    std::vector<payload_file> files = {
        {{"a"}, test::pattern_bytes(30000, 1)}, {{"b"}, test::pattern_bytes(30000, 2)}};
    open(files, 16384);
    ASSERT_TRUE(check());
    EXPECT_TRUE(storage.have().all());
    EXPECT_EQ(storage.have_count(), 4u);
    EXPECT_EQ(bitmap[0], 0xF0);
    EXPECT_EQ(checked.load(), 4u * 16384u);

    test::flip_byte(dir / "save/T/a", 16383);
    test::flip_byte(dir / "save/T/b", 32768 + 1000 - 30000);
    ASSERT_TRUE(check());
    EXPECT_EQ(bitmap[0], 0x50); // pieces 1 and 3
    EXPECT_FALSE(storage.have().test(0));
    EXPECT_FALSE(storage.have().test(2));
    EXPECT_EQ(storage.have_count(), 2u); // a check starts the counters over
    EXPECT_EQ(storage.have_bytes(), 16384u + (60000u - 3u * 16384u));
}

TEST_F(PieceCheckTest, UnpacedCheckOnSeveralThreadsFindsTheSamePieces)
{
    std::vector<payload_file> files = {
        {{"a"}, test::pattern_bytes(300000, 1)},
        {{"b"}, test::pattern_bytes(3000, 2)},
        {{"c"}, test::pattern_bytes(200001, 3)},
    };
    open(files, 4096);
    for (const std::uint64_t at : {0ull, 4095ull, 150000ull, 299999ull})
        test::flip_byte(dir / "save/T/a", at);
    test::flip_byte(dir / "save/T/c", 200000);
    ASSERT_TRUE(check(0, 1));
    const std::vector<std::uint8_t> serial = bitmap;
    const std::uint32_t count = storage.have_count();
    std::fill(bitmap.begin(), bitmap.end(), 0x55);
    ASSERT_TRUE(check(0, 3));
    EXPECT_EQ(bitmap, serial);
    EXPECT_EQ(storage.have_count(), count);
    EXPECT_EQ(count, storage.piece_count() - 4); // pieces 0, 36, 73 and the last

    // A stop request ends it too.
    stop.set();
    EXPECT_FALSE(check(0, 3));
}

TEST_F(PieceCheckTest, FullCheckPassesOverPiecesOfUnselectedFilesWithoutWaiting)
{
    const std::vector<payload_file> files = {
        {{"a"}, test::pattern_bytes(16384 * 2, 1)},
        {{"b"}, test::pattern_bytes(16384 * 3 + 100, 2)},
        {{"c"}, test::pattern_bytes(16384, 3)},
    };
    const test::fixed_selection choice({true, false, true});
    open(files, 16384, &choice);
    // Pieces 2..5 touch b and hold no data to hash; piece 6 is c's tail alone. The progress
    // counters move (and the pause is taken) only for pieces with data.
    ASSERT_TRUE(check(0));
    EXPECT_EQ(bitmap[0], 0xC2);
    EXPECT_EQ(checked.load(), 3u * 16384u);
    EXPECT_EQ(downloaded.load(), 3u * 16384u);
    for (std::uint32_t i = 2; i < 6; ++i)
        EXPECT_FALSE(storage.have().test(i)) << i;
    EXPECT_TRUE(storage.have().test(6));
}

TEST_F(PieceCheckTest, StoppingEndsTheCheckAfterTheCurrentPiece)
{
    // A pause of a minute after each piece: once the first piece is counted the check waits
    // in that pause, and only the stop request can end it.
    open({{{"a"}, test::pattern_bytes(64 * 1024, 1)}}, 1024);
    auto done = std::async(std::launch::async, [&] { return check(60000); });
    ASSERT_TRUE(test::wait_until([&] { return checked.load() >= 1024; }));
    stop.set();
    ASSERT_EQ(done.wait_for(test::patience), std::future_status::ready);
    EXPECT_FALSE(done.get());
    EXPECT_EQ(checked.load(), 1024u);
    EXPECT_EQ(storage.have().count(), 1u);
    EXPECT_TRUE(storage.have().test(0));
}

} // namespace
} // namespace torrent
