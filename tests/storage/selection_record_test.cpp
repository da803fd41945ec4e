#include "storage/selection_record.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent
{
namespace
{

using test::temp_dir;

std::string hex(const std::string& s)
{
    std::string out;
    char buf[4];
    for (const char c : s)
    {
        std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += buf;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

std::span<const std::uint8_t> as_bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(SelectionRecordBytes, TwoChosenFilesOfTen)
{
    selection_record r;
    std::vector<bool> marks(10, false);
    marks[0] = marks[9] = true;
    EXPECT_TRUE(apply_file_choice(r, marks));
    EXPECT_EQ(hex(encode_selection_record(r)), "0A 00 00 00 01 02");
}

TEST(SelectionRecordBytes, ChoosingNothingChoosesEverything)
{
    selection_record r;
    EXPECT_TRUE(apply_file_choice(r, std::vector<bool>(10, false)));
    EXPECT_EQ(hex(encode_selection_record(r)), "0A 00 00 00 FF FF");
    for (std::uint32_t i = 0; i < 10; ++i)
        EXPECT_TRUE(r.chosen(i));
}

TEST(SelectionRecordBytes, UnchangedChoiceNeedsNoWrite)
{
    selection_record r;
    EXPECT_FALSE(apply_file_choice(r, std::vector<bool>(3, true)));
    EXPECT_EQ(r.bit_count(), 3u);
}

TEST(SelectionRecordBytes, ReadingIsLenient)
{
    selection_record r;
    // Count only: every file chosen.
    EXPECT_TRUE(decode_selection_record(as_bytes(std::string("\x0A\0\0\0", 4)), r));
    for (std::uint32_t i = 0; i < 12; ++i)
        EXPECT_TRUE(r.chosen(i)) << i;
    // Count 10 with one byte: files 8 and 9 keep 0xFF.
    ASSERT_TRUE(decode_selection_record(as_bytes(std::string("\x0A\0\0\0\x01", 5)), r));
    EXPECT_TRUE(r.chosen(0));
    EXPECT_FALSE(r.chosen(1));
    EXPECT_TRUE(r.chosen(8));
    EXPECT_TRUE(r.chosen(9));
    EXPECT_TRUE(r.chosen(10)); // beyond the count
    // Too short for a count: no array, every file chosen.
    EXPECT_FALSE(decode_selection_record(as_bytes(std::string("\x0A\0", 2)), r));
    EXPECT_FALSE(r.has_array());
    EXPECT_TRUE(r.chosen(3));
    // A damaged huge count does not allocate half a gigabyte.
    ASSERT_TRUE(decode_selection_record(as_bytes(std::string("\xFF\xFF\xFF\xFF\x00", 5)), r));
    EXPECT_EQ(r.bit_count(), max_selection_bits);
    EXPECT_FALSE(r.chosen(3));
    EXPECT_TRUE(r.chosen(max_selection_bits + 5));
}

TEST(SelectionRecordQueries, NoneChosenLooksAtTheLastBitsOnly)
{
    selection_record r;
    EXPECT_TRUE(r.none_chosen()); // no array
    r.resize(10);
    EXPECT_FALSE(r.none_chosen());
    for (std::uint32_t i = 0; i < 10; ++i)
        r.set(i, false);
    EXPECT_TRUE(r.none_chosen());
    r.bytes()[1] = 0xFC; // only bits past the count are set
    EXPECT_TRUE(r.none_chosen());
    r.set(9, true);
    EXPECT_FALSE(r.none_chosen());
    r.set(12, true); // ignored
}

TEST(SelectionStateFile, LivesBesideTheContentOnceItsFolderExists)
{
    temp_dir dir;
    const std::string data = dir / "data/";
    const std::string save = dir / "save";
    test::write_payload(dir.path(), {{{"data", "keep"}, "x"}});
    selection_record r;
    r.resize(10);
    r.set(3, false);

    // No content folder yet: the data folder (with or without its final slash).
    EXPECT_EQ(LocateStateFile(save, "T", data), data + "T.ZRV");
    EXPECT_EQ(LocateStateFile(save, "T", dir / "data"), data + "T.ZRV");
    ASSERT_TRUE(WriteStateFile(r, save, "T", data));
    EXPECT_TRUE(test::exists(data + "T.ZRV"));

    // Once the content folder exists the file moves there and is read from there.
    test::write_payload(save, {{{"T", "a"}, "x"}});
    const std::string beside = save + "/T/T.ZRV";
    EXPECT_EQ(LocateStateFile(save + "/", "T", data), beside);
    EXPECT_FALSE(test::exists(data + "T.ZRV"));
    selection_record back;
    ReadStateFile(back, LocateStateFile(save, "T", data));
    EXPECT_EQ(back.bit_count(), 10u);
    EXPECT_FALSE(back.chosen(3));
    EXPECT_TRUE(back.chosen(4));

    // The metainfo readers see the same choice.
    const state_file_selection_source source(save, data);
    const auto sel = source.load("T");
    ASSERT_TRUE(sel.has_value());
    EXPECT_FALSE(sel->is_chosen(3));
    EXPECT_TRUE(sel->is_chosen(11));
    EXPECT_FALSE(source.load("other").has_value());
}

TEST(SelectionStateFile, MissingFileMeansEverythingChosen)
{
    temp_dir dir;
    selection_record r;
    r.resize(4);
    ReadStateFile(r, dir / "none.ZRV");
    EXPECT_FALSE(r.has_array());
    EXPECT_TRUE(r.chosen(2));
}

} // namespace
} // namespace torrent
