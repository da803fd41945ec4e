#pragma once

#include <string_view>

#include "ui/ui_text.h"

namespace torrent
{

// The English text table, which the build writes as the language file shipped beside the
// executable (english_language_file_name). The program itself reads that file, so only the
// file writer and the tests link this.
[[nodiscard]] std::string_view english_ui_text(std::size_t index) noexcept;

// The whole English table.
[[nodiscard]] ui_text_table english_ui_text_table();

namespace detail
{
// The English help pages (entries 0..34), defined in ui_text_english_help.cpp.
extern const std::array<std::string_view, ui_help_page_count> english_help_pages;
} // namespace detail

} // namespace torrent
