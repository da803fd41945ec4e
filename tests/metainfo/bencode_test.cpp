#include "metainfo/bencode.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"
#include "metainfo/bvalue.h"

namespace torrent
{
namespace
{

// Decodes text with the stream decoder; answers whether the stream stayed good.
bool read(const std::string& text, bvalue& out)
{
    std::istringstream in(text);
    read_bvalue(in, out);
    return static_cast<bool>(in);
}

std::string reencode(const std::string& text)
{
    bvalue v;
    EXPECT_TRUE(read(text, v)) << text;
    std::ostringstream out;
    write_bvalue(out, v);
    return out.str();
}

TEST(BencodeStream, DecodesIntegersAsTheGrammarAllows)
{
    bvalue v;
    ASSERT_TRUE(read("i-0e", v));
    EXPECT_EQ(v.as_int64(), 0);
    ASSERT_TRUE(read("i007e", v));
    EXPECT_EQ(v.as_int64(), 7);
    ASSERT_TRUE(read("i-9223372036854775808e", v));
    EXPECT_EQ(v.as_int64(), INT64_MIN);
    ASSERT_TRUE(read("i9223372036854775807e", v));
    EXPECT_EQ(v.as_int64(), INT64_MAX);
    EXPECT_FALSE(read("i+5e", v));
    EXPECT_EQ(v.kind(), bvalue_kind::none);
}

// Found by fuzzing: a 19-digit value behind leading zeros must re-encode to bencoding that
// decodes to the same value.
TEST(BencodeStream, FuzzRegressionLongIntegerRoundTrips)
{
    bvalue v;
    ASSERT_TRUE(read("i007700700070070070077e;e", v));
    EXPECT_EQ(v.as_int64(), 7700700070070070077);
    EXPECT_EQ(encode_bvalue(v), "i7700700070070070077e");
    EXPECT_EQ(reencode("i7700700070070070077e"), "i7700700070070070077e");
}

TEST(BencodeStream, RejectsIntegersWithoutDigitsOrOutOfRange)
{
    bvalue v;
    for (const char* text :
         {"ie",
          "i-e",
          "i--1e",
          "i9223372036854775808e",
          "i-9223372036854775809e",
          "i99999999999999999999e",
          "i12",
          "i12x"})
    {
        EXPECT_FALSE(read(text, v)) << text;
        EXPECT_EQ(v.kind(), bvalue_kind::none) << text;
    }
}

TEST(BencodeStream, DecodesStringsWithAnyBytes)
{
    bvalue v;
    ASSERT_TRUE(read("4:spam", v));
    EXPECT_EQ(v.as_string(), "spam");
    ASSERT_TRUE(read("0:", v));
    EXPECT_EQ(v.as_string(), "");
    ASSERT_TRUE(read(std::string("3:a\0b", 5), v));
    EXPECT_EQ(v.as_string(), std::string("a\0b", 3));
    EXPECT_FALSE(read("3:ab", v));
    EXPECT_FALSE(read("3ab", v));
    // A length beyond 32 bits fails without trying to allocate it.
    EXPECT_FALSE(read("99999999999:x", v));
    // A huge but representable length in a short input fails without a huge allocation.
    EXPECT_FALSE(read("2000000000:x", v));
}

TEST(BencodeStream, LastOfRepeatedKeysWinsAndReencodingSorts)
{
    bvalue v;
    ASSERT_TRUE(read("d3:fooi1e3:fooi2ee", v));
    EXPECT_EQ(v.as_dict().size(), 1U);
    EXPECT_EQ(v["foo"].as_int64(), 2);
    EXPECT_EQ(reencode("d3:fooi1e3:fooi2ee"), "d3:fooi2ee");
    EXPECT_EQ(reencode("d3:zzzi1e3:aaai2ee"), "d3:aaai2e3:zzzi1ee");
}

TEST(BencodeStream, KeysSortAsUnsignedBytesWithPrefixFirst)
{
    EXPECT_EQ(
        reencode("d2:\xff"
                 "ai1e1:ai2e2:abi3ee"),
        "d1:ai2e2:abi3e2:\xff"
        "ai1ee");
}

TEST(BencodeStream, TruncatedContainersFailAndLeaveRootEmpty)
{
    bvalue v;
    for (const char* text : {"l", "d", "li1e", "d3:foo", "d3:fooi1e", "", "x", "e"})
    {
        EXPECT_FALSE(read(text, v)) << text;
        EXPECT_EQ(v.kind(), bvalue_kind::none) << text;
    }
}

TEST(BencodeStream, StopsAfterOneValue)
{
    std::istringstream in("i1eTRAILING");
    bvalue v;
    read_bvalue(in, v);
    ASSERT_TRUE(in);
    EXPECT_EQ(v.as_int64(), 1);
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "TRAILING");
}

TEST(BencodeStream, WhiteSpaceBeforeAKeyLengthIsSkipped)
{
    bvalue v;
    ASSERT_TRUE(read("d 3:fooi1ee", v));
    EXPECT_EQ(v["foo"].as_int64(), 1);
}

TEST(BencodeStream, NestingDepthIsLimited)
{
    bvalue v;
    const int ok_depth = max_bencode_depth;
    ASSERT_TRUE(read(std::string(ok_depth, 'l') + std::string(ok_depth, 'e'), v));
    EXPECT_FALSE(read(std::string(ok_depth + 1, 'l') + std::string(ok_depth + 1, 'e'), v));
    EXPECT_EQ(v.kind(), bvalue_kind::none);
    // Far deeper input fails cleanly instead of exhausting the stack.
    EXPECT_FALSE(read(std::string(1000000, 'l'), v));
    EXPECT_FALSE(read(std::string(1000000, 'd'), v));
    std::string deep_dicts;
    for (int i = 0; i < 100000; ++i)
        deep_dicts += "d1:a";
    EXPECT_FALSE(read(deep_dicts, v));
    EXPECT_EQ(decode_bvalue(deep_dicts, v), 0U);
}

TEST(BencodeBuffer, MatchesTheStreamDecoderAndRecordsSources)
{
    const std::string text = "d4:infod4:name1:xe3:numi5ee...";
    bvalue v;
    EXPECT_EQ(decode_bvalue(text, v), text.size() - 3);
    const bvalue& info = v["info"];
    EXPECT_EQ(text.substr(info.source_offset(), info.source_length()), "d4:name1:xe");
    EXPECT_EQ(text.substr(v["num"].source_offset(), v["num"].source_length()), "i5e");
    EXPECT_EQ(decode_bvalue("i5", v), 0U);
    EXPECT_EQ(v.kind(), bvalue_kind::none);
}

TEST(BencodeEncoder, NoneWritesNothing)
{
    bvalue list = bvalue::make_list();
    list.append();
    EXPECT_EQ(encode_bvalue(list), "le");
    EXPECT_EQ(encode_bvalue(bvalue()), "");
    bvalue d = bvalue::make_dictionary();
    d.slot("n") = bvalue(std::int64_t{-3});
    d.slot("s") = bvalue(std::string("ab"));
    EXPECT_EQ(encode_bvalue(d), "d1:ni-3e1:s2:abe");
}

TEST(BvalueAccessors, ThrowKindMismatchOnWrongKindOrAbsentKey)
{
    bvalue v;
    ASSERT_TRUE(read("d1:ai4294967297e1:b1:xe", v));
    EXPECT_EQ(v["a"].as_int32(), 1); // low 32 bits
    EXPECT_EQ(v["a"].as_int64(), 4294967297);
    EXPECT_TRUE(v.has_key("b"));
    EXPECT_FALSE(v.has_key("c"));
    EXPECT_FALSE(v["b"].has_key("b"));
    const auto code_of = [](auto&& f) -> int
    {
        try
        {
            f();
        }
        catch (const base_error& e)
        {
            EXPECT_EQ(e.what()[0], static_cast<char>(e.code()));
            EXPECT_EQ(e.what()[1], '\0');
            return e.code();
        }
        return -1;
    };
    EXPECT_EQ(code_of([&] { (void)v["c"]; }), err::kind_mismatch);
    EXPECT_EQ(code_of([&] { (void)v["b"].as_int64(); }), err::kind_mismatch);
    EXPECT_EQ(code_of([&] { (void)v["a"].as_string(); }), err::kind_mismatch);
    EXPECT_EQ(code_of([&] { (void)v["a"].as_list(); }), err::kind_mismatch);
    EXPECT_EQ(code_of([&] { (void)v["b"]["x"]; }), err::kind_mismatch);
}

TEST(BvalueAccessors, CopyIsDeep)
{
    bvalue v;
    ASSERT_TRUE(read("d1:al1:xee", v));
    bvalue copy = v;
    v.reset();
    EXPECT_EQ(v.kind(), bvalue_kind::none);
    EXPECT_EQ(copy["a"].as_list().at(0).as_string(), "x");
}

} // namespace
} // namespace torrent
