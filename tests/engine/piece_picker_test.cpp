#include "engine/piece_picker.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"

namespace torrent
{

void PrintTo(const block_request& b, std::ostream* os);

void PrintTo(const block_request& b, std::ostream* os)
{
    *os << "(" << b.index << ", " << b.offset << ", " << b.length << ")";
}

namespace
{

constexpr std::uint32_t bs = picker_block_size;

block_request blk(std::uint32_t index, std::uint32_t offset, std::uint32_t length)
{
    block_request b;
    b.index = index;
    b.offset = offset;
    b.length = length;
    return b;
}

// Wire bytes from a string of '0'/'1', one character per piece.
std::vector<std::uint8_t> bits_of(const std::string& s)
{
    std::vector<std::uint8_t> out((s.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < s.size(); ++i)
    {
        if (s[i] == '1')
            out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | (0x80U >> (i % 8)));
    }
    return out;
}

bool give(PiecePicker& picker, peer_key peer, const std::string& s)
{
    return picker.set_peer_bitfield(peer, bits_of(s), static_cast<std::uint32_t>(s.size()));
}

// A picker whose search always starts at the given byte.
PiecePicker
make(std::uint32_t pieces, std::uint32_t piece_length, std::uint64_t total, std::uint32_t start = 0)
{
    PiecePicker picker(pieces, piece_length, total, 1);
    picker.set_random_source([start](std::uint32_t bound) { return start % bound; });
    return picker;
}

std::vector<block_request> pick_all(PiecePicker& picker, peer_key peer, std::vector<block_request>& list)
{
    std::vector<block_request> got;
    for (int i = 0; i < 100; ++i)
    {
        const std::size_t before = list.size();
        EXPECT_TRUE(picker.pick_block(peer, list));
        if (list.size() == before)
            break;
        got.push_back(list.back());
    }
    return got;
}

TEST(PiecePickerBlocks, CutsWholeBlocksThenTheShorterRemainder)
{
    auto picker = make(1, 40000, 40000);
    ASSERT_TRUE(give(picker, 0, "1"));
    std::vector<block_request> list;
    const auto got = pick_all(picker, 0, list);
    const std::vector<block_request> want{blk(0, 0, bs), blk(0, bs, bs), blk(0, 2 * bs, 7232)};
    EXPECT_EQ(got, want);
}

TEST(PiecePickerBlocks, ExactMultipleHasNoRemainderAndLastPieceIsShort)
{
    auto picker = make(2, 32768, 32768 + 100);
    ASSERT_TRUE(give(picker, 0, "11"));
    std::vector<block_request> list;
    auto got = pick_all(picker, 0, list);
    ASSERT_EQ(got.size(), 3U);
    EXPECT_EQ(got[0], (blk(0, 0, bs)));
    EXPECT_EQ(got[1], (blk(0, bs, bs)));
    EXPECT_EQ(got[2], (blk(1, 0, 100)));
}

TEST(PiecePickerPasses, StartedPieceStaysWithItsPeerWhileOthersStartTheirOwn)
{
    auto picker = make(16, 4 * bs, 16 * 4 * bs);
    ASSERT_TRUE(give(picker, 0, "1111111111111111"));
    ASSERT_TRUE(give(picker, 1, "1111111111111111"));
    std::vector<block_request> a, b;
    ASSERT_TRUE(picker.pick_block(0, a));
    ASSERT_TRUE(picker.pick_block(1, b));
    ASSERT_TRUE(picker.pick_block(0, a));
    EXPECT_NE(a[0].index, b[0].index);
    EXPECT_EQ(a[1], (blk(a[0].index, bs, bs)));
}

TEST(PiecePickerPasses, PeerWithoutNewPiecesFillsInFreeBlocks)
{
    auto picker = make(2, 4 * bs, 8 * bs);
    ASSERT_TRUE(give(picker, 0, "10"));
    ASSERT_TRUE(give(picker, 1, "10"));
    std::vector<block_request> a, b;
    ASSERT_TRUE(picker.pick_block(0, a)); // starts piece 0 for peer 0
    ASSERT_EQ(a.back().index, 0U);
    ASSERT_TRUE(picker.pick_block(1, b));
    EXPECT_EQ(b.back(), (blk(0, bs, bs)));
    EXPECT_EQ(picker.owner_of(b.back()), 1U);
}

TEST(PiecePickerPasses, BlockReleasedAfterChokeSkipsAffinityAndGoesToFillIn)
{
    auto picker = make(1, 4 * bs, 4 * bs);
    ASSERT_TRUE(give(picker, 0, "1"));
    std::vector<block_request> a;
    ASSERT_TRUE(picker.pick_block(0, a));
    ASSERT_TRUE(picker.pick_block(0, a));
    // Choked: both requests go back and the list is emptied.
    for (const auto& r : a)
        picker.release(r);
    EXPECT_EQ(picker.state_of(blk(0, 0, bs)), block_state::free);
    EXPECT_EQ(picker.owner_of(blk(0, 0, bs)), no_peer);
    a.clear();
    // The blocks still kept for the peer come first, then the released ones.
    const auto got = pick_all(picker, 0, a);
    const std::vector<block_request> want{
        blk(0, 2 * bs, bs), blk(0, 3 * bs, bs), blk(0, 0, bs), blk(0, bs, bs)};
    EXPECT_EQ(got, want);
}

TEST(PiecePickerPasses, EndGameDuplicatesAnotherPeersRequestsOnce)
{
    auto picker = make(1, 2 * bs, 2 * bs);
    ASSERT_TRUE(give(picker, 0, "1"));
    ASSERT_TRUE(give(picker, 1, "1"));
    std::vector<block_request> a, b;
    EXPECT_EQ(pick_all(picker, 0, a).size(), 2U);
    const auto got = pick_all(picker, 1, b);
    const std::vector<block_request> want{blk(0, 0, bs), blk(0, bs, bs)};
    EXPECT_EQ(got, want);
    // The first answer completes the block; the late duplicate changes nothing.
    EXPECT_FALSE(picker.mark_received(1, blk(0, 0, bs)));
    EXPECT_FALSE(picker.mark_received(0, blk(0, 0, bs)));
    EXPECT_TRUE(picker.mark_received(0, blk(0, bs, bs)));
}

TEST(PiecePickerPasses, DuplicateFreedByAnotherPeersChokeIsNotAskedTwice)
{
    auto picker = make(1, 2 * bs, 2 * bs);
    ASSERT_TRUE(give(picker, 0, "1"));
    ASSERT_TRUE(give(picker, 1, "1"));
    std::vector<block_request> a, b;
    EXPECT_EQ(pick_all(picker, 0, a).size(), 2U);
    ASSERT_TRUE(picker.pick_block(1, b)); // end game: block 0 asked of peer 1 too
    picker.release(b[0]); // peer 1 chokes us: block 0 is free again
    b.clear();
    ASSERT_TRUE(picker.pick_block(0, a));
    EXPECT_EQ(a.size(), 2U) << "peer 0 still waits for block 0";
    ASSERT_TRUE(picker.pick_block(1, b));
    EXPECT_EQ(b, std::vector<block_request>{blk(0, 0, bs)});
}

TEST(PiecePickerPasses, EndGameLastResortReasksOwnBlockDroppedFromTheList)
{
    auto picker = make(1, 2 * bs, 2 * bs);
    ASSERT_TRUE(give(picker, 0, "1"));
    std::vector<block_request> a;
    EXPECT_EQ(pick_all(picker, 0, a).size(), 2U);
    a.erase(a.begin()); // the connection forgot the first request without releasing it
    ASSERT_TRUE(picker.pick_block(0, a));
    EXPECT_EQ(a.back(), (blk(0, 0, bs)));
}

// Many peers requesting, receiving and being choked at random: no peer ever holds the same
// block twice, and the download finishes with every piece.
TEST(PiecePickerPasses, RandomTrafficNeverRepeatsABlockToOnePeerAndFinishes)
{
    constexpr std::uint32_t pieces = 40;
    PiecePicker picker(pieces, 3 * bs - 5, std::uint64_t{pieces} * (3 * bs - 5) - 1000, 7);
    std::mt19937 rng(12345);
    std::vector<std::vector<block_request>> lists(6);
    for (peer_key p = 0; p < lists.size(); ++p)
    {
        std::string s(pieces, '0');
        for (auto& c : s)
            c = (rng() % 3 != 0 || p == 0) ? '1' : '0';
        give(picker, p, s);
    }
    int steps = 0;
    for (; picker.have_count() < pieces && steps < 200000; ++steps)
    {
        const auto p = static_cast<peer_key>(rng() % lists.size());
        auto& list = lists[p];
        const auto action = rng() % 10;
        if (action < 5 && list.size() < 16)
        {
            ASSERT_TRUE(picker.pick_block(p, list));
            for (std::size_t i = 0; i + 1 < list.size(); ++i)
                ASSERT_NE(list[i], list.back()) << "peer " << p << " asked twice";
        }
        else if (action < 9 && !list.empty())
        {
            const block_request b = list.front();
            list.erase(list.begin());
            if (picker.mark_received(p, b))
                picker.set_have(b.index, true);
        }
        else
        {
            for (const auto& b : list)
                picker.release(b);
            list.clear();
        }
    }
    EXPECT_EQ(picker.have_count(), pieces) << "after " << steps << " steps";
    EXPECT_EQ(picker.partial_piece_count(), 0U);
}

TEST(PiecePickerChoice, EqualKeysTakeTheFirstPieceOfTheFirstByteAfterTheStart)
{
    const std::string peer = "00010100"
                             "00000000"
                             "01001000"
                             "00000000";
    for (const auto& [start, want] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 3}, {1, 17}, {2, 17}, {3, 3}})
    {
        auto picker = make(32, bs, 32 * bs, start);
        ASSERT_TRUE(give(picker, 0, peer));
        ASSERT_TRUE(give(picker, 1, peer)); // every candidate held by two peers: equal keys of 1
        std::vector<block_request> list;
        ASSERT_TRUE(picker.pick_block(0, list));
        EXPECT_EQ(list.back().index, want) << "start byte " << start;
    }
}

TEST(PiecePickerChoice, SearchWrapsAcrossWordsAndSkipsPiecesInProgressOrHeld)
{
    std::string peer(200, '0');
    peer[9] = peer[10] = peer[150] = '1';
    auto picker = make(200, bs, 200 * bs, 3); // byte 3 onwards: byte 18 holds piece 150
    ASSERT_TRUE(give(picker, 0, peer));
    std::vector<block_request> list;
    ASSERT_TRUE(picker.pick_block(0, list));
    EXPECT_EQ(list.back().index, 150U);
    picker.set_have(9, true);
    ASSERT_TRUE(give(picker, 1, peer));
    std::vector<block_request> other;
    ASSERT_TRUE(picker.pick_block(1, other)); // wraps to byte 1: 9 held, 10 left
    EXPECT_EQ(other.back().index, 10U);
}

TEST(PiecePickerChoice, RarestPieceOfTheByteWins)
{
    // Availability of pieces 0, 1, 2 (the asking peer counted): 3, 1, 2.
    auto picker = make(8, bs, 8 * bs);
    ASSERT_TRUE(give(picker, 1, "10100000"));
    ASSERT_TRUE(give(picker, 2, "10000000"));
    ASSERT_TRUE(give(picker, 0, "11100000"));
    EXPECT_EQ(picker.availability(0), 3);
    EXPECT_EQ(picker.availability(1), 1);
    EXPECT_EQ(picker.availability(2), 2);
    std::vector<block_request> list;
    ASSERT_TRUE(picker.pick_block(0, list));
    EXPECT_EQ(list.back().index, 1U);
}

TEST(PiecePickerChoice, AvailabilityFollowsHavesAndDepartures)
{
    auto picker = make(8, bs, 8 * bs);
    ASSERT_TRUE(give(picker, 0, "11000000"));
    ASSERT_TRUE(give(picker, 1, "01000000"));
    EXPECT_EQ(picker.peer_has_piece(2, 0), peer_have_result::interesting); // no bitfield sent
    EXPECT_EQ(picker.peer_has_piece(2, 0), peer_have_result::interesting); // counted once
    EXPECT_EQ(picker.availability(0), 2);
    EXPECT_EQ(picker.availability(1), 2);
    picker.peer_gone(1);
    EXPECT_EQ(picker.availability(1), 1);
    std::vector<block_request> list;
    ASSERT_TRUE(picker.pick_block(0, list)); // piece 1 is now the rarer one
    EXPECT_EQ(list.back().index, 1U);
    // A new bitfield from the same peer replaces its old share.
    ASSERT_TRUE(give(picker, 0, "10000000"));
    EXPECT_EQ(picker.availability(1), 0);
}

TEST(PiecePickerVerification, FailedPieceCanBeStartedAgainFromScratch)
{
    auto picker = make(1, 2 * bs, 2 * bs);
    ASSERT_TRUE(give(picker, 0, "1"));
    std::vector<block_request> list;
    pick_all(picker, 0, list);
    EXPECT_FALSE(picker.mark_received(0, list[0]));
    EXPECT_TRUE(picker.mark_received(0, list[1]));
    EXPECT_FALSE(picker.mark_received(0, list[1]));
    EXPECT_TRUE(picker.is_received(list[0]));
    list.clear();
    EXPECT_TRUE(picker.pick_block(0, list));
    EXPECT_TRUE(list.empty()) << "a piece being checked is not asked for";

    picker.drop_piece(0);
    EXPECT_FALSE(picker.is_received(blk(0, 0, bs)));
    EXPECT_FALSE(picker.is_in_progress(0));
    const std::vector<block_request> want{blk(0, 0, bs), blk(0, bs, bs)};
    EXPECT_EQ(pick_all(picker, 0, list), want);
}

TEST(PiecePickerVerification, VerifiedPieceLeavesTheDownloadAndInterest)
{
    auto picker = make(2, bs, 2 * bs);
    ASSERT_TRUE(give(picker, 0, "10"));
    std::vector<block_request> list;
    ASSERT_TRUE(picker.pick_block(0, list));
    ASSERT_TRUE(picker.mark_received(0, list[0]));
    picker.set_have(0, true);
    EXPECT_FALSE(picker.is_in_progress(0));
    EXPECT_FALSE(picker.still_interesting(0));
    try
    {
        picker.drop_piece(0);
        FAIL() << "dropping a piece that is not being downloaded must throw";
    }
    catch (const base_error& e)
    {
        EXPECT_EQ(e.code(), err::not_available);
    }
}

TEST(PiecePickerVerification, ForeignOrMisshapenBlocksAreIgnored)
{
    auto picker = make(2, 40000, 80000);
    ASSERT_TRUE(give(picker, 0, "11"));
    std::vector<block_request> list;
    ASSERT_TRUE(picker.pick_block(0, list));
    const std::uint32_t p = list[0].index;
    EXPECT_FALSE(picker.mark_received(0, blk(p, 2 * bs, bs))); // wrong length of the last block
    EXPECT_FALSE(picker.mark_received(0, blk(p, 100, bs))); // not on a block boundary
    EXPECT_FALSE(picker.mark_received(0, blk(1 - p, 0, bs))); // piece not started
    EXPECT_FALSE(picker.mark_received(0, blk(9, 0, bs))); // beyond the torrent
    picker.release(blk(9, 0, bs));
    EXPECT_EQ(picker.state_of(list[0]), block_state::requested);
}

TEST(PiecePickerPeers, BitfieldSizeInterestAndTwoCompleteSides)
{
    auto picker = make(10, bs, 10 * bs);
    EXPECT_FALSE(picker.set_peer_bitfield(0, bits_of("111111111"), 9));
    EXPECT_FALSE(give(picker, 0, "0000000000"));
    EXPECT_TRUE(picker.has_bitfield(0));
    EXPECT_TRUE(give(picker, 0, "0000000001"));

    picker.assign_have(bits_of("1111111111"));
    EXPECT_FALSE(picker.still_interesting(0));
    EXPECT_FALSE(give(picker, 1, "1111111111"));
    EXPECT_FALSE(picker.has_bitfield(1));
    std::vector<block_request> list;
    EXPECT_FALSE(picker.pick_block(1, list));
    // Spare bits past the piece count mean nothing.
    EXPECT_FALSE(picker.is_interesting(std::vector<std::uint8_t>{0xFF, 0xFF}, 10));
    picker.set_have(9, false);
    EXPECT_TRUE(picker.is_interesting(std::vector<std::uint8_t>{0x00, 0x40}, 10));
    EXPECT_FALSE(picker.is_interesting(std::vector<std::uint8_t>{0x00, 0x40, 0x00}, 10));
}

TEST(PiecePickerPeers, HaveAnswersTellInterestAndCompleteness)
{
    auto picker = make(3, bs, 3 * bs);
    picker.assign_have(bits_of("100"));
    EXPECT_EQ(picker.peer_has_piece(0, 0), peer_have_result::not_interesting);
    EXPECT_EQ(picker.peer_has_piece(0, 1), peer_have_result::interesting);
    EXPECT_EQ(picker.peer_has_piece(0, 2), peer_have_result::interesting_complete);
    EXPECT_TRUE(picker.peer_complete(0));
    picker.set_have(1, true);
    picker.set_have(2, true);
    EXPECT_FALSE(picker.still_interesting(0));
    EXPECT_EQ(picker.peer_has_piece(0, 2), peer_have_result::not_interesting_complete);
    EXPECT_EQ(picker.peer_has_piece(0, 3), peer_have_result::not_interesting);
}

TEST(PiecePickerPeers, PeerThatSentOnlyHavesGetsBlocks)
{
    auto picker = make(4, bs, 4 * bs);
    std::vector<block_request> list;
    EXPECT_FALSE(picker.pick_block(0, list));
    ASSERT_EQ(picker.peer_has_piece(0, 2), peer_have_result::interesting);
    ASSERT_TRUE(picker.pick_block(0, list));
    EXPECT_EQ(list.back(), (blk(2, 0, bs)));
}

TEST(PiecePickerPeers, DepartedPeersSlotDoesNotInheritItsKeptBlocks)
{
    auto picker = make(2, 4 * bs, 8 * bs);
    ASSERT_TRUE(give(picker, 0, "10"));
    std::vector<block_request> a;
    ASSERT_TRUE(picker.pick_block(0, a)); // piece 0 started for peer 0
    picker.release(a[0]);
    picker.peer_gone(0);
    EXPECT_EQ(picker.owner_of(blk(0, bs, bs)), no_peer);

    ASSERT_TRUE(give(picker, 0, "11")); // a new peer in the same slot
    std::vector<block_request> c;
    ASSERT_TRUE(picker.pick_block(0, c));
    EXPECT_EQ(c.back(), (blk(1, 0, bs))) << "a new piece comes before filling in";
}

TEST(PiecePickerVerdicts, EachCheckNamesTheSendersOfItsBlocksOnce)
{
    auto picker = make(2, 3 * bs, 6 * bs);
    picker.set_peer_bitfield(1, bits_of("11"), 2);
    picker.set_peer_bitfield(2, bits_of("11"), 2);
    std::vector<block_request> a;
    ASSERT_TRUE(picker.pick_block(1, a));
    ASSERT_EQ(a.back().index, 0U);
    // Peer 1 sends two blocks of piece 0, peer 2 the third (a fill-in).
    EXPECT_FALSE(picker.mark_received(1, blk(0, 0, bs)));
    EXPECT_FALSE(picker.mark_received(1, blk(0, bs, bs)));
    EXPECT_TRUE(picker.mark_received(2, blk(0, 2 * bs, bs)));
    std::vector<piece_verdict> v;
    picker.take_verdicts(v);
    EXPECT_TRUE(v.empty()); // complete, not yet checked
    picker.drop_piece(0);
    picker.take_verdicts(v);
    ASSERT_EQ(v.size(), 1U);
    EXPECT_EQ(v[0].piece, 0U);
    EXPECT_FALSE(v[0].passed);
    EXPECT_EQ(v[0].peers, (std::vector<peer_key>{1, 2}));

    // The piece again, from peer 2 alone, and this time it passes.
    std::vector<block_request> b;
    for (std::uint32_t k = 0; k < 3; ++k)
    {
        ASSERT_TRUE(picker.pick_block(2, b));
        EXPECT_EQ(picker.mark_received(2, b.back()), k == 2);
    }
    picker.piece_passed(b.back().index);
    v.clear();
    picker.take_verdicts(v);
    ASSERT_EQ(v.size(), 1U);
    EXPECT_TRUE(v[0].passed);
    EXPECT_EQ(v[0].peers, (std::vector<peer_key>{2}));
    v.clear();
    picker.take_verdicts(v);
    EXPECT_TRUE(v.empty());
}

} // namespace
} // namespace torrent
