#include "net/peer_id.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

std::string bytes_at(const std::string& id, std::size_t offset, std::size_t n)
{
    return id.substr(offset, n);
}

TEST(PeerId, CarriesAddressAndPortWithoutZeroBytes)
{
    const std::string id = make_peer_id(0x0A000005, 45790, 1);
    ASSERT_EQ(id.size(), peer_id_size);
    EXPECT_EQ(id.substr(0, 3), "ZRV");
    EXPECT_EQ(bytes_at(id, 3, 4), std::string("\x05\xFF\xFF\x0A", 4));
    EXPECT_EQ(bytes_at(id, 7, 2), std::string("\xDE\xB2", 2));
    EXPECT_EQ(id.find('\0'), std::string::npos);

    std::uint32_t address = 0;
    std::uint16_t port = 0;
    ASSERT_TRUE(decode_peer_id(id, address, port));
    EXPECT_EQ(address, 0x0A000005u);
    EXPECT_EQ(port, 45790);
}

TEST(PeerId, ZeroBytesRoundTripAndRealFFDecodesAsZero)
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    const std::string id = make_peer_id(0, 256, 2);
    EXPECT_EQ(bytes_at(id, 7, 2), std::string("\xFF\x01", 2));
    ASSERT_TRUE(decode_peer_id(id, address, port));
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(port, 256);

    // 255.1.2.255 and port 0xFF00 cannot be told from zero bytes: they decode with 0x00.
    ASSERT_TRUE(decode_peer_id(make_peer_id(0xFF0102FF, 0xFF00, 3), address, port));
    EXPECT_EQ(address, 0x00010200u);
    EXPECT_EQ(port, 0);
}

TEST(PeerId, OtherPrefixesAreNotOurs)
{
    std::string id = make_peer_id(0x7F000001, 6881, 4);
    std::uint32_t address = 123;
    std::uint16_t port = 456;
    for (std::size_t i = 0; i < 3; ++i)
    {
        std::string changed = id;
        changed[i] = 'z';
        EXPECT_FALSE(decode_peer_id(changed, address, port)) << i;
    }
    EXPECT_FALSE(decode_peer_id("-TR2940-abcdefghijkl", address, port));
    EXPECT_FALSE(decode_peer_id("ZRV", address, port)); // too short to carry anything
    EXPECT_EQ(address, 123u);
    EXPECT_EQ(port, 456);
}

TEST(PeerId, RandomPartUsesTheWholeAlphabetAndDependsOnSeed)
{
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::set<char> seen;
    for (std::uint64_t seed = 0; seed < 200; ++seed)
    {
        const std::string id = make_peer_id(1, 1, seed);
        for (std::size_t i = 9; i < id.size(); ++i)
        {
            ASSERT_NE(alphabet.find(id[i]), std::string::npos);
            seen.insert(id[i]);
        }
    }
    EXPECT_EQ(seen.size(), alphabet.size());
    EXPECT_EQ(make_peer_id(1, 1, 9), make_peer_id(1, 1, 9));
    EXPECT_NE(make_peer_id(1, 1, 9), make_peer_id(1, 1, 10));
    EXPECT_NE(make_peer_id(1, 1), make_peer_id(1, 1)); // unseeded ids differ
}

TEST(PeerId, ClientTextStopsAtFirstZeroAndRecognisesExbc)
{
    EXPECT_EQ(client_text_of(std::string("exbc\0abcdefghijklmno", 20)), "BitComet");
    EXPECT_EQ(client_text_of("exbcLORDabcdefghijkl"), "exbcLORDabcdefghijkl");
    EXPECT_EQ(client_text_of(std::string("-TR2940-\0\0\0\0\0\0\0\0\0\0\0\0", 20)), "-TR2940-");
    EXPECT_EQ(client_text_of(std::string(20, '\0')), "");
    EXPECT_EQ(client_text_of("0123456789abcdefghijEXTRA"), "0123456789abcdefghij");

    std::string text = "exbc";
    recognize_client(text);
    EXPECT_EQ(text, "BitComet");
    text = "exb";
    recognize_client(text);
    EXPECT_EQ(text, "exb");
}

TEST(PeerId, SetPeerIdKeepsRawBytesAndClientText)
{
    std::string id;
    std::string client;
    const std::string received("exbc\0\x01\x02\x03xxxxxxxxxxxx", 20);
    set_peer_id(id, client, received);
    EXPECT_EQ(id, received);
    EXPECT_EQ(client, "BitComet");
}

} // namespace
} // namespace torrent
