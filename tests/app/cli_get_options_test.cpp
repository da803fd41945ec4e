#include "app/cli_get_options.h"

#include <gtest/gtest.h>

namespace zorvik::cli
{
namespace
{

torrent::random_source fixed(std::uint32_t value)
{
    return [value]
    {
        return value;
    };
}

get_arguments parse(std::vector<std::string> args, std::uint32_t random = 0)
{
    return parse_get_arguments(args, fixed(random));
}

TEST(GetArguments, TorrentsAndOneSaveFolderInAnyOrder)
{
    const get_arguments a = parse({"a.torrent", "/data/out", "B.TORRENT", "c.Torrent"});
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.options.torrents, (std::vector<std::string>{"a.torrent", "B.TORRENT", "c.Torrent"}));
    EXPECT_EQ(a.options.save_folder, "/data/out");

    const get_arguments only = parse({"a.torrent"});
    ASSERT_TRUE(only.ok);
    EXPECT_EQ(only.options.save_folder, ".");

    EXPECT_FALSE(parse({"/a", "/b", "x.torrent"}).ok); // two save folders
    EXPECT_FALSE(parse({"/data/out"}).ok); // no torrent
    EXPECT_FALSE(parse({}).ok);
    EXPECT_FALSE(parse({".torrent"}).ok); // a bare suffix names no torrent: taken as a folder
}

TEST(GetArguments, AtMostOneTorrentPerTaskSlot)
{
    std::vector<std::string> args;
    for (int i = 0; i < 10; ++i)
        args.push_back(std::to_string(i) + ".torrent");
    EXPECT_TRUE(parse(args).ok);
    args.push_back("10.torrent");
    const get_arguments a = parse(args);
    EXPECT_FALSE(a.ok);
    EXPECT_NE(a.error.find("at most 10"), std::string::npos);
}

TEST(GetArguments, OptionsFollowTheProgramsRules)
{
    // Defaults: 30 KB/s up, no download limit, 30 minutes of seeding, UPnP on, 64 peers.
    const get_arguments d = parse({"x.torrent"}, 123456);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.options.runtime.upload_limit, 30720);
    EXPECT_EQ(d.options.runtime.download_limit, 0);
    EXPECT_EQ(d.options.runtime.seeding_time, 1800000);
    EXPECT_TRUE(d.options.runtime.upnp_wanted);
    EXPECT_EQ(d.options.max_connections, 64);
    EXPECT_EQ(d.options.listen_port, 123456 % 60000 + 5000);

    const get_arguments a = parse({"-US45", "-ds100", "-ut0", "-port6881", "-pc35", "-noupnp", "x.torrent"});
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.options.runtime.upload_limit, 45 * 1024);
    EXPECT_EQ(a.options.runtime.download_limit, 100 * 1024);
    EXPECT_EQ(a.options.runtime.seeding_time, 0);
    EXPECT_FALSE(a.options.runtime.upnp_wanted);
    EXPECT_EQ(a.options.listen_port, 6881);
    EXPECT_EQ(a.options.max_connections, 35);

    // Out of range: -us0 and above 1000000 lift the limit, -pc falls back to 64.
    const get_arguments r = parse({"-us0", "-pc4", "x.torrent"});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.options.runtime.upload_limit, 0);
    EXPECT_EQ(r.options.max_connections, 64);
    EXPECT_EQ(parse({"-us1000001", "x.torrent"}).options.runtime.upload_limit, 0);
    EXPECT_EQ(parse({"-ut-5", "x.torrent"}).options.runtime.seeding_time, 0);
}

TEST(GetArguments, PathsNeverSetOptions)
{
    // The program's lookup finds an option name anywhere in its line; here only option
    // words count, so a folder called "-us5-files" or a torrent "my-noupnp.torrent" is a path.
    const get_arguments a = parse({"/tmp/x-us5/my-noupnp.torrent", "/srv/-ds7-ut0"});
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.options.runtime.upload_limit, 30720);
    EXPECT_EQ(a.options.runtime.download_limit, 0);
    EXPECT_EQ(a.options.runtime.seeding_time, 1800000);
    EXPECT_TRUE(a.options.runtime.upnp_wanted);
}

TEST(GetArguments, RefusesWhatItCannotRead)
{
    // A value written apart from its option would otherwise become the save folder.
    const get_arguments apart = parse({"-us", "30", "x.torrent"});
    EXPECT_FALSE(apart.ok);
    EXPECT_NE(apart.error.find("-us30"), std::string::npos);
    // Without a value the program's rules read 0 or nothing, depending on what follows.
    EXPECT_FALSE(parse({"-us", "x.torrent"}).ok);
    EXPECT_FALSE(parse({"x.torrent", "-port"}).ok);

    EXPECT_FALSE(parse({"-x", "x.torrent"}).ok);
    EXPECT_FALSE(parse({"-tc5", "x.torrent"}).ok); // not an option of get
    EXPECT_FALSE(parse({"-set", "x.torrent"}).ok);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"x.torrent", "-h"}).help);
}

TEST(GetArguments, PeersAreRepeatableIpv4Endpoints)
{
    const get_arguments a = parse({"--peer", "127.0.0.1:6881", "x.torrent", "--peer=10.1.2.3:65535"});
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.options.peers.size(), 2U);
    EXPECT_EQ(a.options.peers[0], (peer_address{0x7F000001U, 6881}));
    EXPECT_EQ(a.options.peers[1], (peer_address{0x0A010203U, 65535}));

    for (const char* bad :
         {"127.0.0.1",
          "127.0.0.1:0",
          "127.0.0.1:65536",
          "localhost:80",
          "1.2.3:80",
          ":80",
          "127.0.0.1:8x",
          "127.0.0.1:-1",
          "::1:80"})
    {
        peer_address p;
        EXPECT_FALSE(parse_peer_address(bad, p)) << bad;
        EXPECT_FALSE(parse({"--peer", bad, "x.torrent"}).ok) << bad;
    }
    EXPECT_FALSE(parse({"x.torrent", "--peer"}).ok); // no value
}

} // namespace
} // namespace zorvik::cli
