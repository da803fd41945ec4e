// The main window's stored settings over its real registry file: the settings dialog opened
// from the menu, the record written at exit and what the next start makes of it, and the
// help viewer's openings and closing.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/help_dialog.h"
#include "app/settings_dialog.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "registry/settings_record.h"
#include "window_fixture.h"

namespace
{

using torrent::SettingsRecord;

struct dialog_input
{
    const char* tasks = nullptr; // c1059
    const char* connections = nullptr; // c1061
    const char* download_kb = nullptr; // c1046
    int upnp = -1; // c1054: -1 leaves it
};

class WindowSettings
    : public ::testing::Test
    , public WindowFixture
{
protected:
    // Menu item 316 with the dialog filled in and saved as a person would.
    static void saveDialog(MainWindow& w, const dialog_input& in)
    {
        bool saved = false;
        QTimer poll;
        QObject::connect(
            &poll,
            &QTimer::timeout,
            [&]
            {
                auto* d = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
                if (d == nullptr)
                    return;
                poll.stop();
                auto edit = [d](const char* id, const char* text)
                {
                    if (text != nullptr)
                        d->findChild<QLineEdit*>(QString::fromLatin1(id))->setText(QString::fromLatin1(text));
                };
                edit("c1059", in.tasks);
                edit("c1061", in.connections);
                edit("c1046", in.download_kb);
                if (in.upnp >= 0)
                    d->findChild<QCheckBox*>(QStringLiteral("c1054"))->setChecked(in.upnp != 0);
                QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("c1")), Qt::LeftButton);
                saved = true;
            });
        poll.start(10);
        w.taskList().runCommand(316, -1);
        EXPECT_TRUE(saved) << "the settings dialog never came";
    }

    // The close prompt's Yes, and the window's own end.
    void exitThroughYes(MainWindow& w)
    {
        QSignalSpy exits(&w, &MainWindow::exitRequested);
        prompt.closeAnswers = {Prompt::Answer::Yes};
        w.ClosePrompt();
        ASSERT_TRUE(pumpUntil([&] { return exits.count() == 1; }, 5000));
    }

    [[nodiscard]] SettingsRecord stored() const
    {
        return torrent::TaskRegistry(dir / "home/Zorvik.dat").ReadSettings().value_or(SettingsRecord{});
    }

    // Bytes 1..52 of the registry file as hex.
    [[nodiscard]] std::string storedHex() const
    {
        const std::string file = dir.read("home/Zorvik.dat");
        std::string hex;
        for (std::size_t i = 1; i < 53 && i < file.size(); ++i)
        {
            static const char digits[] = "0123456789abcdef";
            const auto b = static_cast<unsigned char>(file[i]);
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
        return hex;
    }

    static QRect screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

TEST_F(WindowSettings, SavedMaximumsWaitForTheNextStartAndItsLimitsApplyAtOnce)
{
    {
        auto w = makeWindow("-noupnp -tc5 -pc30");
        ASSERT_TRUE(w->networkUp());
        EXPECT_EQ(w->session().download_meter().limit(), 0u); // no -ds
        saveDialog(*w, {.tasks = "12", .connections = "300", .download_kb = "100"});
        const SettingsRecord r = stored();
        EXPECT_EQ(r.max_tasks, 10);
        EXPECT_EQ(r.max_connections, 300 & 0xFF);
        EXPECT_EQ(r.download_limit, 102400u);
        // The limit at once; the maximums only at the next start.
        EXPECT_EQ(w->session().download_meter().limit(), 102400u);
        EXPECT_EQ(w->runtime().download_limit, 102400);
        EXPECT_EQ(w->maxTasks(), 5);
        // The dialog shows what waits for the next start.
        EXPECT_EQ(w->current_settings().max_tasks, 10);
        EXPECT_EQ(w->current_settings().max_connections, 44);
        exitThroughYes(*w);
        // The exit keeps the dialog's maximums, not the ones in use.
        EXPECT_EQ(stored().max_tasks, 10);
        EXPECT_EQ(stored().max_connections, 44);
    }
    // The stored maximums beat -tc and -pc; without -ds the stored limit goes.
    auto w = makeWindow("-noupnp -tc5 -pc30");
    EXPECT_EQ(w->maxTasks(), 10);
    EXPECT_EQ(w->current_settings().max_connections, 44);
    EXPECT_EQ(w->runtime().download_limit, 0);
    EXPECT_EQ(w->session().download_meter().limit(), 0u);
    exitThroughYes(*w);
    EXPECT_EQ(stored().download_limit, 0u);

    // With -ds the command line's limit holds.
    auto again = makeWindow("-noupnp -ds7");
    EXPECT_EQ(again->session().download_meter().limit(), 7u * 1024);
}

TEST_F(WindowSettings, FewTasksAreKeptFewConnectionsAreNot)
{
    {
        auto w = makeWindow("-noupnp");
        saveDialog(*w, {.tasks = "3", .connections = "9"});
        EXPECT_EQ(stored().max_tasks, 3);
        EXPECT_EQ(stored().max_connections, 64);
        // Saved again for another value, the tasks shown are the 3 that wait.
        saveDialog(*w, {.connections = "10"});
        EXPECT_EQ(stored().max_tasks, 3);
        EXPECT_EQ(stored().max_connections, 10);
        exitThroughYes(*w);
    }
    // 3 tasks override -tc7; 10 connections is not above 10, so -pc30 stays.
    auto w = makeWindow("-noupnp -tc7 -pc30");
    EXPECT_EQ(w->maxTasks(), 3);
    EXPECT_EQ(w->current_settings().max_connections, 30);
}

TEST_F(WindowSettings, TheExitRecordOnDiskByteForByte)
{
    auto w = makeWindow("-noupnp -us20 -ds50 -ut7 -nm -msel700");
    ASSERT_TRUE(w->networkUp());
    w->move(1000 - w->width(), 50);
    // The single-line layouts are at least as wide as their strip needs in this font.
    const torrent::window_geometry shown = w->current_geometry();
    ASSERT_GE(shown.single_line_width, 380);
    ASSERT_GE(shown.single_line_ext_width, 505);
    auto hex32 = [](std::int32_t value)
    {
        const auto v = static_cast<std::uint32_t>(value);
        char text[9];
        std::snprintf(
            text, sizeof text, "%02x%02x%02x%02x", v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff, v >> 24);
        return std::string(text);
    };
    exitThroughYes(*w);
    // 10 tasks, 64 connections; flags: delete prompt and buttons; reserved; download
    // 51200, upload 20480, seeding 420000 ms, refresh 700 ms; no user size; single line;
    // extended (its width as shown) x 200; right edge 1000, top 50.
    EXPECT_EQ(
        storedHex(),
        "0a40"
        "0c00"
        "00000000"
        "00c80000"
        "00500000"
        "a0680600"
        "bc020000"
        "00000000"
        "00000000"
            + hex32(shown.single_line_width) + hex32(shown.single_line_ext_width)
            + "c8000000"
              "e8030000"
              "32000000");
}

TEST_F(WindowSettings, TheWindowComesBackWithItsRightEdgeWhereItWas)
{
    const QRect desk = screen();
    {
        auto w = makeWindow();
        w->move(desk.right() - 40 - w->width(), desk.top() + 30);
        exitThroughYes(*w);
    }
    QPoint rightTop;
    {
        auto w = makeWindow();
        rightTop = QPoint(w->x() + w->width(), w->y());
        EXPECT_EQ(rightTop, QPoint(desk.right() - 40, desk.top() + 30));
        // Hidden in the tray (or minimised without one), the exit keeps the same place.
        w->HideToTray();
        exitThroughYes(*w);
    }
    EXPECT_EQ(stored().position_x, rightTop.x());
    EXPECT_EQ(stored().position_y, rightTop.y());

    // A record whose window would end past the screen: 70 pixels from its right side. A
    // damaged one with impossible sizes and a top far off the screen leaves the defaults
    // and a window on the screen.
    SettingsRecord r = stored();
    r.position_x = QGuiApplication::primaryScreen()->geometry().width() + 500;
    r.position_y = -100000;
    r.user_width = -5;
    r.user_height = 300;
    r.single_line_ext_width = 0x7fffffff;
    r.single_line_width = 0;
    ASSERT_EQ(torrent::TaskRegistry(dir / "home/Zorvik.dat").WriteSettings(r), torrent::registry_result::ok);
    auto w = makeWindow();
    const QRect f = w->frameGeometry();
    // 70 pixels from the screen's right side (a few pixels either way: the window may
    // settle its width once its fonts are final).
    EXPECT_NEAR(f.x(), QGuiApplication::primaryScreen()->geometry().width() - w->width() - 70, 8);
    EXPECT_TRUE(desk.contains(QPoint(f.x() + 10, f.y() + 10))) << f.x() << "," << f.y();
    const torrent::window_geometry g = w->current_geometry();
    EXPECT_EQ(g.user_width, 0);
    EXPECT_GE(g.single_line_width, 380); // the default, or what the strip needs
    EXPECT_LT(g.single_line_width, 4096);
    EXPECT_GE(g.single_line_ext_width, 505);
    EXPECT_LT(g.single_line_ext_width, 4096);
}

TEST_F(WindowSettings, HelpOnTheFirstStartOnF1AndTheMenuClosedOnHiding)
{
    {
        auto w = makeWindow();
        ASSERT_NE(help_window(), nullptr);
        EXPECT_TRUE(help_window()->isVisible());
        // Hiding in the tray closes it, whichever way the window hides.
        prompt.closeAnswers = {Prompt::Answer::No};
        w->ClosePrompt();
        EXPECT_EQ(help_window(), nullptr);
        w->TrayNotification(TrayIcon::left_button_down);
    }
    // Later starts open it only when asked.
    auto w = makeWindow();
    EXPECT_EQ(help_window(), nullptr);
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w->taskList().view(), Qt::Key_F1);
    ASSERT_NE(help_window(), nullptr);
    EXPECT_TRUE(help_window()->isVisible());
    QTest::keyClick(help_window(), Qt::Key_Escape); // only hides it
    ASSERT_NE(help_window(), nullptr);
    EXPECT_FALSE(help_window()->isVisible());
    w->taskList().runCommand(317, -1);
    EXPECT_TRUE(help_window()->isVisible());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_EQ(help_window(), nullptr);
}

// Needs a UPnP gateway: the script test window_settings_upnp starts miniupnpd and names
// the home-network address the window probes with.
TEST_F(WindowSettings, TickingUpnpMapsThePortAndTheSettingOutlivesTheMapping)
{
    const char* local = std::getenv("ZORVIK_TEST_UPNP_LOCAL_IP");
    if (local == nullptr)
        GTEST_SKIP() << "no UPnP gateway (run by the window_settings_upnp script test)";
    torrent::test::scoped_env probe("ZORVIK_PROBE_ADDRESS", std::string(local));
    {
        auto w = makeWindow("-noupnp -port45000");
        ASSERT_TRUE(w->networkUp());
        saveDialog(*w, {.upnp = 1});
        EXPECT_TRUE(stored().flags & SettingsRecord::upnp);
        ASSERT_TRUE(
            pumpUntil([&] { return w->statusText().contains(QStringLiteral("port = 45000")); }, 30000))
            << w->statusText().toStdString();
        exitThroughYes(*w);
    }
    // The mapping cleared the wish, not the setting.
    EXPECT_TRUE(stored().flags & SettingsRecord::upnp);
}

} // namespace
