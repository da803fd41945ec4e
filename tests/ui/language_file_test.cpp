#include "ui/language_file.h"

#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "ui/text_encoding.h"

namespace torrent
{
namespace
{

using test::temp_dir;

ui_text_table read_text(std::string_view bytes)
{
    ui_text_table table;
    read_language_file(bytes, table);
    return table;
}

// "你好" in GB18030 (and GBK, code page 936).
constexpr std::string_view gb_hello = "\xC4\xE3\xBA\xC3";

TEST(LanguageFile, AbsentFileIsWrittenFromTheTableWithCrLf)
{
    const temp_dir dir;
    const std::string path = dir / "Zorvik.res";
    ui_text_table table;
    EXPECT_EQ(load_language_file(path, table), language_file_result::written);
    EXPECT_EQ(table, ui_text_table());

    const std::string disk = dir.read("Zorvik.res");
    std::string expected;
    for (std::size_t i = 0; i < ui_text_count; ++i)
        expected.append(builtin_ui_text(i)).append("\r\n");
    EXPECT_EQ(disk, expected);

    // 140 lines, each ending in CR LF, none with a bare LF.
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = disk.find('\n', at)) != std::string::npos; ++at, ++lines)
        ASSERT_EQ(disk[at - 1], '\r') << "line " << lines + 1;
    EXPECT_EQ(lines, ui_text_count);
}

TEST(LanguageFile, WrittenFileReadsBackToTheSameTable)
{
    const temp_dir dir;
    const std::string path = dir / "Zorvik.res";
    ui_text_table first;
    ASSERT_EQ(load_language_file(path, first), language_file_result::written);
    ui_text_table changed;
    changed.set(uitext::yes, "junk");
    EXPECT_EQ(load_language_file(path, changed), language_file_result::read);
    EXPECT_EQ(changed, ui_text_table()); // every entry, with its own CRs, came back
}

TEST(LanguageFile, NothingIsWrittenWhereTheFileCannotBeCreatedOrRead)
{
    const temp_dir dir;
    ui_text_table table;
    // The data folder does not exist yet (first start): no file, built-in texts.
    EXPECT_EQ(load_language_file(dir / "missing/Zorvik.res", table), language_file_result::not_written);
    EXPECT_FALSE(is_folder(dir / "missing"));
    EXPECT_EQ(table, ui_text_table());
    // Something that exists but is no file is left alone.
    ASSERT_EQ(::mkdir((dir / "Zorvik.res").c_str(), 0755), 0);
    EXPECT_EQ(load_language_file(dir / "Zorvik.res", table), language_file_result::unreadable);
    EXPECT_TRUE(is_folder(dir / "Zorvik.res"));
    EXPECT_EQ(table, ui_text_table());
}

TEST(LanguageFile, LineNumberIsTheEntry)
{
    std::string file = language_file_bytes(ui_text_table());
    // Replace line 49 (entry 48) with an English close prompt.
    std::size_t start = 0;
    for (int i = 0; i < 48; ++i)
        start = file.find("\r\n", start) + 2;
    const std::size_t end = file.find("\r\n", start);
    file.replace(start, end - start, "Yes closes\r\rNo hides\r\rCancel cancels\r\r");
    const ui_text_table table = read_text(file);
    EXPECT_EQ(table[uitext::close_prompt], "Yes closes\r\rNo hides\r\rCancel cancels\r\r");
    EXPECT_EQ(table[uitext::delete_prompt], builtin_ui_text(uitext::delete_prompt));
    EXPECT_EQ(table[uitext::runtime_options_reset], builtin_ui_text(uitext::runtime_options_reset));
}

TEST(LanguageFile, LineEndsAreCrLfOrLfAndOwnCrsStay)
{
    const ui_text_table table = read_text("one\r\ntwo\nthree\r\r\n\r\nfive\rx\n");
    EXPECT_EQ(table[0], "one");
    EXPECT_EQ(table[1], "two");
    EXPECT_EQ(table[2], "three\r"); // the entry's own CR before the CR LF
    EXPECT_EQ(table[3], ""); // an empty line makes an empty entry
    EXPECT_EQ(table[4], "five\rx");
    EXPECT_EQ(table[5], builtin_ui_text(5));
}

TEST(LanguageFile, ShortFileKeepsTheBuiltInRest)
{
    for (const std::string_view file : {"a\r\nb\r\nc\r\n", "a\r\nb\r\nc", "a\nb\nc\n"})
    {
        const ui_text_table table = read_text(file);
        EXPECT_EQ(table[0], "a");
        EXPECT_EQ(table[2], "c");
        // The final line end closes line 3; it does not blank entry 3.
        for (std::size_t i = 3; i < ui_text_count; ++i)
            ASSERT_EQ(table[i], builtin_ui_text(i)) << "entry " << i;
    }
    EXPECT_EQ(read_text(""), ui_text_table());
}

TEST(LanguageFile, LinesBeyondTheTableAreNotRead)
{
    std::string file;
    for (int i = 0; i < 150; ++i)
        file += "line" + std::to_string(i) + "\r\n";
    ui_text_table table;
    language_file_reader reader(table);
    EXPECT_FALSE(reader.feed(file));
    reader.finish();
    EXPECT_EQ(reader.entries_read(), ui_text_count);
    EXPECT_EQ(table[139], "line139");
}

TEST(LanguageFile, LongLineIsCutAtACharacterBoundaryAndReadingGoesOn)
{
    std::string long_line = "a";
    while (long_line.size() < 3 * language_line_limit)
        long_line += "汉";
    const std::string file = long_line + "\r\nnext\r\n";
    const ui_text_table table = read_text(file);
    // 1 + 3k bytes: the largest such length within the limit.
    EXPECT_EQ(table[0].size(), 1 + (language_line_limit - 1) / 3 * 3);
    EXPECT_TRUE(is_valid_utf8(table[0]));
    EXPECT_EQ(table[0], long_line.substr(0, table[0].size()));
    EXPECT_EQ(table[1], "next");
    EXPECT_EQ(table[2], builtin_ui_text(2));

    // The same bytes fed one at a time give the same table.
    ui_text_table bytewise;
    language_file_reader reader(bytewise);
    for (const char c : file)
        reader.feed(std::string_view(&c, 1));
    reader.finish();
    EXPECT_EQ(bytewise, table);
}

TEST(LanguageFile, LineOfExactlyTheLimitIsKeptWhole)
{
    const std::string line(language_line_limit, 'x');
    const ui_text_table table = read_text(line + "\r\n" + line + "y\r\nz");
    EXPECT_EQ(table[0], line);
    EXPECT_EQ(table[1], line); // one byte over: cut
    EXPECT_EQ(table[2], "z");
}

TEST(LanguageFile, LineThatIsNotUtf8IsReadAsGb18030)
{
    const std::string file = "utf8 你好\r\n" + std::string(gb_hello) + "\r\n\xFF\xFE\r\n";
    const ui_text_table table = read_text(file);
    EXPECT_EQ(table[0], "utf8 你好");
    EXPECT_EQ(table[1], "你好");
    // Neither UTF-8 nor GB18030: bad bytes become U+FFFD, the entry stays valid text.
    EXPECT_TRUE(is_valid_utf8(table[2]));
    EXPECT_NE(table[2].find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(LanguageFile, LongGb18030LineIsCutAfterConversion)
{
    std::string line;
    while (line.size() < 2 * language_line_limit)
        line += gb_hello;
    const ui_text_table table = read_text(line + "\r\nnext\r\n");
    EXPECT_TRUE(is_valid_utf8(table[0]));
    EXPECT_LE(table[0].size(), language_line_limit);
    EXPECT_GE(table[0].size(), language_line_limit - 3);
    EXPECT_EQ(table[0].substr(0, 6), "你好");
    EXPECT_EQ(table[1], "next");
}

TEST(LanguageFile, ByteOrderMarkAndNulAreNotText)
{
    using namespace std::string_view_literals;
    const ui_text_table table = read_text("\xEF\xBB\xBF"
                                          "first\r\nsec\0ond\r\n\xEF\xBB\xBF"
                                          "third\r\n"sv);
    EXPECT_EQ(table[0], "first");
    EXPECT_EQ(table[1], "sec");
    EXPECT_EQ(
        table[2],
        "\xEF\xBB\xBF"
        "third"); // only at the start of the file
}

TEST(LanguageFile, LoadLanguageFileInstallsTheTable)
{
    const temp_dir dir;
    const test::scoped_env home("ZORVIK_HOME", dir.path() + "/");
    dir.write("Zorvik.res", "page one\r\n");
    EXPECT_EQ(LoadLanguageFile(), language_file_result::read);
    EXPECT_EQ(ui_text(0), "page one");
    EXPECT_EQ(ui_text(1), builtin_ui_text(1));
    install_ui_text(ui_text_table());
}

} // namespace
} // namespace torrent
