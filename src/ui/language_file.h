#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/ui_text.h"

namespace torrent
{

// The language file "Zorvik.res" in the data folder: one text table entry per line, line
// n holding entry n - 1, CR LF line ends on disk. A bare LF also ends a line, and a CR
// right before the line end is not part of the entry; an entry's own CRs stay inside its
// line. Lines are UTF-8; a line that is not is read as GB18030 (the Chinese Windows code
// page), and what is neither gets U+FFFD for its bad bytes.
inline constexpr std::string_view language_file_name = "Zorvik.res";

// Most bytes of text one entry takes from its line; a longer line is cut at a character
// boundary at or below this and the rest of it is skipped.
inline constexpr std::size_t language_line_limit = 10239;

enum class language_file_result : std::uint8_t
{
    read = 0, // the file was read into the table
    written = 1, // it did not exist and was written from the table
    not_written = 2, // it did not exist and could not be created
    unreadable = 3, // it exists but cannot be read; left alone
    // It did not exist, the locale asks for English and the shipped English file cannot be
    // read: the built-in texts are used and nothing is written, so a repaired installation
    // still writes English at the next start.
    english_missing = 4,
};

// The English language file that the build puts beside the executable.
inline constexpr std::string_view english_language_file_name = "Zorvik.en.res";

// Reads a language file fed in pieces of any size into a table. Entries the file does not
// reach keep what the table held.
class language_file_reader
{
public:
    explicit language_file_reader(ui_text_table& table)
        : m_table(table)
    {
    }

    // Takes the next bytes; false once every entry has been read (the rest is not needed).
    bool feed(std::string_view bytes);

    // Ends the input: a last line without a line end still counts.
    void finish();

    // Number of entries set so far.
    [[nodiscard]] std::size_t entries_read() const noexcept { return m_index; }

private:
    void end_line();

    ui_text_table& m_table;
    std::string m_line;
    bool m_line_cut = false;
    bool m_line_open = false;
    std::size_t m_index = 0;
};

// Reads a whole language file held in memory into `table`.
void read_language_file(std::string_view bytes, ui_text_table& table);

// The file image of a table: every entry followed by CR LF, in index order.
[[nodiscard]] std::string language_file_bytes(const ui_text_table& table);

// Reads the file at `path` into `table`; when the file does not exist, writes `table` to
// it instead (whole or not at all, and never over a file that appeared meanwhile; the
// folder is not created). Never reports anything to the user.
language_file_result load_language_file(const std::string& path, ui_text_table& table);

// The locale that decides the language of messages: LC_ALL, LC_MESSAGES, LANG, the first
// one set to a non-empty value; "" when none is.
[[nodiscard]] std::string messages_locale();

// True for a locale of the Chinese language: "zh", "zh_CN.UTF-8", "zh_TW", "zh@...".
[[nodiscard]] bool is_chinese_locale(std::string_view locale) noexcept;

struct language_start
{
    std::string language_file; // "Zorvik.res" in the data folder
    std::string english_file; // the shipped English file
    bool chinese = true; // the user's locale is Chinese
};

// The start-up choice of texts. An existing language file is read over the built-in table
// and never written. A missing one is written from, and the table becomes, the English
// file for a locale that is not Chinese, or the built-in Chinese texts for a Chinese one.
language_file_result load_start_language(const language_start& start, ui_text_table& table);

// Start-up step: load_start_language with "Zorvik.res" in the data folder, the English file
// beside the executable and the locale of messages; the table is installed process-wide.
language_file_result LoadLanguageFile();

} // namespace torrent
