// The real main window, offscreen, driven by its controls' object names.
#include <filesystem>

#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QUrl>

#include <gtest/gtest.h>

#include "app/handover.h"
#include "app/list_model.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "app/tray_icon.h"
#include "base/paths.h"
#include "window_fixture.h"

namespace
{

QString text(torrent::uitext::id entry)
{
    return qt_string(torrent::ui_text(entry));
}

QString labelText(MainWindow& w, int control)
{
    auto* label = w.findChild<QLabel*>(QStringLiteral("c%1").arg(control));
    return label != nullptr ? label->text() : QStringLiteral("<missing c%1>").arg(control);
}

QPushButton* button(MainWindow& w, int control)
{
    return w.findChild<QPushButton*>(QStringLiteral("c%1").arg(control));
}

class MainWindowTest
    : public ::testing::Test
    , public WindowFixture
{
};

TEST_F(MainWindowTest, EveryTemplateControlCarriesItsId)
{
    auto w = makeWindow();
    for (const int id :
         {1027,
          1015,
          1021,
          1019,
          1022,
          1023,
          1026,
          1020,
          1025,
          1024,
          1008,
          1012,
          1004,
          1005,
          1009,
          1014,
          1006,
          1007,
          1018})
        EXPECT_NE(w->findChild<QLabel*>(QStringLiteral("c%1").arg(id)), nullptr) << id;
    for (const int id : {1013, 1011, 1016})
        EXPECT_NE(button(*w, id), nullptr) << id;
    EXPECT_NE(w->findChild<QTableView*>(QStringLiteral("c1010")), nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Zorvik Mini Client"));
    EXPECT_EQ(labelText(*w, 1021), text(torrent::uitext::caption_file_size));
    EXPECT_EQ(labelText(*w, 1024), text(torrent::uitext::caption_uploaded));
    EXPECT_EQ(w->tray().tip(), "No Task");
    // Without a stored folder, downloads go to the desktop's download folder.
    EXPECT_EQ(w->defaultSaveFolder(), dir / "save");
    EXPECT_EQ(w->statusText(), QStringLiteral("[Save To] ") + qt_string(dir / "save"));
}

TEST_F(MainWindowTest, ProbesUntilTheNetworkComesThenKeepsItsStatusForSixSeconds)
{
    torrent::manual_clock clock(100000);
    time = &clock;
    // Unroutable here: only loopback exists in the test's network namespace.
    torrent::test::scoped_env probe("ZORVIK_PROBE_ADDRESS", std::string("10.255.255.1"));
    auto w = makeWindow();
    EXPECT_FALSE(w->networkUp());
    EXPECT_TRUE(button(*w, 1011)->isHidden());
    EXPECT_TRUE(button(*w, 1013)->isHidden());
    EXPECT_FALSE(button(*w, 1011)->isEnabled());
    EXPECT_EQ(w->timerPeriod(), MainWindow::probe_period_ms);
    // The probing text comes once per turn of the status symbol (every 6 ticks with UPnP
    // wanted, 4 without).
    ASSERT_TRUE(pumpUntil([&] { return w->statusText() == text(torrent::uitext::network_probing); }, 3000));
    w->OpenTorrent(dir / "none.torrent");
    ASSERT_EQ(prompt.warned.size(), 1u);
    EXPECT_EQ(prompt.warned[0], text(torrent::uitext::network_not_connected));

    {
        torrent::test::scoped_env up("ZORVIK_PROBE_ADDRESS", std::string("127.0.0.1"));
        ASSERT_TRUE(pumpUntil([&] { return w->networkUp(); }, 3000));
    }
    EXPECT_EQ(w->statusText(), text(torrent::uitext::network_connected));
    EXPECT_FALSE(button(*w, 1011)->isHidden());
    EXPECT_GE(w->soundsPlayed(), 1u); // the chime
    clock.advance(5999);
    w->ShowStatus(QStringLiteral("too early"), false);
    EXPECT_EQ(w->statusText(), text(torrent::uitext::network_connected));
    clock.advance(1);
    w->ShowStatus(QStringLiteral("later"), false);
    EXPECT_EQ(w->statusText(), QStringLiteral("later"));
}

TEST_F(MainWindowTest, ClosePromptCancelsHidesOrEnds)
{
    auto w = makeWindow();
    w->show();
    QSignalSpy exits(w.get(), &MainWindow::exitRequested);

    prompt.closeAnswers = {Prompt::Answer::Cancel};
    button(*w, 1016)->click();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->exitPending());
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0], text(torrent::uitext::close_prompt));

    prompt.closeAnswers = {Prompt::Answer::No};
    button(*w, 1016)->click();
    if (TrayIcon::available())
    {
        EXPECT_FALSE(w->isVisible());
    }
    else
    {
        // Without a tray the window is only minimised, and says so once.
        EXPECT_TRUE(w->isMinimized());
        EXPECT_TRUE(w->statusText().contains(QStringLiteral("托盘")));
    }
    w->TrayNotification(TrayIcon::left_button_down);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());

    prompt.closeAnswers = {Prompt::Answer::Yes};
    button(*w, 1016)->click();
    EXPECT_TRUE(w->exitPending());
    EXPECT_FALSE(w->tray().shown());
    EXPECT_FALSE(w->isVisible());
    ASSERT_TRUE(pumpUntil([&] { return exits.count() == 1; }, 3000));
    EXPECT_EQ(exits.takeFirst().at(0).toInt(), 0);
    const auto settings = w->registry().ReadSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->upload_limit, 30720u);
}

TEST_F(MainWindowTest, GoStartsATaskThatSeedsItsTimeAndEndsFinished)
{
    torrent::manual_clock clock(100000);
    time = &clock;
    const std::string torrent = makeSingleFile("seed.bin", 100000, true);
    auto w = makeWindow("-noupnp -ut1");
    ASSERT_TRUE(w->networkUp());
    prompt.torrentFiles = {qt_string(torrent)};
    button(*w, 1011)->click();
    EXPECT_EQ(prompt.fileSelections, 1);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    TaskList& list = w->taskList();
    ASSERT_EQ(list.entries().size(), 1u);
    const torrent::task_entry& entry = *list.entries()[0];
    EXPECT_EQ(entry.status, torrent::task_status::running);
    EXPECT_EQ(storedStatus(entry.index), 30);
    EXPECT_EQ(w->tray().tip(), "seed.bin");
    EXPECT_EQ(w->timerPeriod(), 1500);

    // The data on disk is checked, then the task seeds: its time starts at that tick.
    const int row = list.rowOf(entry);
    ASSERT_GE(row, 0);
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            clock.advance(100);
            return w->slot(entry.view_slot).view.upload_started != 0;
        },
        8000));
    EXPECT_EQ(list.model().cell(row, TaskList::completion), QStringLiteral("100.00%"));
    EXPECT_EQ(list.model().cell(row, TaskList::size), QStringLiteral(" 97.656K"));
    // One minute later the seeding time is over: finished, stored as 31, the slot free.
    clock.advance(60000);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 0; }, 5000));
    EXPECT_EQ(entry.status, torrent::task_status::finished);
    EXPECT_EQ(storedStatus(entry.index), 31);
    EXPECT_EQ(list.model().cell(row, TaskList::mark), QStringLiteral("√"));
    EXPECT_EQ(list.model().cell(row, TaskList::completion), QStringLiteral("100.00%"));
    EXPECT_EQ(list.model().cell(row, TaskList::time_left), QStringLiteral(" 0:00:00"));
}

TEST_F(MainWindowTest, RefreshRewritesOnlyChangedCellsAndBlinksAnIdleTask)
{
    torrent::manual_clock clock(100000);
    time = &clock;
    const std::string torrent = makeSingleFile("idle.bin", 50000, true);
    auto w = makeWindow("-noupnp");
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            clock.advance(100);
            return w->slot(entry.view_slot).view.upload_started != 0;
        },
        8000));
    TaskList& list = w->taskList();
    const int row = list.rowOf(entry);
    list.refresh(false);
    // Nothing moves: each refresh rewrites the activity mark only, "==" and "<=" in turn.
    std::vector<QString> marks;
    for (int i = 0; i < 4; ++i)
    {
        clock.advance(1000);
        const std::uint64_t before = list.model().cellWrites();
        list.refresh(false);
        marks.push_back(list.model().cell(row, TaskList::mark));
        // The mark and the seeding time left change; nothing else is written.
        EXPECT_LE(list.model().cellWrites() - before, 2u);
    }
    EXPECT_NE(marks[0], marks[1]);
    EXPECT_EQ(marks[0], marks[2]);
    EXPECT_TRUE(
        (marks[0] == QStringLiteral("==") && marks[1] == QStringLiteral("<="))
        || (marks[1] == QStringLiteral("==") && marks[0] == QStringLiteral("<=")));
}

TEST_F(MainWindowTest, HandoverCopiesIntoTheTorrentFolderOnceAndSetConfirms)
{
    const std::string torrent = makeSingleFile("given.bin", 20000, false);
    auto w = makeWindow("-noupnp");
    w->ReceiveHandover("\"" + torrent + "\"");
    const std::string copy = dir / "home/torrent/given.bin.torrent";
    EXPECT_TRUE(torrent::is_regular_file(copy));
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    EXPECT_EQ(prompt.fileSelections, 1);
    EXPECT_EQ(w->taskList().entries()[0]->torrent_path, copy);

    // The same file again: the copy exists, nothing is opened.
    w->ReceiveHandover(torrent);
    pump(300);
    EXPECT_EQ(prompt.fileSelections, 1);
    EXPECT_EQ(w->taskList().entries().size(), 1u);

    w->ReceiveHandover("-set -us20");
    ASSERT_TRUE(pumpUntil([&] { return !prompt.informed.empty(); }, 2000));
    EXPECT_EQ(
        prompt.informed[0],
        QStringLiteral(
            "成功地重新设置了以下的运行时参数：\r最大上传速度= 20.000K\r\n重新设置UPnP端口映射:是\r\n"
            "允许定时最小化窗口:是\r\n允许删除任务时提示:是\r\n"));
    EXPECT_EQ(w->runtime().upload_limit, 20480);
    // Other texts are ignored.
    w->ReceiveHandover("-us30");
    w->ReceiveHandover(dir / "not-a-torrent.txt");
    pump(100);
    EXPECT_EQ(prompt.informed.size(), 1u);
}

// Runs the real program as a second copy with the given arguments; answers its exit status.
int runSecondCopy(const QStringList& arguments)
{
    QProcess copy;
    copy.setProgram(QStringLiteral(ZORVIK_WINDOW_BINARY));
    copy.setArguments(arguments);
    copy.setProcessChannelMode(QProcess::ForwardedChannels);
    copy.start();
    if (!WindowFixture::pumpUntil([&] { return copy.state() == QProcess::NotRunning; }, 15000))
    {
        copy.kill();
        copy.waitForFinished();
        return -1;
    }
    return copy.exitStatus() == QProcess::NormalExit ? copy.exitCode() : -2;
}

TEST_F(MainWindowTest, SecondCopyHandsOverAPathOnceAndASetLine)
{
    const std::string torrent = makeSingleFile("second.bin", 20000, false);
    auto w = makeWindow("-noupnp");
    const torrent::socket_folder sockets = torrent::prepare_socket_folder();
    ASSERT_FALSE(sockets.path.empty()) << sockets.error;
    EXPECT_EQ(sockets.path, dir / "run/zorvik/");
    w->attachHandover(torrent::handover_listener::open(sockets.path));

    EXPECT_EQ(runSecondCopy({qt_string(torrent)}), 0);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    EXPECT_EQ(prompt.fileSelections, 1);
    EXPECT_TRUE(torrent::is_regular_file(dir / "home/torrent/second.bin.torrent"));
    EXPECT_TRUE(w->isVisible()); // shown as a tray click would

    EXPECT_EQ(runSecondCopy({qt_string(torrent)}), 0);
    pump(200);
    EXPECT_EQ(prompt.fileSelections, 1);

    EXPECT_EQ(runSecondCopy({QStringLiteral("-set"), QStringLiteral("-us20")}), 0);
    ASSERT_TRUE(pumpUntil([&] { return !prompt.informed.empty(); }, 2000));
    EXPECT_EQ(
        prompt.informed[0],
        QStringLiteral(
            "成功地重新设置了以下的运行时参数：\r最大上传速度= 20.000K\r\n重新设置UPnP端口映射:是\r\n"
            "允许定时最小化窗口:是\r\n允许删除任务时提示:是\r\n"));
}

TEST_F(MainWindowTest, ADroppedTorrentOpensAsGoWouldAndOtherDropsAreRefused)
{
    const std::string torrent = makeSingleFile("dropped.bin", 20000, false);
    auto w = makeWindow("-noupnp");
    auto drop = [&](const QString& path)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &dropped);
        return true;
    };
    EXPECT_FALSE(drop(qt_string(dir / "notes.txt")));
    EXPECT_TRUE(drop(qt_string(torrent)));
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    EXPECT_EQ(prompt.fileSelections, 1);
    EXPECT_EQ(w->taskList().entries()[0]->torrent_path, torrent);
}

TEST_F(MainWindowTest, AnUnreadableTorrentAddsNothing)
{
    const std::string bad = dir.write("bad.torrent", "d4:infoi3ee");
    auto w = makeWindow("-noupnp");
    w->OpenTorrent(bad);
    ASSERT_TRUE(pumpUntil([&] { return !prompt.warned.empty(); }, 5000));
    EXPECT_TRUE(prompt.warned[0].startsWith(text(torrent::uitext::cannot_start_task)));
    EXPECT_TRUE(prompt.warned[0].contains(QStringLiteral("invalid torrent")))
        << prompt.warned[0].toStdString();
    EXPECT_TRUE(w->taskList().entries().empty());
    EXPECT_EQ(storedRecords(), 0u);
    EXPECT_EQ(w->runningCount(), 0);
}

TEST_F(MainWindowTest, ATaskRunningInOneCopyIsStoppedInTheNextAndInUseThere)
{
    const std::string torrent = makeSingleFile("shared.bin", 40000, false);
    auto a = makeWindow("-noupnp");
    a->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return a->runningCount() == 1; }, 5000));
    const torrent::task_entry& running = *a->taskList().entries()[0];
    EXPECT_EQ(storedStatus(running.index), 30);
    const std::string before = dir.read("save/shared.bin");

    // A second copy over the same registry: the record left at 30 is shown stopped.
    auto b = makeWindow("-noupnp");
    ASSERT_TRUE(pumpUntil([&] { return b->taskList().loaded(); }, 5000));
    ASSERT_EQ(b->taskList().entries().size(), 1u);
    const torrent::task_entry& seen = *b->taskList().entries()[0];
    EXPECT_EQ(seen.status, torrent::task_status::stopped);
    const int row = b->taskList().rowOf(seen);
    EXPECT_EQ(b->taskList().model().cell(row, TaskList::mark), QString());

    // Starting it there finds its files in use: "#", shown as the in-use mark.
    b->taskList().runCommand(301, row);
    ASSERT_TRUE(pumpUntil([&] { return seen.status == torrent::task_status::in_use; }, 5000));
    EXPECT_EQ(b->taskList().model().cell(b->taskList().rowOf(seen), TaskList::mark), QStringLiteral("■"));
    EXPECT_EQ(b->runningCount(), 0);
    EXPECT_EQ(a->runningCount(), 1);
    EXPECT_EQ(storedStatus(running.index), 30); // 35 is never written
    EXPECT_EQ(dir.read("save/shared.bin"), before);
    // Deleting it there is refused.
    b->taskList().runCommand(302, b->taskList().rowOf(seen));
    ASSERT_FALSE(prompt.warned.empty());
    EXPECT_EQ(prompt.warned.back(), text(torrent::uitext::delete_task_in_use));
    EXPECT_EQ(storedStatus(running.index), 30);
}

TEST_F(MainWindowTest, ClosingWithARunningTaskStopsItFirstAndEndsWithinAPeriodAndASecond)
{
    const std::string torrent = makeSingleFile("closing.bin", 40000, false);
    auto w = makeWindow("-noupnp");
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    const std::uint16_t index = entry.index;
    EXPECT_EQ(storedStatus(index), 30);

    // The network information names our addresses and the tracker's count.
    w->taskList().runCommand(315, w->taskList().rowOf(entry));
    ASSERT_EQ(prompt.informed.size(), 1u);
    EXPECT_TRUE(prompt.informed[0].startsWith(QStringLiteral("内网[")));
    EXPECT_TRUE(
        prompt.informed[0].contains(QStringLiteral("closing.bin\r\n从tracker服务器得到的IP个数是：0")));

    QSignalSpy exits(w.get(), &MainWindow::exitRequested);
    QElapsedTimer clock;
    clock.start();
    prompt.closeAnswers = {Prompt::Answer::Yes};
    w->ClosePrompt();
    EXPECT_FALSE(w->tray().shown()); // at once
    ASSERT_TRUE(pumpUntil([&] { return exits.count() == 1; }, 5000));
    EXPECT_LT(clock.elapsed(), 1500 + 1000 + 500);
    EXPECT_EQ(w->runningCount(), 0);
    EXPECT_EQ(storedStatus(index), 34);
}

TEST_F(MainWindowTest, DeletingAskingFirstAndTheStateFileWithIt)
{
    const std::string torrent = makeSingleFile("gone.bin", 40000, true);
    auto w = makeWindow("-noupnp");
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 5000));
    const std::uint16_t index = w->taskList().entries()[0]->index;
    // Once the check has written its piece-state file, named by the info-hash.
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            for (const auto& e : std::filesystem::directory_iterator(dir / "home"))
            {
                if (e.path().filename().string().size() == 40)
                    return true;
            }
            return false;
        },
        8000));

    prompt.okAnswers = {false};
    w->taskList().runCommand(304, 0); // cancelled: nothing happens
    EXPECT_EQ(w->taskList().entries().size(), 1u);
    EXPECT_EQ(w->runningCount(), 1);

    prompt.okAnswers = {true};
    w->taskList().runCommand(305, 0); // the task, its state file and its torrent
    EXPECT_TRUE(w->taskList().entries().empty());
    // A task still checking its data ends its check first; the next tick closes it.
    EXPECT_TRUE(pumpUntil([&] { return w->runningCount() == 0; }, 5000));
    EXPECT_EQ(storedStatus(index), 33);
    EXPECT_FALSE(torrent::is_regular_file(torrent));
    for (const auto& e : std::filesystem::directory_iterator(dir / "home"))
        EXPECT_NE(e.path().filename().string().size(), 40u) << "the piece-state file stayed";
}

TEST(TrayIconTip, CutAt127BytesNeverInsideACharacter)
{
    const std::string ascii(126, 'a');
    EXPECT_EQ(TrayIcon::cutTip(ascii + "中文"), ascii); // 126 + 3 would be 129
    EXPECT_EQ(TrayIcon::cutTip(std::string(125, 'b') + "中"), std::string(125, 'b'));
    EXPECT_EQ(TrayIcon::cutTip(std::string(124, 'c') + "中"), std::string(124, 'c') + "中");
    const std::string exact(127, 'd');
    EXPECT_EQ(TrayIcon::cutTip(exact + "e"), exact);
    EXPECT_EQ(TrayIcon::cutTip("短"), "短");
}

} // namespace
