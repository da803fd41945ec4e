#include <gtest/gtest.h>

#include "net/peer_id.h"
#include "tracker/announce_request.h"
#include "tracker/announce_response.h"
#include "tracker/peer_candidate.h"
#include "tracker/tracker_text.h"

namespace torrent
{
namespace
{

constexpr std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return (std::uint32_t{a} << 24U) | (std::uint32_t{b} << 16U) | (std::uint32_t{c} << 8U) | d;
}

std::string compact(std::uint32_t address, std::uint16_t port)
{
    std::string s(6, '\0');
    s[0] = static_cast<char>(address >> 24U);
    s[1] = static_cast<char>(address >> 16U);
    s[2] = static_cast<char>(address >> 8U);
    s[3] = static_cast<char>(address);
    s[4] = static_cast<char>(port >> 8U);
    s[5] = static_cast<char>(port);
    return s;
}

std::string bstr(std::string_view s)
{
    return std::to_string(s.size()) + ":" + std::string(s);
}

const std::string own_id = "ZRV-our-own-peer-id!";

announce_answer decode(std::string_view body, const host_resolver& resolve = {})
{
    const announce_self self{ip(198, 51, 100, 7), 6881, own_id};
    return decode_announce_response(body, self, resolve);
}

TEST(AnnounceUrl, FormatsEveryFieldAndEscapesBinary)
{
    announce_values v;
    v.tracker_url = "http://127.0.0.1:6969/announce";
    ASSERT_TRUE(decode_info_hash("00FF10ab2A3c4d5e6f708192a3b4c5d6e7f8091a", v.info_hash));
    v.peer_id = std::string_view(
        "ZRV\x05\xff\xff\x0a\xde\xb2"
        "abcDEF12345",
        20);
    v.port = 6881;
    v.uploaded = 1234;
    v.downloaded = 5000000000ULL;
    v.left = 0;
    v.ip_text = "192.168.1.5";
    v.event = announce_event::started;
    EXPECT_EQ(
        format_announce_url(v),
        "http://127.0.0.1:6969/announce?info_hash=%00%FF%10%AB%2A%3CM%5Eop%81%92%A3%B4%C5%D6%E7%F8%09%1A"
        "&peer_id=ZRV%05%FF%FF%0A%DE%B2abcDEF12345&port=6881&uploaded=1234&downloaded=5000000000&left=0"
        "&compact=1&ip=192.168.1.5&event=started");
    v.event = announce_event::none;
    EXPECT_EQ(format_announce_url(v).find("&event="), std::string::npos);
    v.event = announce_event::stopped;
    EXPECT_TRUE(format_announce_url(v).ends_with("&event=stopped"));
}

TEST(AnnounceUrl, KeepsATrackerPasskeyQuery)
{
    announce_values v;
    v.tracker_url = "http://127.0.0.1/announce?passkey=abc";
    v.peer_id = own_id;
    EXPECT_TRUE(format_announce_url(v).starts_with("http://127.0.0.1/announce?passkey=abc&info_hash="));
}

TEST(AnnounceUrl, InfoHashTextMustBe40HexDigits)
{
    info_hash_bytes h{};
    EXPECT_FALSE(decode_info_hash("00FF", h));
    EXPECT_FALSE(decode_info_hash(std::string(39, 'A') + "G", h));
    ASSERT_TRUE(decode_info_hash(std::string(40, 'F'), h));
    EXPECT_EQ(h[19], 0xFF);
}

TEST(AnnounceInterval, ClampedBetween120And600Seconds)
{
    EXPECT_EQ(announce_delay_ms(30), 120000U);
    EXPECT_EQ(announce_delay_ms(-5), 120000U);
    EXPECT_EQ(announce_delay_ms(300), 300000U);
    EXPECT_EQ(announce_delay_ms(1800), 600000U);
    EXPECT_EQ(announce_delay_ms(INT64_MAX), 600000U);
}

TEST(AnnounceAnswer, CompactListsUseOnlyWholeSixByteGroups)
{
    const std::string twelve = compact(ip(10, 0, 0, 1), 6881) + compact(ip(10, 0, 0, 2), 51413);
    const announce_answer a = decode("d8:intervali1800e5:peers" + bstr(twelve) + "e");
    ASSERT_EQ(a.outcome, announce_outcome::ok);
    EXPECT_EQ(a.interval, 1800);
    ASSERT_EQ(a.peers.size(), 2U);
    EXPECT_EQ(a.peers[0].key, plain_candidate_key(ip(10, 0, 0, 1), 6881));
    EXPECT_EQ(a.peers[1].key, plain_candidate_key(ip(10, 0, 0, 2), 51413));
    EXPECT_EQ(a.peers[1].external_address, 0U);

    const announce_answer thirteen = decode("d8:intervali1800e5:peers" + bstr(twelve + "x") + "e");
    EXPECT_EQ(thirteen.outcome, announce_outcome::ok);
    EXPECT_TRUE(thirteen.peers.empty());
}

TEST(AnnounceAnswer, LeavesOutOurOwnAddressButNotOurAddressOnAnotherPort)
{
    const std::string peers = compact(ip(198, 51, 100, 7), 6881) + compact(ip(198, 51, 100, 7), 6882)
        + compact(0, 6881) + compact(ip(10, 0, 0, 3), 0);
    const announce_answer a = decode("d8:intervali60e5:peers" + bstr(peers) + "e");
    ASSERT_EQ(a.peers.size(), 1U);
    EXPECT_EQ(a.peers[0].key, plain_candidate_key(ip(198, 51, 100, 7), 6882));
}

TEST(AnnounceAnswer, DictionaryPeersSkipOurIdAndCarryInternalAddressesOfOurs)
{
    // A peer of ours at 10.0.0.5:45790 inside, 203.0.113.9:7000 outside.
    const std::string theirs = make_peer_id(ip(10, 0, 0, 5), 45790, 1);
    const std::string body = "d8:intervali60e5:peersl"
                             "d2:ip"
        + bstr("203.0.113.9") + "7:peer id" + bstr(own_id)
        + "4:porti7001ee"
          "d2:ip"
        + bstr("203.0.113.9") + "7:peer id" + bstr(theirs)
        + "4:porti7000ee"
          "d2:ip"
        + bstr("192.0.2.1") + "7:peer id" + bstr("-XX0001-abcdefghijkl")
        + "4:porti80ee"
          "d2:ip"
        + bstr("192.0.2.2:9000")
        + "4:porti80ee"
          "d2:ip"
        + bstr("192.0.2.3") + "4:port" + bstr("80")
        + "e"
          "d2:ipi5e4:porti80ee"
          "d2:ip"
        + bstr("192.0.2.4")
        + "4:porti70000ee"
          "d2:ip"
        + bstr("198.51.100.7")
        + "4:porti6881ee"
          "i5e"
          "ee";
    const announce_answer a = decode(body);
    ASSERT_EQ(a.outcome, announce_outcome::ok);
    ASSERT_EQ(a.peers.size(), 3U);
    EXPECT_EQ(a.peers[0].key, internal_candidate_key(ip(10, 0, 0, 5), 45790, 7000));
    EXPECT_EQ(a.peers[0].external_address, ip(203, 0, 113, 9));
    EXPECT_EQ(a.peers[1].key, plain_candidate_key(ip(192, 0, 2, 1), 80));
    EXPECT_EQ(a.peers[2].key, plain_candidate_key(ip(192, 0, 2, 2), 9000)); // the suffix wins

    const candidate_address addr = address_of(a.peers[0].key, a.peers[0].external_address);
    EXPECT_EQ(addr.address, ip(10, 0, 0, 5));
    EXPECT_EQ(addr.port, 45790);
    EXPECT_EQ(addr.alternate_address, ip(203, 0, 113, 9));
    EXPECT_EQ(addr.alternate_port, 7000);
}

TEST(AnnounceAnswer, HostNamesGoToTheResolverWithinALimit)
{
    int lookups = 0;
    const host_resolver resolve = [&](const std::string& name) -> std::uint32_t
    {
        ++lookups;
        return name == "peer.test" ? ip(192, 0, 2, 50) : 0;
    };
    std::string body = "d8:intervali60e5:peersl";
    body += "d2:ip" + bstr("peer.test") + "4:porti80ee";
    body += "d2:ip" + bstr("unknown.test") + "4:porti80ee";
    for (int i = 0; i < 20; ++i)
        body += "d2:ip" + bstr("other.test") + "4:porti80ee";
    body += "ee";
    const announce_answer a = decode(body, resolve);
    ASSERT_EQ(a.peers.size(), 1U);
    EXPECT_EQ(a.peers[0].key, plain_candidate_key(ip(192, 0, 2, 50), 80));
    EXPECT_EQ(lookups, max_name_lookups);
}

TEST(AnnounceAnswer, FailureReasonOrMissingIntervalMeansNoPeers)
{
    const std::string peers = bstr(compact(ip(10, 0, 0, 1), 6881));
    const announce_answer refused =
        decode("d14:failure reason9:forbidden8:intervali60e5:peers" + peers + "e");
    EXPECT_EQ(refused.outcome, announce_outcome::failure);
    EXPECT_EQ(refused.failure_reason, "forbidden");
    EXPECT_TRUE(refused.peers.empty());
    EXPECT_EQ(decode("d14:failure reasoni5ee").outcome, announce_outcome::failure);
    const announce_answer no_interval = decode("d5:peers" + peers + "e");
    EXPECT_EQ(no_interval.outcome, announce_outcome::no_interval);
    EXPECT_TRUE(no_interval.peers.empty());
    EXPECT_EQ(decode("d8:interval2:60e").outcome, announce_outcome::no_interval);
    EXPECT_EQ(decode("d8:intervali60ee").outcome, announce_outcome::ok);
}

TEST(AnnounceAnswer, AFailureReasonIsKeptSafeToShow)
{
    // Escape sequences, other controls and broken UTF-8 become '?'; good UTF-8 stays.
    EXPECT_EQ(tracker_text("\x1b[2J\x1b]0;owned\x07ok\r\n"), "?[2J?]0;owned?ok??");
    EXPECT_EQ(
        tracker_text("\xc2\x9b"
                     "31m"),
        "??31m"); // C1 CSI, written in UTF-8
    EXPECT_EQ(tracker_text("\xff\xfe\xc3"), "???");
    EXPECT_EQ(tracker_text("种子未注册 torrent not registered"), "种子未注册 torrent not registered");
    // Cut to the limit, never inside a character.
    std::string long_reason;
    for (int i = 0; i < 200; ++i)
        long_reason += "种";
    const std::string kept = tracker_text(long_reason);
    EXPECT_LE(kept.size(), max_tracker_text);
    EXPECT_EQ(kept.size() % 3, 0U);
    EXPECT_GT(kept.size(), max_tracker_text - 3);
}

TEST(AnnounceAnswer, MalformedBodiesAreNotDictionaries)
{
    EXPECT_EQ(decode("").outcome, announce_outcome::not_dictionary);
    EXPECT_EQ(decode("<html>502 Bad Gateway</html>").outcome, announce_outcome::not_dictionary);
    EXPECT_EQ(decode("li60ee").outcome, announce_outcome::not_dictionary);
    EXPECT_EQ(
        decode("d8:intervali1800e5:peers12:abc").outcome, announce_outcome::not_dictionary); // truncated
    EXPECT_EQ(decode("d8:intervali1800e5:peersl").outcome, announce_outcome::not_dictionary);
    const std::string nested =
        "d8:intervali60e5:peers" + std::string(100000, 'l') + std::string(100000, 'e') + "e";
    EXPECT_EQ(decode(nested).outcome, announce_outcome::not_dictionary); // no stack overflow
}

TEST(CandidateSet, HoldsEachKeyOnceAndInternalAddressesReplaceTheirPlainEntry)
{
    candidate_set set;
    const std::uint64_t plain = plain_candidate_key(ip(203, 0, 113, 9), 7000);
    EXPECT_TRUE(set.add(plain, 0));
    EXPECT_FALSE(set.add(plain, 0)); // the same address from a second tracker
    EXPECT_EQ(set.size(), 1U);
    const std::uint64_t internal = internal_candidate_key(ip(10, 0, 0, 5), 45790, 7000);
    EXPECT_TRUE(set.add_replacing(internal, ip(203, 0, 113, 9)));
    EXPECT_FALSE(set.contains(plain));
    EXPECT_TRUE(set.contains(internal));
    EXPECT_FALSE(set.add_replacing(internal, ip(203, 0, 113, 9)));
    EXPECT_EQ(set.size(), 1U);
}

TEST(CandidateSet, StopsGrowingAtItsBound)
{
    candidate_set set;
    for (std::uint32_t i = 0; i < candidate_set::max_size + 100; ++i)
        set.add(plain_candidate_key(i + 1, 80), 0);
    EXPECT_EQ(set.size(), candidate_set::max_size);
}

} // namespace
} // namespace torrent
