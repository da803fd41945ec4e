// The window on a real X server with a real tray (run by window_desktop_test.sh under
// Xvfb with trayer): each layout with a running task (screenshots), the Chinese texts, the
// tray icon with its tip, clicks on it, hiding and coming back in the saved layout, and
// the icon coming back when the tray restarts.
#include <csignal>
#include <cstdlib>
#include <fstream>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
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

// Every figure shown has the room its text needs (the status bar and the legend are cut
// or wrapped by design).
void expectFiguresFit(MainWindow& w, const std::string& shot)
{
    for (const int id :
         {1008, 1012, 1004, 1005, 1009, 1014, 1006, 1007, 1021, 1019, 1022, 1023, 1026, 1020, 1025, 1024})
    {
        const auto* label = w.findChild<QLabel*>(QStringLiteral("c%1").arg(id));
        ASSERT_NE(label, nullptr);
        if (!label->isVisible())
            continue;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
            << shot << ": c" << id << " \"" << label->text().toStdString() << "\" is cut";
    }
}

TEST_F(WindowDesktop, EachLayoutOnScreenAndTheHiddenOneBackFromTheTray)
{
    const std::string torrent = makeSingleFile("布局.bin", 300000, true);
    // Without a tray host (a test that ended the one it started again), one of its own.
    QProcess trayer;
    if (!TrayIcon::available())
    {
        trayer.setProgram(QStringLiteral("trayer"));
        trayer.setArguments(
            QString::fromStdString(env("ZORVIK_TRAYER_ARGS")).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        trayer.start();
        ASSERT_TRUE(trayer.waitForStarted());
    }
    auto w = makeWindow("-noupnp");
    w->show();
    ASSERT_TRUE(pumpUntil([] { return TrayIcon::available(); }, 5000)) << "no tray";
    ASSERT_TRUE(pumpUntil(docked, 5000)) << "the icon never docked";
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(pumpUntil([&] { return w->slot(entry.view_slot).view.upload_started != 0; }, 10000));
    pump(1600);
    const std::string artefacts = env("ZORVIK_ARTEFACTS");
    auto shoot = [&](const std::string& name)
    {
        pump(300);
        expectFiguresFit(*w, name);
        if (!artefacts.empty())
        {
            EXPECT_TRUE(w->grab().save(qt_string(artefacts + "/window-layout-" + name + ".png")));
        }
    };
    auto key = [&](Qt::Key k)
    {
        QTest::keyClick(w->findChild<QWidget*>(QStringLiteral("c1010")), k);
    };

    ASSERT_EQ(w->taskList().mode(), TaskList::Mode::tasks);
    shoot("3-task-list");
    key(Qt::Key_Return);
    shoot("2-task-list");
    key(Qt::Key_F2); // single-task mode: the standard layout it started from
    ASSERT_EQ(static_cast<int>(w->layout()), 4);
    shoot("4");
    for (const char* name : {"1", "2", "3"})
    {
        key(Qt::Key_Return);
        ASSERT_EQ(std::to_string(static_cast<int>(w->layout())), name);
        shoot(name);
    }
    key(Qt::Key_Return); // 4
    w->resize(w->width() + 80, w->height() + 100);
    ASSERT_TRUE(pumpUntil([&] { return static_cast<int>(w->layout()) == 5; }, 2000));
    shoot("5");
    key(Qt::Key_Return); // 1
    key(Qt::Key_Return); // 2
    ASSERT_EQ(static_cast<int>(w->layout()), 2);
    QMouseEvent down(
        QEvent::MouseButtonPress,
        QPointF(22, 10),
        QPointF(w->mapToGlobal(QPoint(22, 10))),
        Qt::RightButton,
        Qt::RightButton,
        {});
    QCoreApplication::sendEvent(w.get(), &down);
    ASSERT_FALSE(w->buttonsShown());
    shoot("2-without-go");

    // Hidden in the tray and back: layout 2 again, where it was.
    const QRect place = w->geometry();
    key(Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return !w->isVisible(); }, 2000))
        << "layout " << static_cast<int>(w->layout()) << " minimised " << w->isMinimized() << " tray "
        << TrayIcon::available();
    EXPECT_EQ(static_cast<int>(w->layout()), 0);
    QWidget* icon = trayWidget();
    ASSERT_NE(icon, nullptr);
    QTest::mouseClick(icon, Qt::LeftButton, Qt::NoModifier, icon->rect().center());
    ASSERT_TRUE(pumpUntil([&] { return w->isVisible(); }, 2000));
    EXPECT_EQ(static_cast<int>(w->layout()), 2);
    pump(300);
    EXPECT_EQ(w->geometry(), place);
    if (trayer.state() != QProcess::NotRunning)
    {
        trayer.terminate();
        trayer.waitForFinished(3000);
    }
}

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
