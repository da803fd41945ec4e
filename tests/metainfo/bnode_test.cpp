#include "metainfo/bnode.h"

#include <string>

#include <gtest/gtest.h>

#include "metainfo/bvalue.h"

namespace torrent
{
namespace
{

TEST(BnodeParser, IntegersFollowCConversionRules)
{
    auto n = parse_bnode("i0x10e");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->kind(), bnode_kind::integer);
    EXPECT_EQ(n->integer(), 16);
    EXPECT_EQ(parse_bnode("i010e")->integer(), 8);
    EXPECT_EQ(parse_bnode("i-42e")->integer(), -42);
    EXPECT_EQ(parse_bnode("i-42e")->count(), static_cast<std::uint64_t>(-42));
    // 39 characters is the longest integer text.
    EXPECT_NE(parse_bnode("i" + std::string(38, '0') + "7e"), nullptr);
    EXPECT_EQ(parse_bnode("i" + std::string(39, '0') + "7e"), nullptr);
    for (const char* bad : {"ie", "i-e", "ixe", "i99999999999999999999e", "i5", ""})
        EXPECT_EQ(parse_bnode(bad), nullptr) << bad;
}

TEST(BnodeParser, StringsNeedTheirWholeLength)
{
    auto n = parse_bnode("5:hello");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->kind(), bnode_kind::string);
    EXPECT_EQ(n->str(), "hello");
    EXPECT_EQ(n->count(), 5U);
    EXPECT_EQ(n->c_str()[5], '\0');
    EXPECT_EQ(parse_bnode("0:")->str(), "");
    EXPECT_EQ(parse_bnode("5:abc"), nullptr);
    // 31 characters is the longest length text.
    EXPECT_NE(parse_bnode(std::string(30, '0') + "1:x"), nullptr);
    EXPECT_EQ(parse_bnode(std::string(31, '0') + "1:x"), nullptr);
    EXPECT_EQ(parse_bnode("4294967296:x"), nullptr);
}

TEST(BnodeParser, DictionariesKeepInputOrderAndDuplicates)
{
    auto n = parse_bnode("d8:intervali1800e5:peersl1:a1:be8:intervali60ee");
    ASSERT_NE(n, nullptr);
    ASSERT_EQ(n->kind(), bnode_kind::dictionary);
    ASSERT_EQ(n->size(), 3U);
    EXPECT_EQ(n->key(1), "peers");
    EXPECT_EQ(bnode_find(n.get(), "interval")->integer(), 1800);
    const bnode* peers = bnode_find(n.get(), "peers");
    ASSERT_NE(peers, nullptr);
    EXPECT_EQ(peers->kind(), bnode_kind::list);
    EXPECT_EQ(peers->child(1).str(), "b");
    EXPECT_EQ(bnode_find(n.get(), "absent"), nullptr);
    EXPECT_EQ(bnode_find(peers, "a"), nullptr);
    EXPECT_EQ(bnode_find(nullptr, "a"), nullptr);
}

TEST(BnodeParser, MalformedInputYieldsNull)
{
    for (const char* bad : {"l", "d", "li1e", "d3:foo", "d3:fooi1e", "x", "e", "d3:fooXe", "lxe"})
        EXPECT_EQ(parse_bnode(bad), nullptr) << bad;
}

TEST(BnodeParser, NestingDepthIsLimited)
{
    const int ok = max_bencode_depth;
    EXPECT_NE(parse_bnode(std::string(ok, 'l') + std::string(ok, 'e')), nullptr);
    EXPECT_EQ(parse_bnode(std::string(ok + 1, 'l') + std::string(ok + 1, 'e')), nullptr);
    EXPECT_EQ(parse_bnode(std::string(1000000, 'l')), nullptr);
}

TEST(BnodeParser, LeavesItsInputUnchanged)
{
    const std::string original = "d5:peersl4:abcdi12345ee3:numi0x1Fee";
    std::string buffer = original;
    auto n = parse_bnode(std::string_view(buffer));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(buffer, original);
    EXPECT_EQ(bnode_find(n.get(), "num")->integer(), 31);
    // A field that runs to the end of the buffer is never written past or terminated.
    std::string tail = "i123";
    EXPECT_EQ(parse_bnode(std::string_view(tail)), nullptr);
    EXPECT_EQ(tail, "i123");
}

TEST(BnodeParser, ManyChildrenParseInLinearTime)
{
    // 200,000 compact-peer strings; one-by-one growth of the children array would be quadratic.
    std::string text = "l";
    for (int i = 0; i < 200000; ++i)
        text += "6:abcdef";
    text += "e";
    auto n = parse_bnode(text);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->size(), 200000U);
}

} // namespace
} // namespace torrent
