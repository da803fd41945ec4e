// Files that change under the storage (cut short, locked, replaced by links) and the faults
// the storage reports for them: which file, which kind, the system's reason. Nothing of it
// may kill the process or count as read or written.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/paths.h"
#include "metainfo/base_error.h"
#include "storage/mapped_access.h"
#include "storage/torrent_manager.h"
#include "storage_fixture.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

std::span<const std::byte> bytes_of(std::string_view s)
{
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

TEST(MappedAccess, FaultOnAPageCutFromTheFileIsAFailedCallNotADeadProcess)
{
    temp_dir dir;
    const std::string path = dir.write("f", std::string(65536, 'x'));
    install_mapping_fault_handler();
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, 65536, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* bytes = static_cast<char*>(map);
    char buf[4096];
    ASSERT_TRUE(guarded_copy(buf, bytes + 8192, sizeof buf));
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    // Reads and writes past the new end fault; the first page is still there.
    EXPECT_FALSE(guarded_copy(buf, bytes + 8192, sizeof buf));
    EXPECT_FALSE(guarded_copy(bytes + 8192, buf, sizeof buf));
    EXPECT_TRUE(guarded_copy(buf, bytes, sizeof buf));
    EXPECT_EQ(buf[0], 'x');
    // The guard is re-armed after a fault: the next faulting call fails the same way.
    EXPECT_FALSE(guarded_copy(buf, bytes + 61440, sizeof buf));
    ::munmap(map, 65536);
    ::close(fd);

    // Outside the guard a SIGBUS keeps its effect.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const int f = ::open(path.c_str(), O_RDWR);
        auto* m = static_cast<volatile char*>(::mmap(nullptr, 65536, PROT_READ, MAP_SHARED, f, 0));
        ::_exit(m[20000] == 'x' ? 10 : 11); // the read came back: the fault was swallowed
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    // Killed by SIGBUS, or (a sanitizer's handler was there before ours) reported and ended,
    // by an exit status or by an abort.
    const bool killed = WIFSIGNALED(status) && (WTERMSIG(status) == SIGBUS || WTERMSIG(status) == SIGABRT);
    const bool reported = WIFEXITED(status) && WEXITSTATUS(status) != 10 && WEXITSTATUS(status) != 11;
    EXPECT_TRUE(killed || reported) << status;
}

class StorageFaultTest : public ::testing::Test
{
protected:
    StorageFaultTest()
        : manager(
            [](torrent_data& d)
            {
                const auto& s = d.storage();
                return std::make_unique<test::counting_picker>(
                    s.piece_count(), s.piece_length(), s.total_size());
            },
            dir / "home/")
    {
    }

    add_result add(const test::made_torrent& t, storage_error* why = nullptr)
    {
        std::vector<std::string> urls;
        return manager.add_torrent(
            dir.write("t.torrent", t.bytes), dir / "home", dir / "save", hash, urls, why);
    }

    write_result send_piece(const test::made_torrent& t, std::uint32_t index)
    {
        write_result last = write_result::nothing_stored;
        const std::uint32_t size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            t.piece_length, t.payload.size() - std::uint64_t{index} * t.piece_length));
        for (std::uint32_t at = 0; at < size; at += 16384)
        {
            block_request b{index, at, std::min<std::uint32_t>(16384, size - at), nullptr, 0};
            last = manager.write_block_and_verify(
                hash,
                1,
                b,
                bytes_of(std::string_view(t.payload).substr(
                    std::uint64_t{index} * t.piece_length + at, b.length)));
        }
        return last;
    }

    temp_dir dir;
    torrent_manager manager;
    std::string hash;
};

TEST_F(StorageFaultTest, SeededFileCutToZeroFailsTheTorrentNamingTheFile)
{
    const std::string data = test::pattern_bytes(1 << 20, 3);
    const auto t = test::make_single_file("f.bin", data, 1 << 16);
    test::write_payload(dir / "save", {{{"f.bin"}, data}});
    ASSERT_EQ(add(t), add_result::needs_check);
    const auto d = manager.find_torrent(hash);
    event stop;
    ASSERT_EQ(d->check_existing_data({}, stop, 0), 16);

    std::string out(16384, '\0');
    block_request b{3, 0, 16384, nullptr, 0};
    ASSERT_EQ(manager.read_block(hash, b, std::as_writable_bytes(std::span(out))), 16384);
    ASSERT_EQ(::truncate((dir / "save/f.bin").c_str(), 0), 0);
    // The view of piece 3 is still mapped (kept for reuse), a new one is not made: both fail.
    for (const std::uint32_t piece : {3u, 9u})
    {
        block_request r{piece, 0, 16384, nullptr, 0};
        EXPECT_EQ(manager.read_block(hash, r, std::as_writable_bytes(std::span(out))), -1);
        EXPECT_EQ(r.bytes_transferred, 0u);
    }
    ASSERT_TRUE(d->failed());
    const storage_error e = d->fault();
    EXPECT_EQ(e.fault, storage_fault::file_shrunk);
    EXPECT_EQ(e.path, dir / "save/f.bin");
    EXPECT_EQ(e.needed, data.size());
    EXPECT_EQ(e.available, 0u);
    // A failed torrent takes no blocks at all.
    block_request w{0, 0, 16384, nullptr, 0};
    EXPECT_EQ(manager.write_block_and_verify(hash, 1, w, bytes_of(out)), write_result::disk_failed);
}

TEST_F(StorageFaultTest, WriteToAFileCutShortAndAPieceStateFileCutShortAreDiskFailures)
{
    const auto t = test::make_multi_file(
        "T", {{{"a"}, test::pattern_bytes(200000, 1)}, {{"b"}, test::pattern_bytes(100000, 2)}}, 1 << 16);
    ASSERT_EQ(add(t), add_result::added);
    EXPECT_EQ(send_piece(t, 0), write_result::piece_done);
    ASSERT_EQ(::truncate((dir / "save/T/b").c_str(), 10), 0);
    // Piece 4 lies in b only.
    EXPECT_EQ(send_piece(t, 4), write_result::disk_failed);
    storage_error e = manager.find_torrent(hash)->fault();
    EXPECT_EQ(e.fault, storage_fault::file_shrunk);
    EXPECT_EQ(e.path, dir / "save/T/b");
    manager.remove_torrent(hash);

    // Again from the start, now the piece-state file (in the content folder) is cut.
    test::write_payload(dir / "save", {{{"T", "b"}, test::pattern_bytes(100000, 2)}});
    ASSERT_EQ(add(t), add_result::added);
    const std::string state = dir / ("home/" + t.info_hash);
    ASSERT_TRUE(is_regular_file(state));
    ASSERT_EQ(::truncate(state.c_str(), 0), 0);
    EXPECT_EQ(send_piece(t, 1), write_result::disk_failed);
    e = manager.find_torrent(hash)->fault();
    EXPECT_EQ(e.fault, storage_fault::state_write_failed);
    EXPECT_EQ(e.path, state);
}

TEST_F(StorageFaultTest, EachOpenFailureSaysWhatFailedAndLeavesNothingBehind)
{
    const auto t = test::make_multi_file(
        "T",
        {{{"x", "a"}, test::pattern_bytes(70000, 1)}, {{"y", "b"}, test::pattern_bytes(30000, 2)}},
        1 << 15);
    storage_error why;

    // A file where a folder of the torrent goes.
    make_folders(dir / "save/T");
    dir.write("save/T/y", "in the way");
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::folder_failed);
    EXPECT_EQ(why.path, dir / "save/T/y");
    EXPECT_EQ(why.error_number, ENOTDIR);
    EXPECT_FALSE(test::exists(dir / "save/T/x")) << "a folder this open made was left";
    ::unlink((dir / "save/T/y").c_str());

    // A file held by another program.
    test::write_payload(dir / "save", {{{"T", "y", "b"}, "partial"}});
    const int held = ::open((dir / "save/T/y/b").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::file_locked);
    EXPECT_EQ(why.path, dir / "save/T/y/b");
    EXPECT_FALSE(test::exists(dir / "save/T/x/a"));
    ::close(held);

    // A file longer than the torrent says.
    dir.write("save/T/y/b", std::string(30001, 'b'));
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::file_too_long);
    EXPECT_EQ(why.needed, 30000u);
    EXPECT_EQ(why.available, 30001u);

    // A folder where the piece-state file goes: the content files were made, and go again.
    ::unlink((dir / "save/T/y/b").c_str());
    make_folders(dir / ("home/" + t.info_hash));
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::state_file_failed);
    EXPECT_EQ(why.path, dir / ("home/" + t.info_hash));
    EXPECT_FALSE(test::exists(dir / "save/T/x/a"));
    EXPECT_FALSE(test::exists(dir / "save/T/x"));
    EXPECT_FALSE(test::exists(dir / "save/T/y/b"));
    EXPECT_EQ(manager.table().size(), 0u);
}

TEST_F(StorageFaultTest, LinksLeadingOutOfTheSaveFolderAreRefusedAndNothingOutsideIsWritten)
{
    const auto t = test::make_multi_file(
        "T",
        {{{"sub", "a"}, test::pattern_bytes(40000, 1)}, {{"b"}, test::pattern_bytes(30000, 2)}},
        1 << 15);
    make_folders(dir / "outside");
    make_folders(dir / "save/T");
    storage_error why;

    // A folder of the torrent is a link out.
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "save/T/sub").c_str()), 0);
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::path_leaves_folder);
    EXPECT_EQ(why.path, dir / "save/T/sub");
    ::unlink((dir / "save/T/sub").c_str());

    // A file of the torrent is a link to a file outside.
    const std::string victim = dir.write("outside/victim", "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), (dir / "save/T/b").c_str()), 0);
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::path_leaves_folder);
    EXPECT_EQ(why.path, dir / "save/T/b");
    ::unlink((dir / "save/T/b").c_str());

    // The torrent's own folder is a link out.
    ::rmdir((dir / "save/T").c_str());
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "save/T").c_str()), 0);
    ASSERT_EQ(add(t, &why), add_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::path_leaves_folder);
    EXPECT_EQ(why.path, dir / "save/T");

    EXPECT_EQ(test::read_file(victim), "keep me");
    EXPECT_FALSE(test::exists(dir / "outside/a"));
    EXPECT_FALSE(test::exists(dir / "outside/b"));
    EXPECT_FALSE(test::exists(dir / "outside/sub"));
}

TEST_F(StorageFaultTest, MoreFilesThanTheProcessMayOpenIsSaidBeforeAnythingIsCreated)
{
    std::vector<test::payload_file> files;
    for (int i = 0; i < 300; ++i)
        files.push_back({{"d", "f" + std::to_string(i)}, "x"});
    const auto t = test::make_multi_file("T", files, 1 << 15);
    const std::string torrent = dir.write("t.torrent", t.bytes);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const rlimit low{256, 256};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0)
            ::_exit(10);
        torrent_manager m({}, dir / "home/");
        std::string h;
        std::vector<std::string> urls;
        storage_error why;
        if (m.add_torrent(torrent, dir / "home", dir / "save", h, urls, &why) != add_result::cannot_open)
            ::_exit(1);
        if (why.fault != storage_fault::too_many_files || why.needed != 301 || why.available != 256)
            ::_exit(2);
        ::_exit(test::exists(dir / "save/T") ? 3 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
} // namespace torrent
