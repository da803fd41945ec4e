#include "storage/mapped_file.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "metainfo/base_error.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

std::uint8_t error_code(const std::function<void()>& f)
{
    try
    {
        f();
    }
    catch (const base_error& e)
    {
        return e.code();
    }
    return 0;
}

TEST(MappedFileGeometry, FirstBlockIsShortenedByTheStartOffset)
{
    MappedFile virt(30000, false);
    ASSERT_TRUE(virt.Open("", 16384, 10000, true, false));
    ASSERT_EQ(virt.block_count(), 3u);
    EXPECT_EQ(virt.block_offset(0), 0u);
    EXPECT_EQ(virt.block_length(0), 6384u);
    EXPECT_EQ(virt.block_offset(1), 6384u);
    EXPECT_EQ(virt.block_length(1), 16384u);
    EXPECT_EQ(virt.block_offset(2), 22768u);
    EXPECT_EQ(virt.block_length(2), 7232u);
    // A virtual file hands out placeholders of the block's length, holding no data.
    const BlockHandle h = virt.GetBlock(2, true);
    EXPECT_TRUE(h.is_placeholder());
    EXPECT_EQ(h.length(), 7232u);
    EXPECT_EQ(error_code([&] { static_cast<void>(h.data()); }), err::handle_misuse);
}

TEST(MappedFileGeometry, BlocksMapTheRightBytesOfARealFile)
{
    temp_dir dir;
    const std::string data = test::pattern_bytes(30000, 1);
    const std::string path = dir.write("f", data);
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 16384, 10000, false, false));
    ASSERT_EQ(f.length(), 30000u); // taken from the disk
    for (std::uint32_t i = 0; i < 3; ++i)
    {
        const BlockHandle h = f.GetBlock(i, false);
        ASSERT_EQ(h.length(), f.block_length(i));
        EXPECT_EQ(std::memcmp(h.data(), data.data() + f.block_offset(i), h.length()), 0) << i;
    }
}

TEST(MappedFileGeometry, ViewStartsAtTheWindowBelowTheBlock)
{
    temp_dir dir;
    const std::string data = test::pattern_bytes(100000, 2);
    const std::string path = dir.write("f", data);
    MappedFile f(0, true);
    // Block 5 begins at 5 x 16384 - 11920 = 70000.
    ASSERT_TRUE(f.Open(path, 16384, 11920, false, false));
    ASSERT_EQ(f.block_offset(5), 70000u);
    const BlockHandle h = f.GetBlock(5, false);
    const std::uint32_t w = mapped_view::window();
    EXPECT_EQ(w % mapped_view::granularity(), 0u);
    EXPECT_EQ(h.view()->skip(), 70000u % w);
    EXPECT_EQ(h.view()->mapped_size() % w, 0u);
    EXPECT_GE(h.view()->mapped_size(), 70000u % w + 16384u);
    EXPECT_EQ(std::memcmp(h.data(), data.data() + 70000, 16384), 0);
}

TEST(MappedFileGeometry, EmptyFileHasNoBlocks)
{
    temp_dir dir;
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(dir / "empty", 16384, 0, true, true));
    EXPECT_EQ(f.block_count(), 0u);
    EXPECT_EQ(error_code([&] { static_cast<void>(f.GetBlock(0, false)); }), err::mapping_unusable);
}

TEST(MappedFileOpen, RefusesBadBlockGeometry)
{
    temp_dir dir;
    MappedFile f(0, true);
    EXPECT_FALSE(f.Open(dir / "a", 0, 0, true, true));
    EXPECT_FALSE(f.Open(dir / "a", 16384, 16384, true, true));
    EXPECT_FALSE(test::exists(dir / "a"));
    EXPECT_FALSE(f.Open(dir / "missing", 16384, 0, true, false)); // not created without create
    EXPECT_FALSE(test::exists(dir / "missing"));
}

TEST(MappedFileOpen, AFileHeldByAnotherOpenerDoesNotOpen)
{
    temp_dir dir;
    const std::string path = dir.write("f", "0123456789");
    MappedFile first(0, true);
    MappedFile second(0, true);
    ASSERT_TRUE(first.Open(path, 4, 0, true, false));
    EXPECT_FALSE(second.Open(path, 4, 0, false, false));
    EXPECT_FALSE(second.is_open());
    first.Close();
    EXPECT_TRUE(second.Open(path, 4, 0, false, false));
}

TEST(BlockHandles, ViewIsUnmappedWhenItsLastHandleGoes)
{
    temp_dir dir;
    const std::string path = dir.write("f", test::pattern_bytes(40000, 3));
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 16384, 0, false, false));
    f.set_idle_views(0);
    {
        BlockHandle a = f.GetBlock(1, false);
        const BlockHandle b = f.GetBlock(1, false); // the same view, found in its slot
        EXPECT_EQ(a.view(), b.view());
        EXPECT_EQ(a.view()->refs(), 2u);
        EXPECT_EQ(f.mapped_blocks(), 1u);
        BlockHandle c = a;
        a.release();
        EXPECT_EQ(c.view()->refs(), 2u);
        BlockHandle d = std::move(c);
        EXPECT_TRUE(c.empty());
        EXPECT_EQ(f.mapped_blocks(), 1u);
    }
    EXPECT_EQ(f.mapped_blocks(), 0u);
}

TEST(BlockHandles, AFewIdleViewsStayMappedForReuse)
{
    temp_dir dir;
    const std::string path = dir.write("f", test::pattern_bytes(16384 * 8, 3));
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 16384, 0, true, false));
    f.set_idle_views(2);
    const BlockView* first = nullptr;
    {
        const BlockHandle h = f.GetBlock(0, true);
        first = h.view();
    }
    EXPECT_EQ(f.idle_blocks(), 1u);
    {
        const BlockHandle again = f.GetBlock(0, false); // found idle, reused
        EXPECT_EQ(again.view(), first);
        EXPECT_EQ(f.idle_blocks(), 0u);
    }
    for (std::uint32_t i = 1; i < 6; ++i)
        static_cast<void>(f.GetBlock(i, false));
    EXPECT_EQ(f.idle_blocks(), 2u); // the oldest were unmapped
    EXPECT_EQ(f.mapped_blocks(), 2u);
    f.set_idle_views(0);
    EXPECT_EQ(f.mapped_blocks(), 0u);
    static_cast<void>(f.GetBlock(7, false));
    EXPECT_EQ(f.mapped_blocks(), 0u);
    f.set_idle_views(4);
    static_cast<void>(f.GetBlock(7, false));
    f.Close(); // unmaps the idle views (the sanitizer would see a leak otherwise)
    EXPECT_EQ(f.idle_blocks(), 0u);
}

TEST(BlockHandles, WritableRequestForAReadOnlyBlockGetsItsOwnView)
{
    temp_dir dir;
    const std::string path = dir.write("f", std::string(20000, 'a'));
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 16384, 0, true, false));
    const BlockHandle ro = f.GetBlock(0, false);
    const BlockHandle rw = f.GetBlock(0, true);
    EXPECT_NE(ro.view(), rw.view());
    EXPECT_FALSE(ro.writable());
    EXPECT_TRUE(rw.writable());
    rw.data()[5] = std::byte{'z'};
    EXPECT_EQ(static_cast<char>(ro.data()[5]), 'z'); // both views share the page cache
    // A later read finds the writable view in the slot.
    EXPECT_EQ(f.GetBlock(0, false).view(), rw.view());
}

TEST(BlockHandles, ReadOnlyFileRefusesWritableBlocks)
{
    temp_dir dir;
    const std::string path = dir.write("f", "abcdef");
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 4, 0, false, false));
    EXPECT_EQ(error_code([&] { static_cast<void>(f.GetBlock(0, true)); }), err::mapping_unusable);
    EXPECT_EQ(error_code([&] { static_cast<void>(f.GetBlock(2, false)); }), err::mapping_unusable);
}

TEST(BlockHandles, HandlesOutliveCloseOfTheirFile)
{
    temp_dir dir;
    const std::string path = dir.write("f", "hello world!");
    BlockHandle h;
    {
        MappedFile f(0, true);
        ASSERT_TRUE(f.Open(path, 8, 0, false, false));
        h = f.GetBlock(1, false);
        f.Close();
        EXPECT_EQ(error_code([&] { static_cast<void>(f.GetBlock(0, false)); }), err::mapping_unusable);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data()), h.length()), "rld!");
}

TEST(MappedFileLength, GrowsTheFileAndKeepsAnEqualLength)
{
    temp_dir dir;
    const std::string path = dir.write("f", "abc");
    MappedFile f(10, true);
    ASSERT_TRUE(f.Open(path, 4, 0, true, false));
    EXPECT_EQ(f.length(), 3u);
    f.SetLength(10);
    EXPECT_EQ(test::read_file(path), std::string("abc") + std::string(7, '\0'));
    EXPECT_EQ(f.block_count(), 3u);
    f.SetLength(10); // same length: nothing truncated
    EXPECT_EQ(test::read_file(path).size(), 10u);
}

TEST(MappedFileLength, ALongerFileIsRefusedAndLeftAlone)
{
    temp_dir dir;
    const std::string path = dir.write("f", "0123456789");
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 4, 0, true, false));
    EXPECT_EQ(error_code([&] { f.SetLength(5); }), err::mapped_size);
    EXPECT_EQ(test::read_file(path), "0123456789");
}

TEST(MappedFileLength, AReadOnlyFileCannotGrow)
{
    temp_dir dir;
    const std::string path = dir.write("f", "0123");
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 4, 0, false, false));
    EXPECT_EQ(error_code([&] { f.SetLength(8); }), err::mapping_unusable);
    EXPECT_NO_THROW(f.SetLength(4));
}

TEST(MappedFileLength, ViewsBeyondFourGibibytesWork)
{
    // A sparse file: nothing is allocated but the one block written.
    temp_dir dir;
    const std::string path = dir / "big";
    const std::uint64_t size = (std::uint64_t{5} << 30) + 1000;
    {
        unique_fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd);
        ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(size)), 0);
    }
    MappedFile f(0, true);
    ASSERT_TRUE(f.Open(path, 1u << 20, 12345, true, false));
    ASSERT_EQ(f.length(), size);
    const std::uint32_t last = f.block_count() - 1;
    const std::uint64_t at = f.block_offset(last);
    ASSERT_GT(at, std::uint64_t{1} << 32);
    {
        const BlockHandle h = f.GetBlock(last, true);
        ASSERT_EQ(at + h.length(), size);
        std::memcpy(h.data(), "far away", 8);
    }
    f.Close();
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char buf[8] = {};
    ASSERT_EQ(::pread(fd.get(), buf, 8, static_cast<off_t>(at)), 8);
    EXPECT_EQ(std::string(buf, 8), "far away");
}

} // namespace
} // namespace torrent
