// A saved piece state against data that changed while the program was not running, and the
// check that reads only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/paths.h"
#include "storage/torrent_manager.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

// Two files of 16 pieces each (16 KiB pieces).
class StaleStateTest : public ::testing::Test
{
protected:
    StaleStateTest()
        : a(test::pattern_bytes(16 * 16384, 1))
        , b(test::pattern_bytes(16 * 16384, 2))
        , t(test::make_multi_file("T", {{{"a"}, a}, {{"b"}, b}}, 16384))
        , torrent(dir.write("t.torrent", t.bytes))
    {
    }

    add_result add(const std::string& save = {})
    {
        std::vector<std::string> urls;
        const std::string folder = save.empty() ? dir / "save" : save;
        return manager.add_torrent(torrent, join_path(folder, "T"), folder, hash, urls);
    }

    // Present pieces after the check the add asked for (if any), then the torrent closes.
    std::int64_t open_and_count(add_result expected, std::uint32_t to_check)
    {
        const add_result r = add();
        EXPECT_EQ(r, expected);
        const auto d = manager.find_torrent(hash);
        if (d == nullptr)
            return -1;
        std::int64_t present = d->storage().have_count();
        if (r == add_result::needs_check)
        {
            EXPECT_EQ(d->pieces_to_check(), to_check);
            event stop;
            present = d->check_existing_data({}, stop, 0);
        }
        manager.remove_torrent(hash);
        return present;
    }

    // The complete download with its piece-state file, closed.
    void complete_download()
    {
        ::unlink((dir / ("save/T/" + t.info_hash)).c_str());
        test::write_payload(dir / "save", {{{"T", "a"}, a}, {{"T", "b"}, b}});
        ASSERT_EQ(open_and_count(add_result::needs_check, 32), 32);
        ASSERT_TRUE(is_regular_file(dir / ("save/T/" + t.info_hash)));
    }

    temp_dir dir;
    std::string a;
    std::string b;
    test::made_torrent t;
    std::string torrent;
    torrent_manager manager{{}, dir / "home/"};
    std::string hash;
};

TEST_F(StaleStateTest, OnlyFilesThatChangedAreCheckedAgain)
{
    complete_download();
    // Unchanged: trusted without a check.
    EXPECT_EQ(open_and_count(add_result::added, 0), 32);

    // Cut to nothing: its 16 pieces are checked (and found missing).
    ASSERT_EQ(::truncate((dir / "save/T/b").c_str(), 0), 0);
    EXPECT_EQ(open_and_count(add_result::needs_check, 16), 16);
    // The state now says so: trusted again.
    EXPECT_EQ(open_and_count(add_result::added, 0), 16);

    // Shrunk to half: the first half is still good.
    complete_download();
    ASSERT_EQ(::truncate((dir / "save/T/b").c_str(), 8 * 16384), 0);
    EXPECT_EQ(open_and_count(add_result::needs_check, 16), 24);

    // Replaced by other bytes of the same size, later than the state was written.
    complete_download();
    dir.write("save/T/b", test::pattern_bytes(b.size(), 9));
    timespec later[2];
    ::clock_gettime(CLOCK_REALTIME, &later[0]);
    later[0].tv_sec += 10;
    later[1] = later[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "save/T/b").c_str(), later, 0), 0);
    EXPECT_EQ(open_and_count(add_result::needs_check, 16), 16);

    // Deleted: the file is made again, its pieces are cleared without a check.
    complete_download();
    ASSERT_EQ(::unlink((dir / "save/T/b").c_str()), 0);
    EXPECT_EQ(open_and_count(add_result::added, 0), 16);
    EXPECT_EQ(test::read_file(dir / "save/T/a"), a);
}

TEST_F(StaleStateTest, StateOfASingleFileTorrentFoundForAnotherSaveFolderVouchesForNothing)
{
    const std::string data = test::pattern_bytes(8 * 16384, 4);
    const auto single = test::make_single_file("f.bin", data, 16384);
    const std::string file = dir.write("s.torrent", single.bytes);
    test::write_payload(dir / "one", {{{"f.bin"}, data}});
    std::vector<std::string> urls;
    ASSERT_EQ(manager.add_torrent(file, dir / "home", dir / "one", hash, urls), add_result::needs_check);
    event stop;
    ASSERT_EQ(manager.find_torrent(hash)->check_existing_data({}, stop, 0), 8);
    manager.remove_torrent(hash);

    // Same data folder (where the state lives), another save folder holding nothing.
    make_folders(dir / "two");
    ASSERT_EQ(manager.add_torrent(file, dir / "home", dir / "two", hash, urls), add_result::added);
    EXPECT_EQ(manager.find_torrent(hash)->storage().have_count(), 0u);
    bitfield have;
    ASSERT_TRUE(manager.copy_have(hash, have));
    EXPECT_TRUE(have.none());
}

TEST_F(StaleStateTest, CheckOnlyOpenCreatesExtendsAndWritesNothing)
{
    // An empty save folder: nothing is made, every file is missing.
    make_folders(dir / "empty");
    std::vector<std::string> urls;
    storage_error why;
    ASSERT_EQ(
        manager.add_torrent(torrent, dir / "empty/T", dir / "empty", hash, urls, &why, open_mode::check_only),
        add_result::needs_check);
    auto d = manager.find_torrent(hash);
    event stop;
    EXPECT_EQ(d->check_existing_data({}, stop, 0), 0);
    EXPECT_TRUE(d->storage().file_states()[0].missing);
    EXPECT_TRUE(d->storage().file_states()[1].missing);
    manager.remove_torrent(hash);
    EXPECT_FALSE(test::exists(dir / "empty/T"));

    // A short file is named short and left as it is; the state file is never written.
    test::write_payload(dir / "save", {{{"T", "a"}, a}, {{"T", "b"}, b.substr(0, 5 * 16384 + 100)}});

    struct stat before
    {
    };

    ASSERT_EQ(::stat((dir / "save/T/b").c_str(), &before), 0);
    ASSERT_EQ(
        manager.add_torrent(torrent, dir / "save/T", dir / "save", hash, urls, &why, open_mode::check_only),
        add_result::needs_check);
    d = manager.find_torrent(hash);
    EXPECT_EQ(d->check_existing_data({}, stop, 0), 16 + 5);
    EXPECT_FALSE(d->storage().file_states()[1].missing);
    EXPECT_EQ(d->storage().file_states()[1].disk_length, 5u * 16384 + 100);
    manager.remove_torrent(hash);

    struct stat after
    {
    };

    ASSERT_EQ(::stat((dir / "save/T/b").c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_blocks, before.st_blocks);
    EXPECT_FALSE(test::exists(dir / ("save/T/" + t.info_hash)));
}

} // namespace
} // namespace torrent
