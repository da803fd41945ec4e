// The window on a real X server with a real tray (run by window_desktop_test.sh under
// Xvfb with trayer): the standard layout with a running task, the Chinese texts, the tray
// icon with its tip, clicks on it, and the icon coming back when the tray restarts.
#include <csignal>
#include <cstdlib>
#include <fstream>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include "app/qt_text.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "base/paths.h"
#include "window_fixture.h"

namespace
{

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

// The tray's embedded icon window (the toolkit's own widget for it), or null.
QWidget* trayWidget()
{
    for (QWidget* w : QApplication::topLevelWidgets())
    {
        if (QString::fromLatin1(w->metaObject()->className()) == QStringLiteral("QSystemTrayIconSys"))
            return w;
    }
    return nullptr;
}

bool docked()
{
    QWidget* w = trayWidget();
    return w != nullptr && w->isVisible() && w->winId() != 0 && w->geometry().width() > 1;
}

class WindowDesktop
    : public ::testing::Test
    , public WindowFixture
{
protected:
    void SetUp() override
    {
        if (env("ZORVIK_DESKTOP_TEST").empty())
            GTEST_SKIP() << "runs from window_desktop_test.sh (Xvfb and trayer)";
    }
};

TEST_F(WindowDesktop, StandardLayoutTrayTipClicksAndTheTrayRestarting)
{
    const std::string torrent = makeSingleFile("演示文件.bin", 300000, true);
    // A later start: the help viewer of a first start would cover the window's screenshot.
    static_cast<void>(torrent::make_folders(dir / "home/torrent"));
    auto w = makeWindow("-noupnp");
    w->show();
    ASSERT_TRUE(pumpUntil([] { return TrayIcon::available(); }, 5000)) << "no tray";
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(pumpUntil([&] { return w->slot(entry.view_slot).view.upload_started != 0; }, 10000));
    pump(1600); // one refresh with figures

    // The captions are Chinese and a font of the system has their glyphs.
    auto* caption = w->findChild<QLabel*>(QStringLiteral("c1021"));
    ASSERT_NE(caption, nullptr);
    const QFontMetrics metrics(caption->font());
    for (const QChar c : caption->text())
        EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << static_cast<unsigned>(c.unicode());

    // The icon is in the tray with the task's tip.
    ASSERT_TRUE(pumpUntil(docked, 5000)) << "the icon never docked";
    QSystemTrayIcon* native = w->tray().native();
    EXPECT_TRUE(native->isVisible());
    EXPECT_EQ(native->toolTip(), display_text(w->tray().tip()));
    EXPECT_TRUE(native->toolTip().startsWith(QStringLiteral("上传中! 上传速度:")));
    EXPECT_TRUE(native->toolTip().endsWith(QStringLiteral("\n演示文件.bin")));

    // A screenshot of the whole screen: the window and the tray.
    const std::string artefacts = env("ZORVIK_ARTEFACTS");
    if (!artefacts.empty())
    {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        EXPECT_TRUE(shot.save(qt_string(artefacts + "/window-standard-layout.png")));
    }

    // Escape hides the window in the tray; a left click on the icon brings it back.
    QTest::keyClick(w.get(), Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return !w->isVisible(); }, 2000));
    QWidget* icon = trayWidget();
    ASSERT_NE(icon, nullptr);
    QTest::mouseClick(icon, Qt::LeftButton, Qt::NoModifier, icon->rect().center());
    ASSERT_TRUE(pumpUntil([&] { return w->isVisible(); }, 2000))
        << "the left click did not restore the window";

    // The tray host ends and starts again: the icon goes back into the new tray.
    const std::string pidFile = env("ZORVIK_TRAYER_PIDFILE");
    ASSERT_FALSE(pidFile.empty());
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_TRUE(pumpUntil([] { return !TrayIcon::available(); }, 5000));
    QProcess trayer;
    trayer.setProgram(QStringLiteral("trayer"));
    trayer.setArguments(
        QString::fromStdString(env("ZORVIK_TRAYER_ARGS")).split(QLatin1Char(' '), Qt::SkipEmptyParts));
    trayer.start();
    ASSERT_TRUE(trayer.waitForStarted());
    std::ofstream(pidFile) << trayer.processId();
    ASSERT_TRUE(pumpUntil([] { return TrayIcon::available(); }, 5000));
    EXPECT_TRUE(pumpUntil(docked, 5000)) << "the icon did not come back";
    EXPECT_EQ(native->toolTip(), display_text(w->tray().tip()));
    if (!artefacts.empty())
    {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        EXPECT_TRUE(shot.save(qt_string(artefacts + "/tray-after-restart.png")));
    }
    trayer.terminate();
    trayer.waitForFinished(3000);
}

} // namespace
