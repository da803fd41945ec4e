#include "app/window_entry.h"

#include <cstdio>

#include <QApplication>
#include <QDialog>

#include "app/display_check.h"

namespace torrent
{

int run_window_program(int argc, char** argv)
{
    // The toolkit aborts (core dump and all) when it cannot reach a display, so the
    // question is settled before it starts.
    if (const auto reason = missing_display_reason(process_environment()))
    {
        std::fprintf(
            stderr,
            "zorvik: no display to show the window on (%s); zorvik-cli runs without one\n",
            reason->c_str());
        return 2;
    }
    QApplication application(argc, argv);
    QDialog window;
    window.setWindowTitle(QStringLiteral("Zorvik Mini Client"));
    window.show();
    return application.exec();
}

} // namespace torrent
