// The real main window's layouts, keys and mouse commands, offscreen, driven through its
// controls' object names.
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "app/help_dialog.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "window_fixture.h"

namespace
{

using torrent::display_layout;

QWidget* control(MainWindow& w, int id)
{
    return w.findChild<QWidget*>(QStringLiteral("c%1").arg(id));
}

int layoutOf(const MainWindow& w)
{
    return static_cast<int>(w.layout());
}

int rightEdge(const MainWindow& w)
{
    return w.geometry().x() + w.geometry().width();
}

// A key as the user types it: to the control that has the focus, the list.
void press(MainWindow& w, Qt::Key key)
{
    QTest::keyClick(control(w, 1010), key);
}

// A mouse button pressed on the window's own surface (what the controls leave to it).
void click(MainWindow& w, Qt::MouseButton button, QPoint at, bool twice = false)
{
    const QPointF local(at);
    const QPointF global(w.mapToGlobal(at));
    QMouseEvent down(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &up);
    if (twice)
    {
        QMouseEvent again(QEvent::MouseButtonDblClick, local, global, button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &again);
    }
}

class WindowLayoutTest
    : public ::testing::Test
    , public WindowFixture
{
protected:
    // A shown window in single-task mode (it starts in task-list mode).
    std::unique_ptr<MainWindow> singleTaskWindow()
    {
        auto w = makeWindow();
        w->show();
        EXPECT_EQ(w->taskList().mode(), TaskList::Mode::tasks);
        press(*w, Qt::Key_F2);
        EXPECT_EQ(w->taskList().mode(), TaskList::Mode::peers);
        return w;
    }
};

TEST_F(WindowLayoutTest, TaskListModeStartsInLayoutThreeAndAlternatesWithTwo)
{
    auto w = makeWindow();
    w->show();
    EXPECT_EQ(layoutOf(*w), 3);
    EXPECT_EQ(w->height(), 200);
    EXPECT_GE(w->width(), 505); // or what the font needs for every part of the strip
    EXPECT_TRUE(control(*w, 1010)->isVisible());
    EXPECT_FALSE(control(*w, 1021)->isVisible()); // captions belong to the full layouts
    press(*w, Qt::Key_Return);
    EXPECT_EQ(layoutOf(*w), 2);
    EXPECT_FALSE(control(*w, 1010)->isVisible());
    EXPECT_GE(w->width(), 380); // or what the font needs for every part
    press(*w, Qt::Key_Enter);
    EXPECT_EQ(layoutOf(*w), 3);
    // Back in single-task mode the layout from before the list comes back.
    press(*w, Qt::Key_F2);
    EXPECT_EQ(layoutOf(*w), 4);
    EXPECT_TRUE(control(*w, 1021)->isVisible());
    EXPECT_TRUE(control(*w, 1018)->isVisible());
}

TEST_F(WindowLayoutTest, EnterCyclesTheLayoutsKeepingTheRightEdgeAndTakesTheUserSizeIntoTheCycle)
{
    auto w = singleTaskWindow();
    ASSERT_EQ(layoutOf(*w), 4);
    const int right = rightEdge(*w);
    const QSize standard = w->size();
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i)
    {
        press(*w, Qt::Key_Return);
        seen.push_back(layoutOf(*w));
        EXPECT_EQ(rightEdge(*w), right) << "layout " << layoutOf(*w);
        if (w->layout() == display_layout::compact)
        {
            EXPECT_EQ(w->width(), standard.width());
            EXPECT_LT(w->height(), standard.height());
            EXPECT_FALSE(control(*w, 1010)->isVisible());
            EXPECT_TRUE(control(*w, 1008)->isVisible());
        }
        if (w->layout() == display_layout::single_line)
        {
            EXPECT_LT(w->height(), 50);
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(w->size(), standard);
    EXPECT_TRUE(w->userSize().isEmpty());

    // The user drags the border in layout 4: layout 5 at that size, remembered.
    w->resize(standard.width() + 120, standard.height() + 60);
    QCoreApplication::processEvents();
    EXPECT_EQ(layoutOf(*w), 5);
    const QSize user(standard.width() + 120, standard.height() + 60);
    EXPECT_EQ(w->userSize(), user);
    EXPECT_EQ(w->layoutGeometry().user_width, user.width());
    EXPECT_EQ(w->layoutGeometry().user_height, user.height());
    // The list fills what is below the figures.
    const QWidget* list = control(*w, 1010);
    EXPECT_GT(list->height(), 100);
    EXPECT_LE(list->geometry().bottom(), w->height());

    seen.clear();
    for (int i = 0; i < 5; ++i)
    {
        press(*w, Qt::Key_Return);
        seen.push_back(layoutOf(*w));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(w->size(), user);

    // Resizing in layouts 2 and 3 changes their own sizes and keeps the layout.
    press(*w, Qt::Key_Return); // 1
    press(*w, Qt::Key_Return); // 2
    const int stripHeight = w->height();
    w->resize(450, stripHeight);
    QCoreApplication::processEvents();
    EXPECT_EQ(layoutOf(*w), 2);
    EXPECT_EQ(w->singleLineWidth(), 450);
    press(*w, Qt::Key_Return); // 3
    w->resize(520, 260);
    QCoreApplication::processEvents();
    EXPECT_EQ(layoutOf(*w), 3);
    EXPECT_EQ(w->singleLineExtendedSize(), QSize(520, 260));
    EXPECT_EQ(w->layoutGeometry().single_line_width, 450);
    EXPECT_EQ(w->layoutGeometry().right, rightEdge(*w));
}

TEST_F(WindowLayoutTest, LayoutTwosStripIsLaidOutFromTheRightWithGoShownAndHidden)
{
    auto w = singleTaskWindow();
    press(*w, Qt::Key_Return); // 1
    press(*w, Qt::Key_Return); // 2
    ASSERT_EQ(layoutOf(*w), 2);
    auto x = [&](int id)
    {
        return control(*w, id)->geometry();
    };
    // "x", "Go", "SaveTo", upload, download, time left, completion, connections, status.
    EXPECT_EQ(x(1016).right(), w->width() - 4);
    const std::vector<int> order = {1016, 1011, 1013, 1005, 1004, 1012, 1014, 1009};
    for (std::size_t i = 1; i < order.size(); ++i)
    {
        EXPECT_TRUE(control(*w, order[i])->isVisible()) << order[i];
        EXPECT_LT(x(order[i]).right(), x(order[i - 1]).left()) << order[i] << " left of " << order[i - 1];
    }
    EXPECT_GE(x(1005).width(), 65);
    EXPECT_LT(x(1015).right(), x(1009).left());
    EXPECT_GT(x(1015).left(), x(1027).right());
    for (const int hidden : {1008, 1006, 1007, 1018, 1021, 1010})
        EXPECT_FALSE(control(*w, hidden)->isVisible()) << hidden;

    // A right click on the body's left end hides "Go" and "SaveTo"; the figures move right.
    click(*w, Qt::RightButton, QPoint(22, w->height() / 2));
    EXPECT_FALSE(w->buttonsShown());
    EXPECT_FALSE(control(*w, 1011)->isVisible());
    EXPECT_FALSE(control(*w, 1013)->isVisible());
    EXPECT_FALSE(control(*w, 1011)->isEnabled());
    EXPECT_EQ(x(1005).right(), x(1016).left() - 5);
    EXPECT_FALSE(w->layoutGeometry().buttons_shown);
    click(*w, Qt::RightButton, QPoint(22, w->height() / 2));
    EXPECT_TRUE(w->buttonsShown());
    EXPECT_TRUE(control(*w, 1011)->isVisible());
    EXPECT_LT(x(1005).right(), x(1013).left());

    // F4 and menu item 311 leave out the time left and the completion.
    press(*w, Qt::Key_F4);
    EXPECT_TRUE(w->taskList().allTasksOnly());
    EXPECT_FALSE(control(*w, 1012)->isVisible());
    EXPECT_FALSE(control(*w, 1014)->isVisible());
    EXPECT_LT(x(1009).right(), x(1004).left());
    w->taskList().runCommand(311, -1);
    EXPECT_FALSE(w->taskList().allTasksOnly());
    EXPECT_TRUE(control(*w, 1012)->isVisible());

    // Its first 20 pixels answer as the border: a press there widens the strip.
    const int width = w->width();
    const QPoint from = w->mapToGlobal(QPoint(5, 5));
    QMouseEvent down(
        QEvent::MouseButtonPress, QPointF(5, 5), QPointF(from), Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(w.get(), &down);
    QMouseEvent move(
        QEvent::MouseMove, QPointF(35, 5), QPointF(from + QPoint(30, 0)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(w.get(), &move);
    QMouseEvent up(
        QEvent::MouseButtonRelease, QPointF(35, 5), QPointF(from + QPoint(30, 0)), Qt::LeftButton, {}, {});
    QCoreApplication::sendEvent(w.get(), &up);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->width(), width + 30);
    EXPECT_EQ(layoutOf(*w), 2);
    EXPECT_EQ(w->singleLineWidth(), width + 30);
}

TEST_F(WindowLayoutTest, StatusSymbolRightClickAndF2SwitchModesAndTheBodyStepsLayouts)
{
    auto w = makeWindow();
    w->show();
    ASSERT_EQ(w->taskList().mode(), TaskList::Mode::tasks);
    QWidget* symbol = control(*w, 1027);
    QTest::mouseClick(symbol, Qt::RightButton, Qt::NoModifier, symbol->rect().center());
    EXPECT_EQ(w->taskList().mode(), TaskList::Mode::peers);
    EXPECT_EQ(layoutOf(*w), 4);
    QTest::mouseClick(symbol, Qt::RightButton, Qt::NoModifier, symbol->rect().center());
    EXPECT_EQ(w->taskList().mode(), TaskList::Mode::tasks);
    EXPECT_EQ(layoutOf(*w), 3);
    press(*w, Qt::Key_F2);
    EXPECT_EQ(w->taskList().mode(), TaskList::Mode::peers);

    // With no task running, the body's right click, middle click and double click each
    // step the layout; the controls' margin does nothing for the middle button.
    const QPoint body(w->width() / 2, 22);
    click(*w, Qt::RightButton, body);
    EXPECT_EQ(layoutOf(*w), 1);
    click(*w, Qt::MiddleButton, QPoint(w->width() / 2, 22));
    EXPECT_EQ(layoutOf(*w), 2);
    click(*w, Qt::LeftButton, QPoint(w->width() / 2, 10), true);
    EXPECT_EQ(layoutOf(*w), 3);
    click(*w, Qt::MiddleButton, QPoint(w->width() - 5, 100));
    EXPECT_EQ(layoutOf(*w), 3);

    // The body drags the window where no window manager does it.
    const QPoint place = w->pos();
    const QPoint from = w->mapToGlobal(body);
    QMouseEvent down(
        QEvent::MouseButtonPress, QPointF(body), QPointF(from), Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(w.get(), &down);
    QMouseEvent move(
        QEvent::MouseMove, QPointF(body), QPointF(from + QPoint(-40, 25)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(w.get(), &move);
    QMouseEvent up(
        QEvent::MouseButtonRelease, QPointF(body), QPointF(from + QPoint(-40, 25)), Qt::LeftButton, {}, {});
    QCoreApplication::sendEvent(w.get(), &up);
    EXPECT_EQ(w->pos(), place + QPoint(-40, 25));
    EXPECT_EQ(layoutOf(*w), 3);
}

TEST_F(WindowLayoutTest, TopmostFollowsF3AndMenuItem310)
{
    auto w = makeWindow();
    w->show();
    EXPECT_TRUE(w->topmost());
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QRect place = w->geometry();
    press(*w, Qt::Key_F3);
    EXPECT_FALSE(w->topmost());
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->geometry(), place);
    EXPECT_EQ(layoutOf(*w), 3); // not taken for the user's resizing
    w->taskList().runCommand(310, -1);
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(WindowLayoutTest, F1ShowsHelpAndEscapeHidesAndATrayClickBringsTheSavedLayoutBack)
{
    auto w = singleTaskWindow();
    press(*w, Qt::Key_Return); // 1
    press(*w, Qt::Key_Return); // 2
    const QRect place = w->geometry();
    press(*w, Qt::Key_F1);
    ASSERT_NE(help_window(), nullptr);
    EXPECT_TRUE(help_window()->isVisible());
    // Hiding the window closes the help viewer.
    press(*w, Qt::Key_Escape);
    EXPECT_EQ(help_window(), nullptr);
    if (TrayIcon::available())
    {
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(layoutOf(*w), 0);
    }
    else
    {
        // Without a tray the window is only minimised and keeps its layout.
        EXPECT_TRUE(w->isMinimized());
        EXPECT_EQ(layoutOf(*w), 2);
    }
    EXPECT_EQ(static_cast<int>(w->trayLayout()), 2);
    EXPECT_EQ(w->layoutGeometry().right, place.x() + place.width());
    w->tray().click(TrayIcon::left_button_down);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());
    EXPECT_EQ(layoutOf(*w), 2);
    EXPECT_EQ(w->geometry(), place);
}

TEST_F(WindowLayoutTest, TabStepsOnlyToRunningTasks)
{
    auto w = singleTaskWindow();
    const int before = w->currentIndex();
    press(*w, Qt::Key_Tab);
    EXPECT_EQ(w->currentIndex(), before); // nothing runs: nothing changes
    EXPECT_EQ(w->taskList().mode(), TaskList::Mode::peers);

    const std::string first = makeSingleFile("first.bin", 40000, true);
    w->OpenTorrent(first);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const int one = w->currentIndex();
    ASSERT_GE(one, 1);
    press(*w, Qt::Key_Tab);
    EXPECT_EQ(w->currentIndex(), one); // the one running task stays current
    EXPECT_EQ(w->current(), &w->slot(one));

    const std::string second = makeSingleFile("second.bin", 40000, true);
    w->OpenTorrent(second);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 2; }, 5000));
    const int two = w->currentIndex();
    ASSERT_NE(two, one);
    press(*w, Qt::Key_Tab);
    EXPECT_EQ(w->currentIndex(), one);
    press(*w, Qt::Key_Tab);
    EXPECT_EQ(w->currentIndex(), two);
    // A right click on the body steps forward, a middle click back, while tasks run.
    const QPoint body(w->width() / 2, 22);
    click(*w, Qt::RightButton, body);
    EXPECT_EQ(w->currentIndex(), one);
    click(*w, Qt::MiddleButton, body);
    EXPECT_EQ(w->currentIndex(), two);
    EXPECT_EQ(layoutOf(*w), 4);
}

TEST_F(WindowLayoutTest, StoredGeometryIsTakenWhenItCanShowTheStripAndReportedBack)
{
    auto w = singleTaskWindow();
    const int single = w->singleLineWidth();
    const QSize ext = w->singleLineExtendedSize();
    // A record with sizes no strip fits in (zero, negative) keeps the window's own.
    torrent::window_geometry bad;
    bad.user_width = -5;
    bad.user_height = 300;
    bad.single_line_width = 0;
    bad.single_line_ext_width = 10;
    bad.single_line_ext_height = -1;
    w->setLayoutGeometry(bad);
    EXPECT_TRUE(w->userSize().isEmpty());
    EXPECT_EQ(w->singleLineWidth(), single);
    EXPECT_EQ(w->singleLineExtendedSize(), ext);
    EXPECT_EQ(layoutOf(*w), 4);

    torrent::window_geometry good;
    good.buttons_shown = false;
    good.user_width = 700;
    good.user_height = 420;
    good.single_line_width = single + 40;
    good.single_line_ext_width = ext.width() + 20;
    good.single_line_ext_height = 240;
    w->setLayoutGeometry(good);
    EXPECT_FALSE(control(*w, 1011)->isVisible());
    for (int i = 0; i < 5 && w->layout() != display_layout::user; ++i)
        press(*w, Qt::Key_Return);
    ASSERT_EQ(layoutOf(*w), 5);
    EXPECT_EQ(w->size(), QSize(700, 420));
    const torrent::window_geometry back = w->layoutGeometry();
    EXPECT_FALSE(back.buttons_shown);
    EXPECT_EQ(back.user_width, 700);
    EXPECT_EQ(back.user_height, 420);
    EXPECT_EQ(back.single_line_width, single + 40);
    EXPECT_EQ(back.single_line_ext_width, ext.width() + 20);
    EXPECT_EQ(back.single_line_ext_height, 240);
    EXPECT_EQ(back.right, rightEdge(*w));
    EXPECT_EQ(back.top, w->geometry().y());
}

} // namespace
