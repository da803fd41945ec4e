#include "storage/bitfield.h"

#include <gtest/gtest.h>

#include "metainfo/base_error.h"

namespace torrent
{
namespace
{

TEST(Bitfield, BitZeroIsTheTopBitOfTheFirstByte)
{
    bitfield b(10);
    ASSERT_EQ(b.byte_count(), 2u);
    b.set(0, true);
    b.set(9, true);
    EXPECT_EQ(b.bytes()[0], 0x80);
    EXPECT_EQ(b.bytes()[1], 0x40);
    b.set(10, true); // past the end: ignored
    EXPECT_EQ(b.bytes()[1], 0x40);
    EXPECT_EQ(b.count(), 2u);
    b.set(0, false);
    EXPECT_FALSE(b.test(0));
    EXPECT_TRUE(b.test(9));
}

TEST(Bitfield, AllNeedsEveryValidBitAndNothingMore)
{
    bitfield b(10);
    EXPECT_TRUE(b.none());
    for (std::uint32_t i = 0; i < 9; ++i)
        b.set(i, true);
    EXPECT_FALSE(b.all());
    b.set(9, true);
    EXPECT_TRUE(b.all());
    EXPECT_FALSE(b.none());
    bitfield full(10);
    full.set_all();
    EXPECT_EQ(full.bytes()[1], 0xC0); // spare bits stay clear
    EXPECT_EQ(full, b);
    EXPECT_FALSE(bitfield().all());
    EXPECT_TRUE(bitfield().none());
}

TEST(Bitfield, FromBytesDropsSpareBitsAndPadsShortInput)
{
    bitfield b;
    const std::uint8_t bytes[] = {0xFF, 0xFF};
    b.from_bytes(bytes, 12);
    EXPECT_EQ(b.count(), 12u);
    EXPECT_EQ(b.bytes()[1], 0xF0);
    const std::uint8_t one[] = {0x01};
    b.from_bytes(one, 16);
    EXPECT_EQ(b.count(), 1u);
    EXPECT_TRUE(b.test(7));
}

TEST(Bitfield, CombiningDifferentSizesRaisesCode3)
{
    bitfield a(16);
    bitfield b(17);
    try
    {
        a.and_not(b);
        FAIL();
    }
    catch (const base_error& e)
    {
        EXPECT_EQ(e.code(), err::bitfield_size_mismatch);
    }
    EXPECT_THROW(a.and_with(b), base_error);
    bitfield c(16);
    a.set_all();
    c.set(3, true);
    a.and_not(c);
    EXPECT_EQ(a.count(), 15u);
    EXPECT_FALSE(a.test(3));
    a.and_with(c);
    EXPECT_TRUE(a.none());
}

} // namespace
} // namespace torrent
