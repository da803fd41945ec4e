// The English table, the file the build ships with it, and which table a first start
// writes and uses for the user's locale.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "ui/language_file.h"
#include "ui/text_encoding.h"
#include "ui/ui_text_english.h"

namespace torrent
{
namespace
{

using test::scoped_env;
using test::temp_dir;

// Runs of ASCII letters and digits ("F2", "Shift", "64999", "Zorvik", "res").
std::set<std::string> ascii_words(std::string_view text)
{
    std::set<std::string> words;
    std::string word;
    for (const char c : text)
    {
        const bool part = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (part)
            word += c;
        else if (!word.empty())
            words.insert(std::exchange(word, {}));
    }
    if (!word.empty())
        words.insert(word);
    return words;
}

TEST(EnglishTable, EveryEntryIsOneLineOfTranslatedText)
{
    for (std::size_t i = 0; i < ui_text_count; ++i)
    {
        const std::string_view en = english_ui_text(i);
        EXPECT_EQ(en.find('\n'), std::string_view::npos) << i;
        EXPECT_EQ(utf8_valid_prefix(en), en.size()) << i;
        EXPECT_LT(en.size(), language_line_limit) << i;
        EXPECT_EQ(en.empty(), i == uitext::help_end_marker) << i;
        if (i < ui_help_page_count)
        {
            EXPECT_EQ(en.substr(0, 1), "\r") << "page " << i + 1 << " starts with a line break";
        }
        // Trailing line breaks are part of the layout of some messages (48, 55, the legend).
        const std::string_view zh = builtin_ui_text(i);
        EXPECT_EQ(en.size() - en.find_last_not_of('\r') - 1, zh.size() - zh.find_last_not_of('\r') - 1) << i;
    }
}

TEST(EnglishTable, KeepsEveryNumberNameKeyAndOptionOfTheChineseTexts)
{
    // What a translation must not lose: the numbers, option names, key names, file names
    // and product names in each entry.
    for (std::size_t i = 0; i < ui_text_count; ++i)
    {
        const std::set<std::string> en = ascii_words(english_ui_text(i));
        for (const std::string& word : ascii_words(builtin_ui_text(i)))
            EXPECT_TRUE(en.count(word) == 1) << "entry " << i << " lost \"" << word << "\"";
    }
}

TEST(EnglishFile, ShippedFileHoldsTheEnglishTable)
{
    std::string bytes;
    ASSERT_TRUE(read_whole_file(ZORVIK_ENGLISH_FILE, bytes)) << ZORVIK_ENGLISH_FILE;
    EXPECT_EQ(bytes, language_file_bytes(english_ui_text_table()));
    ui_text_table table;
    read_language_file(bytes, table);
    EXPECT_EQ(table, english_ui_text_table());
}

TEST(LanguageLocale, FirstSetVariableDecides)
{
    const scoped_env all("LC_ALL", std::nullopt);
    const scoped_env messages("LC_MESSAGES", std::nullopt);
    const scoped_env lang("LANG", std::nullopt);
    EXPECT_EQ(messages_locale(), "");
    {
        const scoped_env l("LANG", "zh_CN.UTF-8");
        EXPECT_EQ(messages_locale(), "zh_CN.UTF-8");
        const scoped_env m("LC_MESSAGES", "en_GB.UTF-8");
        EXPECT_EQ(messages_locale(), "en_GB.UTF-8");
        const scoped_env empty("LC_ALL", ""); // empty counts as not set
        EXPECT_EQ(messages_locale(), "en_GB.UTF-8");
        const scoped_env a("LC_ALL", "zh_TW");
        EXPECT_EQ(messages_locale(), "zh_TW");
    }

    for (const char* zh : {"zh", "zh_CN.UTF-8", "zh_TW.Big5", "zh_HK", "zh_CN.GB18030", "zh@pinyin", "ZH_cn"})
        EXPECT_TRUE(is_chinese_locale(zh)) << zh;
    for (const char* other : {"", "C", "POSIX", "C.UTF-8", "en_US.UTF-8", "de_DE", "zu_ZA", "zhx", "z"})
        EXPECT_FALSE(is_chinese_locale(other)) << other;
}

class FirstStart : public ::testing::Test
{
protected:
    language_start start(bool chinese) const { return {m_dir / "Zorvik.res", ZORVIK_ENGLISH_FILE, chinese}; }

    temp_dir m_dir;
};

TEST_F(FirstStart, WritesAndUsesTheTableOfTheLocale)
{
    ui_text_table table;
    EXPECT_EQ(load_start_language(start(false), table), language_file_result::written);
    EXPECT_EQ(table, english_ui_text_table());
    EXPECT_EQ(m_dir.read("Zorvik.res"), language_file_bytes(english_ui_text_table()));

    // The next start reads the file it wrote, whatever the locale is by then.
    ui_text_table again;
    EXPECT_EQ(load_start_language(start(true), again), language_file_result::read);
    EXPECT_EQ(again, english_ui_text_table());

    test::remove_tree(m_dir / "Zorvik.res");
    ui_text_table chinese;
    EXPECT_EQ(load_start_language(start(true), chinese), language_file_result::written);
    EXPECT_EQ(chinese, ui_text_table());
    EXPECT_EQ(m_dir.read("Zorvik.res"), language_file_bytes(ui_text_table()));
}

TEST_F(FirstStart, UsersOwnFileIsNeverReplaced)
{
    const std::string own = "my page\r\n";
    m_dir.write("Zorvik.res", own);
    for (const bool chinese : {false, true})
    {
        ui_text_table table;
        EXPECT_EQ(load_start_language(start(chinese), table), language_file_result::read);
        EXPECT_EQ(table[0], "my page");
        EXPECT_EQ(table[1], builtin_ui_text(1));
        EXPECT_EQ(m_dir.read("Zorvik.res"), own);
    }
}

TEST_F(FirstStart, WithoutTheShippedFileNothingIsWritten)
{
    language_start s = start(false);
    s.english_file = m_dir / "missing.res";
    ui_text_table table;
    EXPECT_EQ(load_start_language(s, table), language_file_result::english_missing);
    EXPECT_EQ(table, ui_text_table());
    EXPECT_FALSE(is_regular_file(m_dir / "Zorvik.res"));
}

TEST_F(FirstStart, LoadLanguageFileFollowsLangAndFindsTheFileBesideTheProgram)
{
    // The test program has a copy of the shipped file beside it, as zorvik does.
    const scoped_env all("LC_ALL", std::nullopt);
    const scoped_env messages("LC_MESSAGES", std::nullopt);
    {
        const scoped_env home("ZORVIK_HOME", m_dir.path() + "/en/");
        const scoped_env lang("LANG", "en_US.UTF-8");
        ASSERT_TRUE(make_folders(m_dir / "en"));
        EXPECT_EQ(LoadLanguageFile(), language_file_result::written);
        EXPECT_EQ(ui_text(uitext::settings_max_tasks), "Maximum tasks");
        EXPECT_EQ(m_dir.read("en/Zorvik.res"), language_file_bytes(english_ui_text_table()));
    }
    {
        const scoped_env home("ZORVIK_HOME", m_dir.path() + "/zh/");
        const scoped_env lang("LANG", "zh_CN.UTF-8");
        ASSERT_TRUE(make_folders(m_dir / "zh"));
        EXPECT_EQ(LoadLanguageFile(), language_file_result::written);
        EXPECT_EQ(ui_text(uitext::settings_max_tasks), builtin_ui_text(uitext::settings_max_tasks));
        EXPECT_EQ(m_dir.read("zh/Zorvik.res"), language_file_bytes(ui_text_table()));
    }
    install_ui_text(ui_text_table());
}

} // namespace
} // namespace torrent
