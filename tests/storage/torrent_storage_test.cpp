#include "storage/torrent_storage.h"

#include <cstring>

#include <gtest/gtest.h>

#include "metainfo/base_error.h"
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

std::span<const std::byte> bytes_of(const std::string& s)
{
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

// Three files; piece 0 spans all three of them: a[0,10000) b[0,5000) c[0,1384).
std::vector<payload_file> three_files()
{
    return {
        {{"a.bin"}, test::pattern_bytes(10000, 1)},
        {{"sub", "b.bin"}, test::pattern_bytes(5000, 2)},
        {{"sub", "c.bin"}, test::pattern_bytes(20000, 3)},
    };
}

class TorrentStorageTest : public ::testing::Test
{
protected:
    open_storage_result
    open(const test::made_torrent& t, bool& is_new, const file_selection_source* selection = nullptr)
    {
        return storage.open_storage(test::load_made(t), dir / "save", is_new, selection);
    }

    temp_dir dir;
    torrent_storage storage;
};

TEST_F(TorrentStorageTest, PieceSpanningThreeFilesHasThreeSpans)
{
    const auto files = three_files();
    const auto t = test::make_multi_file("T", files, 16384);
    test::write_payload(dir / "save/T", files);
    bool is_new = true;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_FALSE(is_new);
    ASSERT_EQ(storage.piece_count(), 3u);

    piece_buffer p = storage.read_piece(0, false, true);
    ASSERT_EQ(p.spans().size(), 3u);
    EXPECT_EQ(p.spans()[0].position, 0u);
    EXPECT_EQ(p.spans()[1].position, 10000u);
    EXPECT_EQ(p.spans()[2].position, 15000u);
    EXPECT_EQ(p.spans()[2].handle.length(), 1384u);
    EXPECT_EQ(p.length(), 16384u);
    EXPECT_EQ(p.span_at(14999).position, 10000u);
    EXPECT_EQ(p.span_at(15000).position, 15000u);
    EXPECT_EQ(p.digest(), sha1(std::string_view(t.payload).substr(0, 16384), err::piece_hash));
    EXPECT_TRUE(storage.check_piece(p));
}

TEST_F(TorrentStorageTest, LastPieceIsTheRemainder)
{
    const auto files = three_files(); // 35000 bytes
    const auto t = test::make_multi_file("T", files, 16384);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_TRUE(is_new);
    EXPECT_EQ(storage.piece_size(2), 35000u - 32768u);
    EXPECT_EQ(storage.read_piece(2, false, true).length(), 2232u);
    EXPECT_EQ(storage.read_piece(1, false, true).length(), 16384u);
    EXPECT_THROW(static_cast<void>(storage.read_piece(3, false, true)), base_error);
    EXPECT_THROW(static_cast<void>(storage.read_piece(3, false, false)), base_error);
    // New data is allocated in full.
    EXPECT_EQ(test::read_file(dir / "save/T/sub/c.bin").size(), 20000u);
}

TEST_F(TorrentStorageTest, BlockRangeIsCheckedAgainstThePiece)
{
    const auto t = test::make_multi_file("T", three_files(), 16384);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_TRUE(storage.block_in_range({2, 2231, 1}));
    EXPECT_FALSE(storage.block_in_range({2, 2232, 1}));
    EXPECT_FALSE(storage.block_in_range({3, 0, 1}));
}

TEST_F(TorrentStorageTest, BlocksAreWrittenAcrossFileBoundaries)
{
    const auto files = three_files();
    const auto t = test::make_multi_file("T", files, 16384);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    // The whole payload, as 4 KiB blocks (some cross a file boundary).
    for (std::uint32_t at = 0; at < t.payload.size(); at += 4096)
    {
        const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(4096, t.payload.size() - at));
        block_request b{at / 16384, at % 16384, len, &storage, 0};
        ASSERT_TRUE(storage.write_block(b, bytes_of(t.payload.substr(at, len)))) << at;
        EXPECT_EQ(b.bytes_transferred, len);
    }
    EXPECT_EQ(test::read_file(dir / "save/T/a.bin"), files[0].data);
    EXPECT_EQ(test::read_file(dir / "save/T/sub/b.bin"), files[1].data);
    EXPECT_EQ(test::read_file(dir / "save/T/sub/c.bin"), files[2].data);
    // And read back across the a/b boundary.
    std::string back(3000, '\0');
    block_request r{0, 9000, 3000, &storage, 0};
    ASSERT_EQ(storage.read_block(r, {reinterpret_cast<std::byte*>(back.data()), back.size()}), 3000);
    EXPECT_EQ(back, t.payload.substr(9000, 3000));
}

TEST_F(TorrentStorageTest, BlockPassingTheEndOfItsPieceIsWrittenNowhere)
{
    const auto files = three_files();
    const auto t = test::make_multi_file("T", files, 16384);
    test::write_payload(dir / "save/T", files);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    const std::string junk(4096, 'J');
    // Ends 1 byte after piece 0 (which would spill into piece 1) and after the last piece.
    block_request over{0, 16384 - 4095, 4096, &storage, 0};
    EXPECT_FALSE(storage.write_block(over, bytes_of(junk)));
    block_request last{2, 2232 - 100, 4096, &storage, 0};
    EXPECT_FALSE(storage.write_block(last, bytes_of(junk)));
    EXPECT_EQ(test::read_file(dir / "save/T/sub/c.bin"), files[2].data);

    // Malformed requests.
    block_request none{0, 0, 10, nullptr, 0};
    EXPECT_EQ(storage.transfer_block(none, reinterpret_cast<const std::byte*>(junk.data()), nullptr), -1);
    block_request empty{0, 0, 0, &storage, 0};
    EXPECT_EQ(storage.transfer_block(empty, reinterpret_cast<const std::byte*>(junk.data()), nullptr), -1);
    std::string out(10, '\0');
    block_request both{0, 0, 10, &storage, 0};
    EXPECT_EQ(
        storage.transfer_block(
            both, reinterpret_cast<const std::byte*>(junk.data()), reinterpret_cast<std::byte*>(out.data())),
        -1);
    block_request neither{0, 0, 10, &storage, 0};
    EXPECT_EQ(storage.transfer_block(neither, nullptr, nullptr), -1);
}

TEST_F(TorrentStorageTest, UnselectedFilesAreNeverCreatedButTheirFoldersAre)
{
    const std::vector<payload_file> files = {
        {{"x", "one"}, test::pattern_bytes(20000, 4)},
        {{"y", "two"}, test::pattern_bytes(20000, 5)},
        {{"three"}, test::pattern_bytes(9000, 6)},
    };
    const auto t = test::make_multi_file("T", files, 16384);
    const test::fixed_selection choice({true, false, true});
    bool is_new = false;
    ASSERT_EQ(open(t, is_new, &choice), open_storage_result::ok);
    EXPECT_TRUE(test::exists(dir / "save/T/x/one"));
    EXPECT_TRUE(test::exists(dir / "save/T/y"));
    EXPECT_FALSE(test::exists(dir / "save/T/y/two"));
    EXPECT_EQ(storage.selected_size(), 29000u);

    // Piece 1 covers one[16384,20000) and two[0,12768): only the selected part is copied.
    const std::string block(16384, 'B');
    block_request b{1, 0, 16384, &storage, 0};
    ASSERT_TRUE(storage.write_block(b, bytes_of(block)));
    EXPECT_EQ(b.bytes_transferred, 20000u - 16384u);
    piece_buffer p = storage.read_piece(1, false, true);
    EXPECT_TRUE(p.no_data());
    EXPECT_EQ(p.digest_text(), "");
    EXPECT_FALSE(test::exists(dir / "save/T/y/two"));
}

TEST_F(TorrentStorageTest, PaddingEntriesGetNoFile)
{
    const std::vector<payload_file> files = {
        {{"a"}, test::pattern_bytes(100, 1)},
        {{"pad", "", "x"}, ""},
        {{"empty"}, ""},
        {{"b"}, test::pattern_bytes(100, 2)},
    };
    const auto t = test::make_multi_file("T", files, 64);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_TRUE(storage.files()[1].placeholder);
    EXPECT_FALSE(test::exists(dir / "save/T/pad/x"));
    EXPECT_TRUE(test::exists(dir / "save/T/empty")); // a real empty file is made
    EXPECT_EQ(test::read_file(dir / "save/T/empty"), "");
    EXPECT_EQ(storage.read_piece(1, false, true).spans().size(), 2u);
}

TEST_F(TorrentStorageTest, PadFilesAreNeverOnDiskReadAsZerosAndCountInTheHash)
{
    // a [0,20000) pad [20000,32768) b [32768,52768) pad [52768,65536) c [65536,70000); the two
    // pads have the same size, so the same name.
    const std::vector<payload_file> files = {
        {{"a"}, test::pattern_bytes(20000, 1)},
        {{".pad", "12768"}, std::string(12768, '\0'), true},
        {{"b"}, test::pattern_bytes(20000, 2)},
        {{".pad", "12768"}, std::string(12768, '\0'), true},
        {{"c"}, test::pattern_bytes(4464, 3)},
    };
    const auto t = test::make_multi_file("T", files, 32768);
    bool is_new = false;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_FALSE(test::exists(dir / "save/T/.pad"));
    EXPECT_EQ(storage.selected_size(), 44464u);
    // Every block of the payload, pad bytes included: the pad part is dropped, yet counts.
    for (std::uint32_t piece = 0; piece < storage.piece_count(); ++piece)
    {
        const std::uint32_t size = storage.piece_size(piece);
        for (std::uint32_t at = 0; at < size; at += 16384)
        {
            const std::uint32_t n = std::min<std::uint32_t>(16384, size - at);
            block_request b{piece, at, n, &storage, 0};
            ASSERT_TRUE(storage.write_block(b, bytes_of(t.payload.substr(piece * 32768ull + at, n))));
            EXPECT_EQ(b.bytes_transferred, n);
        }
        piece_buffer p = storage.read_piece(piece, false, true);
        EXPECT_FALSE(p.no_data());
        EXPECT_TRUE(storage.check_piece(p)) << piece;
    }
    EXPECT_FALSE(test::exists(dir / "save/T/.pad"));
    EXPECT_EQ(test::read_file(dir / "save/T/b"), files[2].data);
    // An upload of a block over a pad gives its zeros.
    std::string out(16384, 'x');
    block_request r{0, 16384, 16384, &storage, 0};
    ASSERT_EQ(storage.read_block(r, std::as_writable_bytes(std::span(out))), 16384);
    EXPECT_EQ(r.bytes_transferred, 16384u);
    EXPECT_EQ(out, t.payload.substr(16384, 16384));
}

TEST_F(TorrentStorageTest, ExistingDataIsKeptAsItIs)
{
    const std::string data = test::pattern_bytes(50000, 9);
    const auto t = test::make_single_file("file.iso", data, 16384);
    test::write_payload(dir / "save", {{{"file.iso"}, data}});
    bool is_new = true;
    ASSERT_EQ(open(t, is_new), open_storage_result::ok);
    EXPECT_FALSE(is_new);
    EXPECT_EQ(test::read_file(dir / "save/file.iso"), data);
    for (std::uint32_t i = 0; i < storage.piece_count(); ++i)
    {
        piece_buffer p = storage.read_piece(i, false, true);
        EXPECT_TRUE(storage.check_piece(p)) << i;
    }
    EXPECT_EQ(storage.have_count(), 4u);
    EXPECT_EQ(storage.have_bytes(), 50000u);
}

TEST_F(TorrentStorageTest, InvalidMetainfoOpensNothing)
{
    // Two digests, but a length that needs seven pieces.
    test::made_torrent bad = test::make_single_file("f", std::string(16385, 'x'), 16384);
    bad.bytes.replace(bad.bytes.find("i16385e"), 7, "i99999e");
    bool is_new = false;
    const int fds = test::count_open_fds();
    metainfo_result r{};
    EXPECT_EQ(
        storage.open_storage(torrent_metainfo::from_bytes(bad.bytes, r), dir / "save", is_new, nullptr),
        open_storage_result::invalid);
    EXPECT_FALSE(storage.is_open());
    EXPECT_FALSE(test::exists(dir / "save"));
    EXPECT_EQ(test::count_open_fds(), fds);
}

TEST_F(TorrentStorageTest, FilesThatCannotBeCreatedFailAndLeaveNothing)
{
    const auto files = three_files();
    const auto t = test::make_multi_file("T", files, 16384);
    // "sub" is a regular file, so sub/b.bin cannot be created.
    test::write_payload(dir / "save/T", {{{"sub"}, "not a folder"}});
    bool is_new = false;
    const int fds = test::count_open_fds();
    EXPECT_EQ(open(t, is_new), open_storage_result::cannot_open);
    EXPECT_FALSE(storage.is_open());
    EXPECT_EQ(test::count_open_fds(), fds);
    // a.bin was created by this open and is taken away again.
    EXPECT_FALSE(test::exists(dir / "save/T/a.bin"));
}

TEST_F(TorrentStorageTest, FileLongerThanDeclaredIsRefusedAndLeftAlone)
{
    auto files = three_files();
    const auto t = test::make_multi_file("T", files, 16384);
    files[1].data += "extra";
    test::write_payload(dir / "save/T", files);
    bool is_new = false;
    const int fds = test::count_open_fds();
    EXPECT_EQ(open(t, is_new), open_storage_result::cannot_open);
    EXPECT_EQ(test::count_open_fds(), fds);
    EXPECT_EQ(test::read_file(dir / "save/T/sub/b.bin"), files[1].data);
    EXPECT_EQ(test::read_file(dir / "save/T/a.bin"), files[0].data); // existing: kept
}

} // namespace
} // namespace torrent
