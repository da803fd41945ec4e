#include <thread>

#include <gtest/gtest.h>

#include "base/data_folder.h"
#include "base/event.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/tick.h"
#include "support/process_env.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

TEST(Tick, DueOnlyWhenStrictlyPast)
{
    EXPECT_FALSE(is_due(100, 100));
    EXPECT_TRUE(is_due(101, 100));
    // 64-bit ticks do not wrap after 49.7 days.
    const tick_t past_32_bits = (tick_t{1} << 32) + 5;
    EXPECT_TRUE(is_due(past_32_bits, 0xFFFFFFF0U));
}

TEST(Event, AutoResetsAfterOneWait)
{
    event ev;
    EXPECT_EQ(ev.wait_for(0), wait_result::timed_out);
    ev.set();
    EXPECT_EQ(ev.wait_for(0), wait_result::signalled);
    EXPECT_EQ(ev.wait_for(0), wait_result::timed_out);
    ev.set();
    ev.reset();
    EXPECT_EQ(ev.wait_for(0), wait_result::timed_out);
}

TEST(Event, WakesWaiterOnAnotherThread)
{
    event ev;
    std::thread t([&] { ev.set(); });
    EXPECT_EQ(ev.wait_for(5000), wait_result::signalled);
    t.join();
}

TEST(Paths, JoinAndTrim)
{
    EXPECT_EQ(trim_trailing_slashes("/a/b//"), "/a/b");
    EXPECT_EQ(trim_trailing_slashes("/"), "/");
    EXPECT_EQ(join_path("/a/", "b"), "/a/b");
    EXPECT_EQ(join_path("/a", "/b"), "/a/b");
    EXPECT_EQ(join_path("", "b"), "b");
    EXPECT_EQ(file_name_of("/x/y.torrent"), "y.torrent");
    EXPECT_EQ(parent_of("/x/y.torrent"), "/x");
    EXPECT_EQ(parent_of("/y"), "/");
}

TEST(Paths, MakeFoldersAndAtomicWrite)
{
    test::temp_dir dir;
    const std::string deep = dir / "a/b/c";
    EXPECT_TRUE(make_folders(deep));
    EXPECT_TRUE(is_folder(deep));
    EXPECT_TRUE(write_file_atomically(deep + "/f", "hello"));
    std::string back;
    EXPECT_TRUE(read_whole_file(deep + "/f", back));
    EXPECT_EQ(back, "hello");
    EXPECT_TRUE(is_regular_file(deep + "/f"));
    EXPECT_FALSE(is_regular_file(deep));
    EXPECT_FALSE(read_whole_file(deep + "/f", back, 3)); // over the limit
}

TEST(DataFolder, FollowsZorvikHomeThenDocuments)
{
    test::temp_dir dir;
    {
        test::scoped_env home("ZORVIK_HOME", dir.path() + "/zh//");
        EXPECT_EQ(data_folder(), dir.path() + "/zh/");
    }
    test::scoped_env no_home("ZORVIK_HOME", std::nullopt);
    test::scoped_env home("HOME", dir.path());
    test::scoped_env docs("XDG_DOCUMENTS_DIR", std::nullopt);
    test::scoped_env config("XDG_CONFIG_HOME", dir.path() + "/cfg");
    EXPECT_EQ(data_folder(), dir.path() + "/My Zorvik/");
    make_folders(dir.path() + "/Documents");
    EXPECT_EQ(data_folder(), dir.path() + "/Documents/My Zorvik/");
    dir.write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    make_folders(dir.path() + "/Dokumente");
    EXPECT_EQ(data_folder(), dir.path() + "/Dokumente/My Zorvik/");
}

TEST(DownloadFolder, XdgFolderThenDownloadsThenHome)
{
    test::temp_dir dir;
    test::scoped_env home("HOME", dir.path());
    test::scoped_env env_dir("XDG_DOWNLOAD_DIR", std::nullopt);
    test::scoped_env config("XDG_CONFIG_HOME", dir.path() + "/cfg");
    EXPECT_EQ(download_folder(), dir.path());
    make_folders(dir.path() + "/Downloads");
    EXPECT_EQ(download_folder(), dir.path() + "/Downloads");
    // A configured folder that does not exist is passed over.
    dir.write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/D\"\nXDG_DOWNLOAD_DIR=\"$HOME/Unten\"\n");
    EXPECT_EQ(download_folder(), dir.path() + "/Downloads");
    make_folders(dir.path() + "/Unten");
    EXPECT_EQ(download_folder(), dir.path() + "/Unten");
    make_folders(dir.path() + "/env");
    test::scoped_env set("XDG_DOWNLOAD_DIR", dir.path() + "/env/");
    EXPECT_EQ(download_folder(), dir.path() + "/env");
}

TEST(PrintableText, ControlCharactersCannotReachTheTerminal)
{
    EXPECT_EQ(printable_text("plain 中文 name"), "plain 中文 name");
    EXPECT_EQ(printable_text("a\x1b[2Jb\n\r\x7f"), "a\\x1B[2Jb\\x0A\\x0D\\x7F");
    EXPECT_EQ(printable_text("back\\slash"), "back\\x5Cslash");
    // C1 controls in UTF-8 (U+009B is a one-byte CSI on some terminals).
    EXPECT_EQ(
        printable_text("x\xc2\x9b"
                       "31m"),
        "x\\xC2\\x9B31m");
    EXPECT_EQ(printable_text(std::string("nul\0end", 7)), "nul\\x00end");
}

TEST(Text, TrimAndCaseFoldTouchOnlyAsciiBlanksAndLetters)
{
    EXPECT_EQ(trim_blanks(" \t\r\nvalue with inner  space\r\r\v\f"), "value with inner  space");
    EXPECT_EQ(trim_blanks(" \t "), "");
    EXPECT_EQ(trim_blanks("\xc2\xa0x\xc2\xa0"), "\xc2\xa0x\xc2\xa0"); // a no-break space is not ASCII
    EXPECT_TRUE(equal_ascii_nocase("Application/X-BitTorrent", "application/x-bittorrent"));
    EXPECT_FALSE(equal_ascii_nocase("abc", "abcd"));
    EXPECT_FALSE(equal_ascii_nocase("\xc3\x84", "\xc3\xa4")); // only ASCII letters fold
    EXPECT_TRUE(starts_with_ascii_nocase("HTTP://host/", "http://"));
    EXPECT_FALSE(starts_with_ascii_nocase("http:", "http://"));
}

} // namespace
} // namespace torrent
