#include "net/byte_queue.h"

#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

std::string_view text_of(const ByteQueue& q)
{
    return {reinterpret_cast<const char*>(q.data()), q.size()};
}

TEST(ByteQueue, GrowsInWholeKibiSteps)
{
    ByteQueue q;
    EXPECT_EQ(q.capacity(), 0u);
    q.append("a", 1);
    EXPECT_EQ(q.capacity(), 1024u);
    EXPECT_EQ(q.size(), 1u);

    const std::string big(1024, 'b');
    q.append(big.data(), big.size()); // 1025 needed
    EXPECT_EQ(q.capacity(), 2048u);
    q.append(big.data(), 1023); // exactly 2048
    EXPECT_EQ(q.capacity(), 2048u);
    EXPECT_EQ(q.size(), 2048u);
    EXPECT_EQ(text_of(q).substr(0, 2), "ab");
}

TEST(ByteQueue, ShrinksBackAfterBurst)
{
    ByteQueue q;
    q.append("0123456789", 10);
    q.reserve(600 * 1024 - 10);
    ASSERT_EQ(q.capacity(), 600u * 1024);
    q.append("abcdefghij", 10);
    EXPECT_EQ(q.capacity(), 256u * 1024);
    EXPECT_EQ(text_of(q), "0123456789abcdefghij");
}

TEST(ByteQueue, KeepsLargeBlockWhileDemandStaysHighOrBlockIsModest)
{
    ByteQueue large;
    large.reserve(600 * 1024);
    const std::string chunk(300 * 1024, 'x'); // needed >= 256 KiB: no shrink
    large.append(chunk.data(), chunk.size());
    EXPECT_EQ(large.capacity(), 600u * 1024);

    ByteQueue modest;
    modest.reserve(512 * 1024); // not past 512 KiB: no shrink
    modest.append("x", 1);
    EXPECT_EQ(modest.capacity(), 512u * 1024);
}

TEST(ByteQueue, ConsumeMovesRestToFrontAndIgnoresOutOfRange)
{
    ByteQueue q;
    q.append("hello world", 11);
    q.consume(0);
    EXPECT_EQ(text_of(q), "hello world");
    q.consume(12);
    EXPECT_EQ(text_of(q), "hello world");
    q.consume(6);
    EXPECT_EQ(text_of(q), "world");
    q.consume(5);
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.capacity(), 1024u); // memory kept for the next burst
}

TEST(ByteQueue, ReserveAndCommitReceiveInPlace)
{
    ByteQueue q;
    q.append("ab", 2);
    q.reserve(100);
    EXPECT_EQ(q.capacity(), 1024u); // room already there
    q.reserve(2000);
    EXPECT_EQ(q.capacity(), 2048u); // (2 + 2000) rounded up
    std::memcpy(q.tail(), "cd", 2);
    q.commit(2);
    EXPECT_EQ(text_of(q), "abcd");
}

TEST(ByteQueue, MoveTransfersTheBlock)
{
    ByteQueue a;
    a.append("xyz", 3);
    ByteQueue b(std::move(a));
    EXPECT_EQ(text_of(b), "xyz");
    EXPECT_EQ(a.capacity(), 0u); // NOLINT(bugprone-use-after-move): moved-from is empty
    a = std::move(b);
    EXPECT_EQ(text_of(a), "xyz");
}

} // namespace
} // namespace torrent
