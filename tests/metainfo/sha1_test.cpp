#include "metainfo/sha1.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"

namespace torrent
{
namespace
{

std::span<const std::byte> bytes_of(std::string_view s)
{
    return std::as_bytes(std::span(s.data(), s.size()));
}

TEST(Sha1, KnownDigestsAsUpperCaseHex)
{
    EXPECT_EQ(
        digest_to_hex(sha1(std::string_view("abc"), err::info_hash)),
        "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(
        digest_to_hex(sha1(std::string_view(""), err::info_hash)),
        "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    const std::string million(1000000, 'a');
    EXPECT_EQ(
        digest_to_hex(sha1(std::string_view(million), err::piece_hash)),
        "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST(Sha1, SpansHashAsTheirConcatenation)
{
    const std::string text = "The quick brown fox jumps over the lazy dog";
    const sha1_digest whole = sha1(std::string_view(text), err::piece_hash);
    EXPECT_EQ(digest_to_hex(whole), "2FD4E1C67A2D28FCED849EE1BB76E7391B93EB12");
    std::vector<std::span<const std::byte>> spans;
    const std::string_view view(text);
    spans.push_back(bytes_of(view.substr(0, 4)));
    spans.push_back(bytes_of(view.substr(4, 0)));
    spans.push_back(bytes_of(view.substr(4, 20)));
    spans.push_back(bytes_of(view.substr(24)));
    EXPECT_EQ(sha1(spans, err::piece_hash), whole);
}

TEST(Sha1, HexRoundTrip)
{
    const sha1_digest d = sha1(std::string_view("abc"), err::info_hash);
    sha1_digest back{};
    ASSERT_TRUE(hex_to_digest("a9993e364706816aba3e25717850c26c9cd0d89d", back));
    EXPECT_EQ(back, d);
    EXPECT_FALSE(hex_to_digest("A9993E", back));
    EXPECT_FALSE(hex_to_digest("G9993E364706816ABA3E25717850C26C9CD0D89D", back));
    EXPECT_EQ(back, d);
}

TEST(Sha1, FinishedHasherRaisesItsCode)
{
    sha1_hasher h(err::piece_hash);
    h.update(std::string_view("x"));
    (void)h.finish();
    try
    {
        h.update(std::string_view("y"));
        FAIL() << "update after finish must fail";
    }
    catch (const base_error& e)
    {
        EXPECT_EQ(e.code(), err::piece_hash);
    }
}

} // namespace
} // namespace torrent
