// Screenshots of the settings dialog and the help viewer in Chinese and in English, taken
// on a real X server (the script runs it under Xvfb). It also fails when a text of either
// dialog does not get the room it needs, so a longer translation is never cut off.
//   dialog_screenshots OUTPUT_FOLDER ENGLISH_LANGUAGE_FILE
#include <cstdio>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/help_dialog.h"
#include "app/settings_dialog.h"
#include "base/paths.h"
#include "fake_settings_host.h"
#include "text_fit.h"
#include "ui/language_file.h"

namespace
{

int g_failures = 0;

// Every visible text gets at least the room it asks for.
void check_fits(const QWidget& dialog)
{
    g_failures += count_cut_texts(dialog);
}

void save(QWidget& widget, const std::string& path)
{
    if (!widget.grab().save(QString::fromStdString(path)))
    {
        std::fprintf(stderr, "FAIL cannot write %s\n", path.c_str());
        ++g_failures;
    }
}

void settings_shots(const std::string& out, const std::string& language)
{
    torrent::test::fake_settings_host host;
    host.values.runtime.download_limit = 102400;
    SettingsDialog dialog(host);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        std::fprintf(stderr, "warning: the settings dialog was not exposed\n");
    check_fits(dialog);
    save(dialog, out + "/settings_" + language + ".png");
}

void help_shots(const std::string& out, const std::string& language)
{
    ShowHelp(true);
    HelpDialog* help = help_window();
    if (!QTest::qWaitForWindowExposed(help))
        std::fprintf(stderr, "warning: the help viewer was not exposed\n");
    auto* next = help->findChild<QPushButton*>(QStringLiteral("c1035"));
    // The viewer opens where the last language left it: walk once round all the pages.
    for (int page = 1; page <= 35; ++page)
    {
        const int shown =
            help->findChild<QLabel*>(QStringLiteral("c1033"))->text().section(QLatin1Char(' '), 0, 0).toInt();
        check_fits(*help);
        char name[64];
        std::snprintf(name, sizeof name, "/help_%s_%02d.png", language.c_str(), shown);
        save(*help, out + name);
        QTest::mouseClick(next, Qt::LeftButton);
    }
    ShowHelp(false);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER ENGLISH_LANGUAGE_FILE\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    const std::string out = argv[1];

    torrent::install_ui_text(torrent::ui_text_table());
    settings_shots(out, "zh");
    help_shots(out, "zh");

    std::string english;
    if (!torrent::read_whole_file(argv[2], english))
    {
        std::fprintf(stderr, "FAIL cannot read %s\n", argv[2]);
        return 1;
    }
    torrent::ui_text_table table;
    torrent::read_language_file(english, table);
    torrent::install_ui_text(std::move(table));
    settings_shots(out, "en");
    help_shots(out, "en");

    std::printf("%s: %d text(s) without room\n", g_failures == 0 ? "ok" : "FAIL", g_failures);
    return g_failures == 0 ? 0 : 1;
}
