#pragma once

#include <array>
#include <string_view>

#include "ui/ui_text.h"

namespace torrent::detail
{

// The built-in help pages (entries 0..34), defined in ui_text_help.cpp.
extern const std::array<std::string_view, ui_help_page_count> builtin_help_pages;

} // namespace torrent::detail
