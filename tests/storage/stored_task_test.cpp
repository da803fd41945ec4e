#include "storage/stored_task.h"

#include <gtest/gtest.h>

#include "base/paths.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

TEST(StoredTask, DownloadedBytesCountTheShortLastPieceAtItsSize)
{
    // 10 pieces of 16384 over 150,000 bytes; 3 present including the last.
    EXPECT_EQ(stored_downloaded_bytes(3, true, 10, 16384, 150000), 35312u);
    EXPECT_EQ(stored_downloaded_bytes(3, false, 10, 16384, 150000), 3u * 16384u);
    EXPECT_EQ(stored_downloaded_bytes(0, false, 10, 16384, 150000), 0u);
}

TEST(StoredTask, ReadsProgressFromThePieceStateFile)
{
    temp_dir dir;
    const auto t = test::make_single_file("f.bin", test::pattern_bytes(150000, 1), 16384);
    const std::string torrent_file = dir.write("t.torrent", t.bytes);
    dir.write("save/f.bin", "present");
    // Pieces 0, 4 and 9 (the last).
    dir.write("home/" + t.info_hash, std::string("\x88\x40", 2));
    std::string data_folder = dir / "home";
    torrent_summary summary;
    ASSERT_EQ(
        read_stored_task(torrent_file, dir / "save/", data_folder, summary, dir / "home/"),
        stored_task_result::ok);
    EXPECT_EQ(summary.downloaded, 35312u);
    EXPECT_EQ(data_folder, dir / "home"); // single-file: left as given
}

TEST(StoredTask, MultiFileStateLivesInTheTorrentFolder)
{
    temp_dir dir;
    const auto t = test::make_multi_file("T", {{{"a"}, test::pattern_bytes(1000, 1)}}, 256);
    const std::string torrent_file = dir.write("t.torrent", t.bytes);
    std::string data_folder = "/somewhere/else";
    torrent_summary summary;
    dir.write("save/T/" + t.info_hash, "\xF0"); // all 4 pieces
    ASSERT_EQ(
        read_stored_task(torrent_file, dir / "save/", data_folder, summary, dir / "home/"),
        stored_task_result::ok);
    EXPECT_EQ(data_folder, dir / "save/T");
    EXPECT_EQ(summary.downloaded, 1000u);
}

TEST(StoredTask, StateOfVanishedDataIsDeleted)
{
    temp_dir dir;
    const auto t = test::make_single_file("gone.bin", "xyz", 16384);
    const std::string torrent_file = dir.write("t.torrent", t.bytes);
    const std::string state = dir.write("home/" + t.info_hash, "\x80");
    std::string data_folder = dir / "home";
    torrent_summary summary;
    ASSERT_EQ(
        read_stored_task(torrent_file, dir / "save", data_folder, summary, dir / "home/"),
        stored_task_result::ok);
    EXPECT_FALSE(test::exists(state));
    EXPECT_EQ(summary.downloaded, 0u);
}

TEST(StoredTask, BadTorrentFilesGiveTheReaderResults)
{
    temp_dir dir;
    std::string data_folder = dir / "home";
    torrent_summary summary;
    EXPECT_EQ(
        read_stored_task(dir / "none.torrent", dir / "save", data_folder, summary, dir / "home/"),
        stored_task_result::unreadable);
    EXPECT_EQ(
        read_stored_task(
            dir.write("x.torrent", "garbage"), dir / "save", data_folder, summary, dir / "home/"),
        stored_task_result::invalid);
}

} // namespace
} // namespace torrent
