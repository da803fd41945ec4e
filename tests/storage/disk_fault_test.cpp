// Full and read-only disks, made with a small tmpfs mounted in a private mount namespace of
// a forked child, so nothing is left mounted whatever happens.
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/paths.h"
#include "storage/torrent_manager.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

constexpr int cannot_mount = 99;

// Runs `body` in a child with a tmpfs of `size` (mount options) on `folder`; the child's
// exit status: 0 when every check held, otherwise the number of the first failed check.
int with_small_disk(const std::string& folder, const std::string& options, const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0)
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(cannot_mount);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return 1000 + WTERMSIG(status); // SIGBUS would show up here
    return WEXITSTATUS(status);
}

#define CHECK_OR_EXIT(n, cond)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        if (!(cond))                                                                                         \
            return n;                                                                                        \
    } while (false)

class DiskFaultTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        disk = dir / "disk";
        ASSERT_TRUE(make_folders(disk));
        big = test::make_multi_file(
            "T",
            {{{"a"}, test::pattern_bytes(3 << 20, 1)}, {{"b"}, test::pattern_bytes(2 << 20, 2)}},
            1 << 18);
        torrent_file = dir.write("t.torrent", big.bytes);
    }

    add_result add(torrent_manager& m, const std::string& data_folder, const std::string& save)
    {
        std::string hash;
        std::vector<std::string> urls;
        return m.add_torrent(torrent_file, data_folder, save, hash, urls);
    }

    void expect_child(int status)
    {
        if (status == cannot_mount)
            GTEST_SKIP() << "no permission to mount a tmpfs in a private namespace";
        EXPECT_EQ(status, 0) << "failed check number (1000 + signal when killed)";
    }

    temp_dir dir;
    std::string disk;
    test::made_torrent big;
    std::string torrent_file;
};

TEST_F(DiskFaultTest, NewDownloadLargerThanTheFreeSpaceIsRefused)
{
    expect_child(with_small_disk(
        disk,
        "size=1m",
        [&]
        {
            torrent_manager m({}, disk + "/home/");
            const int fds = test::count_open_fds();
            CHECK_OR_EXIT(1, add(m, disk + "/save/T", disk + "/save") == add_result::no_space);
            CHECK_OR_EXIT(2, test::count_open_fds() == fds);
            CHECK_OR_EXIT(3, !test::exists(disk + "/save/T/a"));
            CHECK_OR_EXIT(4, m.table().size() == 0);
            return 0;
        }));
}

TEST_F(DiskFaultTest, SizingOnAFullDiskFailsWithoutSigbusAndUndoesItself)
{
    // The content folder exists, so no free-space check runs: the sizing itself must fail.
    expect_child(with_small_disk(
        disk,
        "size=2m",
        [&]
        {
            test::write_payload(disk + "/save/T", {{{"a"}, "partial"}});
            torrent_manager m({}, disk + "/home/");
            const int fds = test::count_open_fds();
            CHECK_OR_EXIT(1, add(m, disk + "/save/T", disk + "/save") == add_result::cannot_open);
            CHECK_OR_EXIT(2, test::count_open_fds() == fds);
            CHECK_OR_EXIT(3, test::read_file(disk + "/save/T/a") == "partial"); // not half grown
            CHECK_OR_EXIT(4, !test::exists(disk + "/save/T/b")); // created, then removed
            CHECK_OR_EXIT(5, !test::exists(disk + "/save/T/" + big.info_hash));
            return 0;
        }));
}

TEST_F(DiskFaultTest, ExistingSingleFileDownloadSkipsTheSpaceCheck)
{
    const std::string data = test::pattern_bytes(1 << 20, 5);
    const auto single = test::make_single_file("f.bin", data, 1 << 16);
    const std::string file = dir.write("s.torrent", single.bytes);
    expect_child(with_small_disk(
        disk,
        "size=1200k",
        [&]
        {
            test::write_payload(disk, {{{"f.bin"}, data}});
            torrent_manager m({}, disk + "/home/");
            std::string hash;
            std::vector<std::string> urls;
            CHECK_OR_EXIT(
                1, m.add_torrent(file, disk + "/home", disk, hash, urls) == add_result::needs_check);
            return 0;
        }));
}

TEST_F(DiskFaultTest, ReadOnlyVolumeCannotTakeTheFiles)
{
    expect_child(with_small_disk(
        disk,
        "size=8m",
        [&]
        {
            make_folders(disk + "/save");
            if (::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return cannot_mount;
            torrent_manager m({}, dir / "home/");
            const int fds = test::count_open_fds();
            CHECK_OR_EXIT(1, add(m, disk + "/save/T", disk + "/save") == add_result::cannot_open);
            CHECK_OR_EXIT(2, test::count_open_fds() == fds);
            // The state file on a writable disk, the content on the read-only one.
            CHECK_OR_EXIT(3, add(m, dir / "state", disk + "/save") == add_result::cannot_open);
            CHECK_OR_EXIT(4, !test::exists(dir / "state/" + big.info_hash));
            return 0;
        }));
}

TEST_F(DiskFaultTest, CompleteDownloadOnAReadOnlyVolumeOpensReadOnlyAndSeeds)
{
    expect_child(with_small_disk(
        disk,
        "size=8m",
        [&]
        {
            // Complete, with its piece-state file (inside the content folder), then read-only.
            test::write_payload(
                disk + "/save/T",
                {{{"a"}, big.payload.substr(0, 3 << 20)}, {{"b"}, big.payload.substr(3 << 20)}});
            {
                torrent_manager m({}, disk + "/home/");
                std::string hash;
                std::vector<std::string> urls;
                CHECK_OR_EXIT(
                    1,
                    m.add_torrent(torrent_file, disk + "/save/T", disk + "/save", hash, urls)
                        == add_result::needs_check);
                event stop;
                CHECK_OR_EXIT(2, m.find_torrent(hash)->check_existing_data({}, stop, 0) == big.piece_count);
                m.remove_torrent(hash);
            }
            if (::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return cannot_mount;
            torrent_manager m({}, disk + "/home/");
            std::string hash;
            std::vector<std::string> urls;
            CHECK_OR_EXIT(
                3,
                m.add_torrent(torrent_file, disk + "/save/T", disk + "/save", hash, urls)
                    == add_result::added);
            const auto data = m.find_torrent(hash);
            CHECK_OR_EXIT(4, data->storage().have().all());
            CHECK_OR_EXIT(5, data->storage().file_states()[0].read_only);
            std::string out(16384, '\0');
            block_request b{5, 0, 16384, nullptr, 0};
            CHECK_OR_EXIT(6, m.read_block(hash, b, std::as_writable_bytes(std::span(out))) == 16384);
            CHECK_OR_EXIT(7, out == big.payload.substr(5 << 18, 16384));
            m.remove_torrent(hash);
            return 0;
        }));
}

TEST_F(DiskFaultTest, IncompleteDownloadOnAReadOnlyVolumeNamesTheFileThatCannotBeWritten)
{
    expect_child(with_small_disk(
        disk,
        "size=8m",
        [&]
        {
            std::string half = big.payload.substr(3 << 20);
            half.replace(0, 1000, 1000, 'x'); // b's first piece is wrong
            test::write_payload(disk + "/save/T", {{{"a"}, big.payload.substr(0, 3 << 20)}, {{"b"}, half}});
            if (::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return cannot_mount;
            // No saved state and none can be made: the check decides, and finds b incomplete.
            torrent_manager m({}, disk + "/home/");
            std::string hash;
            std::vector<std::string> urls;
            CHECK_OR_EXIT(
                1,
                m.add_torrent(torrent_file, disk + "/save/T", disk + "/save", hash, urls)
                    == add_result::needs_check);
            const auto data = m.find_torrent(hash);
            CHECK_OR_EXIT(2, data->state_in_memory_only());
            event stop;
            CHECK_OR_EXIT(3, data->check_existing_data({}, stop, 0) == check_failed);
            const storage_error e = data->fault();
            CHECK_OR_EXIT(4, e.fault == storage_fault::read_only_incomplete);
            CHECK_OR_EXIT(5, e.path == disk + "/save/T/b");
            m.remove_torrent(hash);
            return 0;
        }));
}

TEST_F(DiskFaultTest, PieceStateFileWithoutRoomTakesBackTheFilesAndFoldersTheOpenMade)
{
    expect_child(with_small_disk(
        disk,
        "size=64k",
        [&]
        {
            // The data folder's disk is full; the content goes elsewhere.
            test::write_payload(disk, {{{"filler"}, std::string(60 << 10, 'f')}});
            int fill = 0;
            while (test::exists(disk + "/filler") && fill < 64)
            {
                if (!write_file_atomically(disk + "/more" + std::to_string(fill), std::string(4096, 'm')))
                    break;
                ++fill;
            }
            torrent_manager m({}, disk + "/home/");
            std::string hash;
            std::vector<std::string> urls;
            storage_error why;
            const std::string save = dir / "elsewhere/deep";
            CHECK_OR_EXIT(
                1,
                m.add_torrent(torrent_file, disk + "/home", save, hash, urls, &why)
                    == add_result::cannot_open);
            CHECK_OR_EXIT(2, why.fault == storage_fault::state_file_failed);
            CHECK_OR_EXIT(3, why.error_number == ENOSPC);
            CHECK_OR_EXIT(4, !test::exists(dir / "elsewhere"));
            CHECK_OR_EXIT(5, !test::exists(disk + "/home/" + big.info_hash));
            return 0;
        }));
}

} // namespace
} // namespace torrent
