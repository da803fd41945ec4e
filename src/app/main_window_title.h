#pragma once

#include <QString>

// The title of the main window, which also names the program in its boxes.
[[nodiscard]] inline QString mainWindowTitle()
{
    return QStringLiteral("Zorvik Mini Client");
}
