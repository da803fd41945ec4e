// Screenshots of the main window on a real X server (the script runs it under Xvfb), in
// the language the locale gives a first start: the program's own choice of language file
// in the data folder ZORVIK_HOME names. The first shot shows the whole screen with the
// help viewer the first start opens; the second the window alone as it starts (task-list
// mode), the third in single-task mode's standard layout. Fails when a text of
// the window or the viewer gets less room than it needs.
//   window_screenshots OUTPUT_FOLDER NAME
#include <cstdio>
#include <string>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include "app/help_dialog.h"
#include "app/main_window.h"
#include "app/prompt.h"
#include "base/data_folder.h"
#include "base/paths.h"
#include "text_fit.h"
#include "ui/language_file.h"

namespace
{

bool save(const QPixmap& shot, const std::string& path)
{
    if (shot.save(QString::fromStdString(path)))
        return true;
    std::fprintf(stderr, "FAIL cannot write %s\n", path.c_str());
    return false;
}

// The detail fields with their longest texts, as a running task may show them.
void fillLongestValues(MainWindow& window)
{
    for (const int id : {1008, 1004, 1005, 1006, 1007})
        window.findChild<QLabel*>(QStringLiteral("c%1").arg(id))->setText(QStringLiteral("1023.999M"));
    window.findChild<QLabel*>(QStringLiteral("c1012"))->setText(QStringLiteral("999:59:59"));
    window.findChild<QLabel*>(QStringLiteral("c1014"))->setText(QStringLiteral("100.00%"));
    window.findChild<QLabel*>(QStringLiteral("c1009"))->setText(QStringLiteral("255"));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER NAME\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::string name = argv[2];
    // As the program starts: the data folder, then the language file for the locale.
    const std::string folder = torrent::data_folder();
    static_cast<void>(torrent::make_folders(folder));
    const torrent::language_file_result language = torrent::LoadLanguageFile();
    std::printf("language file: result %d\n", static_cast<int>(language));
    ::setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    QApplication application(argc, argv);

    MainWindowOptions options;
    options.line = torrent::command_line("-noupnp");
    options.start = torrent::read_start_options(options.line, [] { return 0u; });
    options.start.listen_port = 20000;
    options.data_folder = folder;
    options.listen_address = 0x7F000001;
    DialogPrompt prompt;
    MainWindow window(std::move(options), prompt);
    int failures = 0;
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "warning: the window was not exposed\n");
    HelpDialog* help = help_window();
    if (help == nullptr || !QTest::qWaitForWindowExposed(help))
    {
        std::fprintf(stderr, "FAIL the first start opened no help viewer\n");
        ++failures;
    }
    fillLongestValues(window);
    QTest::qWait(300);
    std::printf(
        "caption c1021: %s\n", qPrintable(window.findChild<QLabel*>(QStringLiteral("c1021"))->text()));
    // The status line shows what it is told (a long save folder is cut there by design);
    // "x" is a square button, narrower than the style's least button width but wide
    // enough for its one letter.
    failures += count_cut_texts(window, {QStringLiteral("c1015"), QStringLiteral("c1016")});
    if (help != nullptr)
        failures += count_cut_texts(*help);
    if (!save(QGuiApplication::primaryScreen()->grabWindow(0), out + "/window_" + name + "_first_start.png"))
        ++failures;
    ShowHelp(false);
    QTest::qWait(100);
    if (!save(window.grab(), out + "/window_" + name + ".png"))
        ++failures;
    // Single-task mode, in the standard layout: every caption and field.
    window.SwitchListMode();
    fillLongestValues(window);
    QTest::qWait(300);
    failures += count_cut_texts(window, {QStringLiteral("c1015"), QStringLiteral("c1016")});
    if (!save(window.grab(), out + "/window_" + name + "_standard.png"))
        ++failures;
    std::printf("%s: %d text(s) without room\n", failures == 0 ? "ok" : "FAIL", failures);
    return failures == 0 ? 0 : 1;
}
