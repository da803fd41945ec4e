#include "ui/file_selection_model.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/torrent_maker.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

using test::temp_dir;

torrent_summary
multi(const std::string& name, const std::vector<std::pair<std::string, std::uint64_t>>& files)
{
    torrent_summary s;
    s.name = name;
    s.multi_file = true;
    for (const auto& [path, size] : files)
    {
        summary_file& f = s.files.emplace_back();
        f.display_path = name + "/" + path;
        f.size = size;
        s.total_size += size;
    }
    return s;
}

selection_record stored_bits(std::uint32_t count, const std::vector<std::uint32_t>& chosen)
{
    selection_record r;
    r.resize(count);
    for (std::uint32_t i = 0; i < count; ++i)
        r.set(i, false);
    for (const std::uint32_t i : chosen)
        r.set(i, true);
    return r;
}

std::vector<std::string> shown(const file_selection_model& m)
{
    std::vector<std::string> out;
    for (const file_row& r : m.rows())
        out.push_back(std::string(file_row_mark(r.kind)) + "|" + r.name);
    return out;
}

TEST(FileSelectionRows, FoldersGetHeadingRowsAndFilesAreIndented)
{
    file_selection_model m;
    m.build(multi("t", {{"a/x", 1}, {"a/y", 2}, {"b/z", 1536}}), {}, "/s", "/d");
    EXPECT_EQ(
        shown(m), (std::vector<std::string>{"    --|a", "    √|  x", "    √|  y", "    --|b", "    √|  z"}));
    EXPECT_EQ(m.rows()[4].size_text, "  1.500K");
    EXPECT_EQ(m.rows()[4].file, 2);
    EXPECT_EQ(m.rows()[3].file, -1);

    // Deeper folders: the heading names the last component, the file is indented per level;
    // a folder met again later gets no second heading; a top-level file none at all.
    m.build(multi("t", {{"a/b/c", 1}, {"top", 1}, {"a/b/d", 1}, {"a/e", 1}}), {}, "/s", "/d");
    EXPECT_EQ(
        shown(m),
        (std::vector<std::string>{
            "    --|b", "    √|    c", "    √|top", "    √|    d", "    --|a", "    √|  e"}));
}

TEST(FileSelectionRows, PaddingEntriesAreNeitherShownNorCounted)
{
    file_selection_model m;
    // An empty last component with no bytes is a padding entry.
    torrent_summary s = multi("t", {{"a/x", 10}, {"", 0}, {"b/z", 5}});
    s.files[1].display_path = "t/";
    m.build(s, {}, "/s", "/d");
    ASSERT_EQ(m.rows().size(), 4u);
    EXPECT_EQ(m.rows()[3].file, 2);
    EXPECT_EQ(m.all_files().count, 2u);
    EXPECT_EQ(m.all_files().size, 15u);
}

TEST(FileSelectionChoice, KeptFilesStayAndNewOnesAreCounted)
{
    file_selection_model m;
    m.build(multi("t", {{"f0", 100}, {"f1", 20}, {"f2", 3}}), stored_bits(3, {0, 2}), "/s", "/d");
    ASSERT_EQ(m.rows().size(), 3u);
    EXPECT_EQ(m.rows()[0].kind, file_row_kind::kept);
    EXPECT_EQ(m.rows()[1].kind, file_row_kind::not_chosen);
    EXPECT_EQ(m.rows()[2].kind, file_row_kind::kept);
    EXPECT_EQ(m.selected_files().count, 2u);
    EXPECT_EQ(m.selected_files().size, 103u);
    EXPECT_EQ(m.changed_files().count, 0u);

    EXPECT_FALSE(m.toggle(0)); // a kept file cannot be taken out
    EXPECT_FALSE(m.toggle(7));
    EXPECT_TRUE(m.toggle(1));
    EXPECT_EQ(m.rows()[1].kind, file_row_kind::chosen);
    EXPECT_EQ(m.selected_files().size, 123u);
    EXPECT_EQ(m.changed_files().count, 1u);
    EXPECT_EQ(m.changed_files().size, 20u);
    EXPECT_TRUE(m.toggle(1));
    EXPECT_EQ(m.changed_files().count, 0u);
    EXPECT_EQ(m.selected_files().size, 103u);

    // The header click chooses every file not chosen, the next one takes back only those.
    m.build(multi("t", {{"f0", 100}, {"f1", 20}, {"f2", 3}, {"f3", 4}}), stored_bits(4, {0}), "/s", "/d");
    m.toggle(3);
    m.toggle_all();
    EXPECT_TRUE(m.select_all());
    EXPECT_EQ(m.changed_files().count, 3u);
    EXPECT_EQ(m.selected_files().size, 127u);
    m.toggle_all();
    EXPECT_EQ(m.rows()[0].kind, file_row_kind::kept);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(m.rows()[i].kind, file_row_kind::not_chosen);
    EXPECT_EQ(m.changed_files().count, 0u);
    EXPECT_EQ(m.selected_files().count, 1u);
}

class FileSelectionSave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const test::made_torrent t = test::make_multi_file(
            "album",
            {{{"a", "x"}, test::pattern_bytes(3000, 1)},
             {{"a", "y"}, test::pattern_bytes(5000, 2)},
             {{"b", "z"}, test::pattern_bytes(100, 3)}},
            1024);
        m_torrent = m_dir.write("album.torrent", t.bytes);
        m_save = m_dir / "save";
        m_data = m_dir / "data/";
    }

    [[nodiscard]] std::string state_file() const { return test::read_file(m_data + "album.ZRV"); }

    temp_dir m_dir;
    std::string m_torrent;
    std::string m_save;
    std::string m_data;
};

TEST_F(FileSelectionSave, FirstDialogChoosesEveryFileAndChoosingNoneStoresAll)
{
    file_selection_model m;
    ASSERT_TRUE(m.load(m_torrent, m_save, m_data));
    EXPECT_TRUE(m.list_loaded());
    EXPECT_EQ(m.name(), "album");
    for (const file_row& r : m.rows())
        EXPECT_TRUE(r.kind == file_row_kind::chosen || r.kind == file_row_kind::folder);
    EXPECT_EQ(m.all_files().count, 3u);
    EXPECT_EQ(m.all_files().size, 8100u);
    EXPECT_EQ(m.changed_files().count, 3u);

    // Un-choosing every file and saving stores every bit set.
    for (std::size_t i = 0; i < m.rows().size(); ++i)
        m.toggle(i);
    EXPECT_EQ(m.selected_files().count, 0u);
    ASSERT_EQ(m.save(), file_save_result::stored);
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\xFF", 5));
}

TEST_F(FileSelectionSave, NewChoiceIsStoredAndKeptAtTheNextOpen)
{
    file_selection_model m;
    ASSERT_TRUE(m.load(m_torrent, m_save, m_data));
    m.toggle(2); // y
    ASSERT_EQ(m.save(), file_save_result::stored);
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\x05", 5));
    EXPECT_TRUE(m.selection().chosen(0));
    EXPECT_FALSE(m.selection().chosen(1));

    file_selection_model again;
    ASSERT_TRUE(again.load(m_torrent, m_save, m_data));
    EXPECT_EQ(again.rows()[1].kind, file_row_kind::kept);
    EXPECT_EQ(again.rows()[2].kind, file_row_kind::not_chosen);
    // Saving without a change keeps the dialog open and writes nothing.
    EXPECT_EQ(again.save(), file_save_result::unchanged);
    again.toggle(2);
    again.toggle(2);
    EXPECT_EQ(again.save(), file_save_result::unchanged);
    again.toggle(2);
    ASSERT_EQ(again.save(), file_save_result::stored);
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\x07", 5));
}

TEST_F(FileSelectionSave, SingleFileAndUnreadableTorrentsAreInert)
{
    const test::made_torrent one = test::make_single_file("movie.mkv", test::pattern_bytes(4000, 9), 1024);
    file_selection_model m;
    ASSERT_TRUE(m.load(m_dir.write("one.torrent", one.bytes), m_save, m_data));
    ASSERT_EQ(m.rows().size(), 1u);
    EXPECT_EQ(m.rows()[0].kind, file_row_kind::kept);
    EXPECT_EQ(m.rows()[0].name, "movie.mkv");
    EXPECT_EQ(m.all_files().count, 1u);
    EXPECT_EQ(m.selected_files().size, 4000u);
    EXPECT_EQ(m.changed_files().count, 0u);
    EXPECT_FALSE(m.toggle(0));
    EXPECT_EQ(m.save(), file_save_result::inert);

    EXPECT_FALSE(m.load(m_dir.write("bad.torrent", "d4:infoi1ee"), m_save, m_data));
    EXPECT_TRUE(m.rows().empty());
    EXPECT_EQ(m.save(), file_save_result::inert);
    EXPECT_FALSE(test::exists(m_data + "movie.mkv.ZRV"));
}

TEST(FileSelectionPadding, PaddingStaysChosenAndDoesNotCountAsAChoice)
{
    temp_dir dir;
    torrent_summary s = multi("t", {{"x", 10}, {"", 0}, {"z", 5}});
    s.files[1].display_path = "t/";
    file_selection_model m;
    m.build(s, {}, dir / "save", dir / "data");
    // Un-choose x; z stays: the padding bit is set with it.
    m.toggle(0);
    ASSERT_EQ(m.save(), file_save_result::stored);
    EXPECT_FALSE(m.selection().chosen(0));
    EXPECT_TRUE(m.selection().chosen(1));
    EXPECT_TRUE(m.selection().chosen(2));
    // Un-choosing every real file chooses everything, although the padding bit was set.
    m.build(s, {}, dir / "save", dir / "data");
    m.toggle_all();
    m.toggle_all();
    ASSERT_EQ(m.selected_files().count, 0u);
    ASSERT_EQ(m.save(), file_save_result::stored);
    EXPECT_EQ(test::read_file(dir / "data" + "/t.ZRV"), std::string("\x03\x00\x00\x00\xFF", 5));
}

} // namespace
} // namespace torrent
