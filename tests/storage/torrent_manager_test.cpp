#include "storage/torrent_manager.h"

#include <cctype>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/paths.h"
#include "storage/selection_record.h"
#include "storage_fixture.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::payload_file;
using test::temp_dir;

std::span<const std::byte> bytes_of(std::string_view s)
{
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

// Bytes of `path` that this process has mapped and resident (the Rss of its mappings).
std::uint64_t mapped_resident(const std::string& path)
{
    std::ifstream smaps("/proc/self/smaps");
    std::uint64_t kib = 0;
    bool ours = false;
    for (std::string line; std::getline(smaps, line);)
    {
        if (line.starts_with("Rss:"))
        {
            if (ours)
                kib += std::stoull(line.substr(4));
        }
        else if (
            !line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) != 0
            && line.find('-') != std::string::npos && line.find(' ') != std::string::npos)
        {
            ours = line.ends_with(" " + path);
        }
    }
    return kib * 1024;
}

class TorrentManagerTest : public ::testing::Test
{
protected:
    TorrentManagerTest()
        : manager(
            [this](torrent_data& d)
            {
                auto t = std::make_unique<test::counting_picker>(
                    d.storage().piece_count(), d.storage().piece_length(), d.storage().total_size());
                pickers.push_back(t.get());
                return t;
            },
            dir / "home/")
    {
    }

    std::string save_torrent(const test::made_torrent& t, const std::string& name = "t.torrent")
    {
        return dir.write(name, t.bytes);
    }

    add_result add(const test::made_torrent& t, const std::string& data_folder)
    {
        std::string hash;
        std::vector<std::string> urls;
        return manager.add_torrent(save_torrent(t), data_folder, dir / "save", hash, urls);
    }

    // Sends piece `index` as 16 KiB blocks; the result of the last block.
    write_result send_piece(const test::made_torrent& t, std::uint32_t index, char corrupt = 0)
    {
        const std::uint64_t start = std::uint64_t{index} * t.piece_length;
        std::string piece = t.payload.substr(start, t.piece_length);
        if (corrupt != 0)
            piece[0] = static_cast<char>(piece[0] ^ corrupt);
        write_result r = write_result::nothing_stored;
        for (std::uint32_t at = 0; at < piece.size(); at += 16384)
        {
            const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(16384, piece.size() - at));
            block_request b{index, at, len, nullptr, 0};
            r = manager.write_block_and_verify(
                t.info_hash, 7, b, bytes_of(std::string_view(piece).substr(at, len)));
        }
        return r;
    }

    write_result send_block(const test::made_torrent& t, std::uint32_t index, std::uint32_t at)
    {
        block_request b{index, at, 16384, nullptr, 0};
        const std::uint64_t start = std::uint64_t{index} * t.piece_length + at;
        return manager.write_block_and_verify(
            t.info_hash, 7, b, bytes_of(std::string_view(t.payload).substr(start, 16384)));
    }

    temp_dir dir;
    std::vector<test::counting_picker*> pickers;
    torrent_manager manager;
};

std::vector<payload_file> two_files()
{
    return {{{"a"}, test::pattern_bytes(40000, 1)}, {{"b"}, test::pattern_bytes(30000, 2)}};
}

TEST_F(TorrentManagerTest, AddResultsForBadTorrentFiles)
{
    std::string hash;
    std::vector<std::string> urls;
    EXPECT_EQ(
        manager.add_torrent(dir / "missing.torrent", dir / "d", dir / "save", hash, urls),
        add_result::unreadable);
    EXPECT_EQ(
        manager.add_torrent(dir.write("bad.torrent", "d4:info"), dir / "d", dir / "save", hash, urls),
        add_result::invalid);
    // No "announce": refused as invalid.
    auto t = test::make_single_file("f", "abc", 16384);
    t.bytes.replace(t.bytes.find("8:announce"), 10, "8:announcX");
    EXPECT_EQ(manager.add_torrent(save_torrent(t), dir / "d", dir / "save", hash, urls), add_result::invalid);
    EXPECT_EQ(manager.table().size(), 0u);
}

TEST_F(TorrentManagerTest, AddingTheSameTorrentTwiceLeavesTheFirstAlone)
{
    const auto t = test::make_multi_file("T", two_files(), 16384);
    std::string hash;
    std::vector<std::string> urls;
    ASSERT_EQ(
        manager.add_torrent(save_torrent(t), dir / "save/T", dir / "save", hash, urls), add_result::added);
    EXPECT_EQ(hash, t.info_hash);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0], "http://127.0.0.1:6969/announce");
    EXPECT_EQ(add(t, dir / "save/T"), add_result::duplicate);
    ASSERT_EQ(manager.table().size(), 1u);
    EXPECT_EQ(send_piece(t, 0), write_result::piece_done); // still open and writable
}

TEST_F(TorrentManagerTest, BlocksAreStoredVerifiedAndSaved)
{
    const auto t = test::make_multi_file("T", two_files(), 32768); // 3 pieces, 2 blocks each
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    const auto data = manager.find_torrent(t.info_hash);
    ASSERT_NE(data, nullptr);

    block_request first{0, 0, 16384, nullptr, 0};
    EXPECT_EQ(manager.block_wanted(t.info_hash, first), block_wanted_result::wanted);
    EXPECT_EQ(
        manager.write_block_and_verify(
            t.info_hash, 7, first, bytes_of(std::string_view(t.payload).substr(0, 16384))),
        write_result::stored);
    EXPECT_EQ(manager.block_wanted(t.info_hash, first), block_wanted_result::not_wanted);
    EXPECT_EQ(send_piece(t, 0), write_result::piece_done);
    EXPECT_TRUE(data->storage().have().test(0));
    EXPECT_EQ(data->saved_bitmap()[0], 0x80);
    EXPECT_EQ(test::read_file(data->state_path()), std::string(1, '\x80'));
    EXPECT_EQ(pickers[0]->passed, std::vector<std::uint32_t>{0});

    // The same piece again: not wanted.
    EXPECT_EQ(send_piece(t, 0), write_result::not_wanted);

    // A corrupted piece goes back to the picker and is not saved.
    EXPECT_EQ(send_piece(t, 1, 0x01), write_result::piece_done);
    EXPECT_FALSE(data->storage().have().test(1));
    EXPECT_EQ(pickers[0]->dropped, std::vector<std::uint32_t>{1});
    EXPECT_EQ(data->saved_bitmap()[0], 0x80);

    EXPECT_EQ(send_piece(t, 2), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 1), write_result::torrent_done);
    EXPECT_EQ(data->saved_bitmap()[0], 0xE0);
    EXPECT_EQ(test::read_file(dir / "save/T/a") + test::read_file(dir / "save/T/b"), t.payload);

    block_request out_of_range{3, 0, 16384, nullptr, 0};
    EXPECT_EQ(manager.block_wanted(t.info_hash, out_of_range), block_wanted_result::out_of_range);
    EXPECT_EQ(manager.block_wanted("0000", out_of_range), block_wanted_result::unknown_torrent);
    EXPECT_EQ(manager.write_block_and_verify("0000", 7, first, bytes_of("x")), write_result::nothing_stored);
    EXPECT_EQ(manager.write_block_and_verify(t.info_hash, 7, first, {}), write_result::nothing_stored);

    // Upload reads.
    std::string back(1000, '\0');
    block_request r{1, 500, 1000, nullptr, 0};
    EXPECT_EQ(
        manager.read_block(t.info_hash, r, {reinterpret_cast<std::byte*>(back.data()), back.size()}), 1000);
    EXPECT_EQ(back, t.payload.substr(32768 + 500, 1000));
}

TEST_F(TorrentManagerTest, SavedStateIsRestoredWithoutHashing)
{
    const auto files = two_files();
    const auto t = test::make_multi_file("T", files, 16384); // 5 pieces
    test::write_payload(dir / "save/T", files);
    // The state says pieces 0 and 4 are present; nothing is re-hashed on add.
    dir.write("save/T/" + t.info_hash, std::string(1, '\x88'));
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    bitfield have;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_EQ(have.bytes()[0], 0x88);
    EXPECT_FALSE(manager.copy_have("nope", have));
}

TEST_F(TorrentManagerTest, DataWithoutSavedStateNeedsACheck)
{
    const auto files = two_files();
    const auto t = test::make_multi_file("T", files, 16384);
    auto damaged = files;
    damaged[1].data[100] ^= 0x10; // piece 2 (40000 + 100)
    test::write_payload(dir / "save/T", damaged);
    ASSERT_EQ(add(t, dir / "save/T"), add_result::needs_check);
    const auto data = manager.find_torrent(t.info_hash);
    event stop;
    std::atomic<std::uint64_t> counter{0};
    EXPECT_EQ(data->check_existing_data({&counter, nullptr}, stop, 0), 4);
    EXPECT_EQ(data->saved_bitmap()[0], 0xD8);
    EXPECT_EQ(counter.load(), 5u * 16384u);

    // After a restart the saved state is used as it is.
    manager.remove_torrent(t.info_hash);
    EXPECT_EQ(manager.find_torrent(t.info_hash), nullptr);
    manager.remove_torrent(t.info_hash); // unknown now: nothing happens
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    bitfield have;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_EQ(have.bytes()[0], 0xD8);
    // Checked again: each present piece still counts once.
    const auto again = manager.find_torrent(t.info_hash);
    EXPECT_EQ(again->check_existing_data({}, stop, 0), 4);
    EXPECT_EQ(again->storage().have_count(), 4u);
    EXPECT_EQ(again->storage().have_bytes(), 3u * 16384u + (70000u - 4u * 16384u));
}

TEST_F(TorrentManagerTest, NewDownloadStartsWithAnEmptyState)
{
    const auto t = test::make_single_file("file.bin", test::pattern_bytes(50000, 4), 16384);
    ASSERT_EQ(add(t, dir / "home"), add_result::added);
    EXPECT_EQ(test::read_file(dir / ("home/" + t.info_hash)), std::string(1, '\0'));
    EXPECT_EQ(test::read_file(dir / "save/file.bin").size(), 50000u);
}

TEST_F(TorrentManagerTest, LongPieceStateFileIsRefused)
{
    const auto files = two_files();
    const auto t = test::make_multi_file("T", files, 16384);
    test::write_payload(dir / "save/T", files);
    const std::string state = dir.write("state/" + t.info_hash, "\xFF\xFF");
    const int fds = test::count_open_fds();
    EXPECT_EQ(add(t, dir / "state"), add_result::cannot_open);
    EXPECT_EQ(test::count_open_fds(), fds);
    EXPECT_EQ(test::read_file(state), "\xFF\xFF");
    EXPECT_EQ(manager.table().size(), 0u);
}

TEST_F(TorrentManagerTest, FileHeldByAnotherCopyIsRefused)
{
    const auto files = two_files();
    const auto t = test::make_multi_file("T", files, 16384);
    test::write_payload(dir / "save/T", files);
    MappedFile other(0, true);
    ASSERT_TRUE(other.Open(dir / "save/T/b", 16384, 0, false, false));
    const int fds = test::count_open_fds();
    EXPECT_EQ(add(t, dir / "save/T"), add_result::cannot_open);
    EXPECT_EQ(test::count_open_fds(), fds);
    EXPECT_EQ(test::read_file(dir / "save/T/a"), files[0].data);
    EXPECT_FALSE(test::exists(dir / ("save/T/" + t.info_hash)));
    other.Close();
    EXPECT_EQ(add(t, dir / "save/T"), add_result::needs_check);
}

// a [0,20000) selected, b [20000,60000) not, c [60000,80000) selected; 16 KiB pieces:
// 0 = a; 1 = a+b; 2 = b; 3 = b+c; 4 = c.
std::vector<payload_file> shared_pieces()
{
    return {
        {{"a"}, test::pattern_bytes(20000, 1)},
        {{"b"}, test::pattern_bytes(40000, 2)},
        {{"c"}, test::pattern_bytes(20000, 3)},
    };
}

TEST_F(TorrentManagerTest, UnselectedFilesAreNeitherFetchedNorAnnounced)
{
    const auto t = test::make_multi_file("T", shared_pieces(), 16384);
    selection_record choice;
    apply_file_choice(choice, {true, false, true});
    ASSERT_TRUE(WriteStateFile(choice, dir / "save", "T", dir / "home/"));
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    EXPECT_FALSE(test::exists(dir / "save/T/b"));

    bitfield have;
    bitfield announced;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    ASSERT_TRUE(manager.copy_have_wanted(t.info_hash, announced));
    EXPECT_EQ(have.bytes()[0], 0x20); // piece 2 lies wholly in b: never requested
    EXPECT_EQ(announced.bytes()[0], 0x00); // ... and never announced
    block_request inside_b{2, 0, 16384, nullptr, 0};
    EXPECT_EQ(manager.block_wanted(t.info_hash, inside_b), block_wanted_result::not_wanted);

    EXPECT_EQ(send_piece(t, 0), write_result::piece_done);
    // Saving the state keeps piece 2 out of the request list.
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_TRUE(have.test(2));
}

TEST_F(TorrentManagerTest, VerifiedBoundaryPiecesOfSelectedFilesSurviveARestart)
{
    const auto t = test::make_multi_file("T", shared_pieces(), 16384);
    selection_record choice;
    apply_file_choice(choice, {true, false, true});
    ASSERT_TRUE(WriteStateFile(choice, dir / "save", "T", dir / "home/"));
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    EXPECT_EQ(send_piece(t, 0), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 1), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 3), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 4), write_result::torrent_done);
    EXPECT_EQ(test::read_file(dir / "save/T/a"), t.payload.substr(0, 20000));
    EXPECT_EQ(test::read_file(dir / "save/T/c"), t.payload.substr(60000));
    // Pieces 1 and 3 hold parts of a and c: they stay in the saved state.
    EXPECT_EQ(manager.find_torrent(t.info_hash)->saved_bitmap()[0], 0xD8);

    manager.remove_torrent(t.info_hash);
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    bitfield have;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_TRUE(have.all());
    for (std::uint32_t i = 0; i < 5; ++i)
    {
        block_request b{i, 0, 16384, nullptr, 0};
        EXPECT_EQ(manager.block_wanted(t.info_hash, b), block_wanted_result::not_wanted) << i;
    }
}

TEST_F(TorrentManagerTest, FileChosenWhileLoadedIsCreatedAndFetched)
{
    const auto t = test::make_multi_file("T", shared_pieces(), 16384);
    selection_record choice;
    apply_file_choice(choice, {true, false, true});
    ASSERT_TRUE(WriteStateFile(choice, dir / "save", "T", dir / "home/"));
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    for (const std::uint32_t p : {0u, 1u, 3u})
        EXPECT_EQ(send_piece(t, p), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 4), write_result::torrent_done);
    const auto data = manager.find_torrent(t.info_hash);

    // A folder in b's place: b cannot be opened and nothing changes.
    ASSERT_TRUE(make_folders(dir / "save/T/b"));
    std::vector<std::uint32_t> added;
    EXPECT_EQ(data->choose_more_files(file_selection{}, added), open_storage_result::cannot_open);
    EXPECT_TRUE(added.empty());
    bitfield have;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_TRUE(have.all());
    ASSERT_EQ(::rmdir((dir / "save/T/b").c_str()), 0);

    // Chosen: b is created and sized; every piece touching it is fetched, the two shared
    // with a and c too (they were taken without b's bytes).
    ASSERT_EQ(data->choose_more_files(file_selection{}, added), open_storage_result::ok);
    EXPECT_EQ(added, std::vector<std::uint32_t>{1});
    EXPECT_EQ(test::read_file(dir / "save/T/b").size(), 40000u);
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_EQ(have.bytes()[0], 0x88);
    EXPECT_EQ(data->saved_bitmap()[0], 0x88);
    block_request inside_b{2, 0, 16384, nullptr, 0};
    EXPECT_EQ(manager.block_wanted(t.info_hash, inside_b), block_wanted_result::wanted);
    // Choosing the same files again changes nothing.
    ASSERT_EQ(data->choose_more_files(file_selection{}, added), open_storage_result::ok);
    EXPECT_TRUE(added.empty());
    // The engine hands the picker the new have bits, so it forgets the blocks of pieces 1
    // and 3; the stand-in picker is told so.
    pickers.back()->drop_piece(1);
    pickers.back()->drop_piece(3);

    EXPECT_EQ(send_piece(t, 1), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 2), write_result::piece_done);
    EXPECT_EQ(send_piece(t, 3, 1), write_result::piece_done); // corrupt: b is verified now
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_FALSE(have.test(3));
    EXPECT_EQ(send_piece(t, 3), write_result::torrent_done);
    EXPECT_EQ(test::read_file(dir / "save/T/b"), t.payload.substr(20000, 40000));
    EXPECT_EQ(data->saved_bitmap()[0], 0xF8);
}

TEST_F(TorrentManagerTest, BlockWritesAndAFullCheckOfOneTorrentCanRunTogether)
{
    const auto files = std::vector<payload_file>{{{"a"}, test::pattern_bytes(2 << 20, 8)}};
    const auto t = test::make_multi_file("T", files, 16384); // 128 pieces of one block
    test::write_payload(dir / "save/T", files);
    ASSERT_EQ(add(t, dir / "save/T"), add_result::needs_check);
    const auto data = manager.find_torrent(t.info_hash);
    event stop;
    std::int64_t found = 0;
    std::thread checker([&] { found = data->check_existing_data({}, stop, 0, 2); });
    // Meanwhile the same (intact) pieces arrive from a peer and are read for upload.
    std::string back(16384, '\0');
    for (std::uint32_t i = 0; i < t.piece_count; ++i)
    {
        static_cast<void>(send_piece(t, i));
        block_request r{i, 0, 16384, nullptr, 0};
        EXPECT_EQ(
            manager.read_block(t.info_hash, r, {reinterpret_cast<std::byte*>(back.data()), back.size()}),
            16384);
        EXPECT_EQ(back, t.payload.substr(std::size_t{i} * 16384, 16384));
    }
    checker.join();
    EXPECT_EQ(found, 128);
    bitfield have;
    ASSERT_TRUE(manager.copy_have(t.info_hash, have));
    EXPECT_TRUE(have.all());
    EXPECT_EQ(test::read_file(dir / "save/T/a"), files[0].data);
}

TEST_F(TorrentManagerTest, KilledWriterLeavesOnlyVerifiedPieces)
{
    const auto t =
        test::make_multi_file("T", {{{"a"}, test::pattern_bytes(16 << 20, 7)}}, 65536); // 256 pieces
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    const auto watched = manager.find_torrent(t.info_hash);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        // Writes pieces forever, every other one corrupted, until killed.
        for (std::uint32_t round = 0;; ++round)
        {
            for (std::uint32_t i = 0; i < t.piece_count; ++i)
                static_cast<void>(send_piece(t, i, (i + round) % 2 == 0 ? 0 : 0x40));
        }
    }
    // The state file is mapped shared: the child's saved pieces show up here at once. Kill
    // it in the middle of its work.
    for (int wait = 0; wait < 20000; ++wait)
    {
        bitfield seen;
        seen.from_bytes(watched->saved_bitmap(), t.piece_count);
        if (seen.count() >= 8)
            break;
        ::usleep(500);
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The parent still has the torrent open with its own (empty) view of the state; start
    // over as a restarted program would.
    manager.remove_torrent(t.info_hash);
    ASSERT_EQ(add(t, dir / "save/T"), add_result::added);
    const auto data = manager.find_torrent(t.info_hash);
    const bitfield saved = data->storage().have();
    EXPECT_GT(saved.count(), 0u);
    RecordProperty("saved_pieces", static_cast<int>(saved.count()));
    // Every saved piece verifies.
    event stop;
    ASSERT_GE(data->check_existing_data({}, stop, 0), 0);
    bitfield verified = data->storage().have();
    for (std::uint32_t i = 0; i < t.piece_count; ++i)
    {
        if (saved.test(i))
        {
            EXPECT_TRUE(verified.test(i)) << "piece " << i << " was saved but does not verify";
        }
    }
}

TEST_F(TorrentManagerTest, PiecesInRandomOrderKeepOnlyThePiecesInProgressMapped)
{
    // Sixteen 256 KiB pieces, eight to a 2 MiB mapping window, two in progress at a time.
    const std::uint32_t pl = 262144;
    const auto t = test::make_single_file("f", test::pattern_bytes(16 * pl, 3), pl);
    ASSERT_EQ(add(t, dir / "home"), add_result::added);
    const auto data = manager.find_torrent(t.info_hash);
    ASSERT_NE(data, nullptr);
    const std::string path = dir / "save/f";
    const std::vector<std::uint32_t> order{9, 2, 14, 5, 0, 11, 7, 3, 15, 1, 12, 6, 10, 4, 13, 8};
    for (std::size_t k = 0; k < order.size(); k += 2)
    {
        for (std::uint32_t at = 0; at < pl; at += 16384)
        {
            EXPECT_NE(send_block(t, order[k], at), write_result::nothing_stored);
            EXPECT_NE(send_block(t, order[k + 1], at), write_result::nothing_stored);
            // Only the blocks' own pages are faulted in, not the rest of their windows.
            if (at == pl / 2)
            {
                EXPECT_LE(mapped_resident(path), 2 * std::uint64_t{pl}) << "pieces " << order[k];
            }
        }
        EXPECT_TRUE(data->storage().have().test(order[k]));
        EXPECT_TRUE(data->storage().have().test(order[k + 1]));
        // A verified piece is not written again: nothing of it stays mapped.
        EXPECT_EQ(data->storage().mapped_file(0).mapped_blocks(), 0u) << "pieces " << order[k];
        EXPECT_EQ(mapped_resident(path), 0u);
    }
    EXPECT_TRUE(data->storage().have().all());
    EXPECT_EQ(pickers.back()->passed.size(), 16u);
    EXPECT_EQ(test::read_file(path), t.payload);
}

} // namespace
} // namespace torrent
