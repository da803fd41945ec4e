#include "tracker/tracker_favourites.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "metainfo/bencode.h"
#include "support/temp_dir.h"
#include "tracker/private_torrent.h"
#include "tracker/tracker_list.h"

namespace torrent
{
namespace
{

std::vector<std::string> urls_of(const TrackerList& list)
{
    std::vector<std::string> urls;
    for (const TrackerEntry& e : list.entries())
        urls.push_back(e.url);
    return urls;
}

std::vector<std::string> defaults()
{
    return {default_favourite_trackers.begin(), default_favourite_trackers.end()};
}

TEST(TrackerListEntries, ShortAndRepeatedUrlsAreDroppedAndRotationKeepsOrder)
{
    TrackerList list;
    EXPECT_FALSE(list.add(""));
    EXPECT_FALSE(list.add("abc"));
    EXPECT_TRUE(list.add("http://a/"));
    EXPECT_TRUE(list.add("http://b/"));
    EXPECT_FALSE(list.add("http://a/")); // announced once, in its first place
    EXPECT_TRUE(list.add("http://A/")); // not the same bytes
    ASSERT_EQ(list.size(), 3U);
    EXPECT_EQ(list.rotate()->url, "http://a/");
    EXPECT_EQ(list.rotate()->url, "http://b/");
    EXPECT_EQ(list.rotate()->url, "http://A/");
    EXPECT_EQ(list.rotate()->url, "http://a/");
    EXPECT_EQ(list.entries().front().state, tracker_state::never);
    EXPECT_EQ(list.entries().front().next_announce, 0U);
}

TEST(Favourites, FirstRunWritesTheSixDefaultsWithCrLfAndTheNextReadsThemBack)
{
    test::temp_dir home;
    TrackerList first;
    AddFavourites(first, home.path() + "/");
    EXPECT_EQ(urls_of(first), defaults());
    const std::string text = home.read("trackerFavorite.txt");
    EXPECT_EQ(text, default_favourites_text());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1); // every line end is CR LF
    EXPECT_NE(text.back(), '\n');

    TrackerList second;
    AddFavourites(second, home.path() + "/");
    EXPECT_EQ(urls_of(second), defaults());
    EXPECT_EQ(home.read("trackerFavorite.txt"), text);
}

TEST(Favourites, BareLfReadsLikeCrLfAndShortLinesAreDropped)
{
    EXPECT_EQ(parse_favourites("http://a/x\nhttp://b/y\n"), parse_favourites("http://a/x\r\nhttp://b/y\r\n"));
    EXPECT_EQ(
        parse_favourites("\xEF\xBB\xBFhttp://a/x\r\n\r\nabc\r\nab\n\nudp://c:80/announce\r\nhttp://d/z"),
        (std::vector<std::string>{"http://a/x", "udp://c:80/announce", "http://d/z"}));
    EXPECT_EQ(parse_favourites("  http://a/x \r\r\n"), std::vector<std::string>{"http://a/x"});
    EXPECT_TRUE(parse_favourites("").empty());
    EXPECT_TRUE(parse_favourites("\r\n\r\n\n").empty());
}

TEST(Favourites, OverlongLinesAreSplit)
{
    const std::string line = "http://" + std::string(300, 'a');
    const auto urls = parse_favourites(line + "\r\n");
    ASSERT_EQ(urls.size(), 2U);
    EXPECT_EQ(urls[0].size(), max_favourite_line);
    EXPECT_EQ(urls[0] + urls[1], line);
}

TEST(Favourites, AnExistingFileIsReadAsIs)
{
    test::temp_dir home;
    home.write("trackerFavorite.txt", "http://127.0.0.1:6969/announce\nx\n");
    TrackerList list;
    list.add("http://metainfo/announce");
    AddFavourites(list, home.path() + "/");
    EXPECT_EQ(
        urls_of(list),
        (std::vector<std::string>{"http://metainfo/announce", "http://127.0.0.1:6969/announce"}));
}

TEST(Favourites, NeitherReadableNorCreatableAddsNothing)
{
    test::temp_dir home;
    TrackerList list;
    AddFavourites(list, home.path() + "/no-such-folder/");
    EXPECT_TRUE(list.empty());

    ASSERT_EQ(::mkdir((home / "trackerFavorite.txt").c_str(), 0755), 0); // a folder in its place
    AddFavourites(list, home.path() + "/");
    EXPECT_TRUE(list.empty());
}

TEST(PrivateTorrent, FlagIsReadFromTheInfoDictionary)
{
    test::temp_dir dir;
    auto torrent = [&](std::string_view name, std::string_view info_extra)
    {
        const std::string info = "d6:lengthi5e4:name1:a12:piece lengthi16384e6:pieces20:"
            + std::string(20, 'x') + std::string(info_extra) + "e";
        return dir.write(name, "d8:announce9:http://t/4:info" + info + "e");
    };
    // Keys must stay sorted for canonical bencoding: "private" sorts after "pieces".
    EXPECT_TRUE(read_private_flag(torrent("p.torrent", "7:privatei1e")));
    EXPECT_FALSE(read_private_flag(torrent("z.torrent", "7:privatei0e")));
    EXPECT_FALSE(read_private_flag(torrent("n.torrent", "")));
    EXPECT_TRUE(read_private_flag(dir / "missing.torrent")); // unknown: never leak
}

} // namespace
} // namespace torrent
