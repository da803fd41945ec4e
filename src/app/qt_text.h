#pragma once

#include <string>
#include <string_view>

#include <QString>

#include "ui/ui_text.h"

// Texts between the engine (UTF-8 std::string) and Qt. Line breaks of the text table are
// '\r' or "\r\n"; Qt widgets break at '\n'.

[[nodiscard]] inline QString qt_string(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

[[nodiscard]] inline std::string utf8_string(const QString& text)
{
    return text.toUtf8().toStdString();
}

// A text for display: every "\r\n" and lone '\r' becomes '\n'.
[[nodiscard]] inline QString display_text(std::string_view utf8)
{
    QString text = qt_string(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// A UiText entry for display.
[[nodiscard]] inline QString ui_qtext(torrent::uitext::id entry)
{
    return display_text(torrent::ui_text(entry));
}
