// The window against real peers: run by window_swarm_test.sh, which starts a loopback
// tracker and libtorrent seeders and names their torrents in ZORVIK_SWARM.
#include <cstdlib>

#include <QPushButton>

#include <gtest/gtest.h>

#include "app/list_model.h"
#include "app/qt_text.h"
#include "app/task_list.h"
#include "base/paths.h"
#include "metainfo/torrent_summary.h"
#include "storage/selection_record.h"
#include "window_fixture.h"

namespace
{

std::string swarmFolder()
{
    const char* folder = std::getenv("ZORVIK_SWARM");
    return folder != nullptr ? std::string(folder) : std::string();
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::string x;
    std::string y;
    return torrent::read_whole_file(a, x, std::size_t{1} << 30)
        && torrent::read_whole_file(b, y, std::size_t{1} << 30) && x == y;
}

class WindowSwarm
    : public ::testing::Test
    , public WindowFixture
{
protected:
    void SetUp() override
    {
        m_swarm = swarmFolder();
        if (m_swarm.empty())
            GTEST_SKIP() << "runs from window_swarm_test.sh (needs a tracker and seeders)";
        dir.write("home/trackerFavorite.txt", "http://127.0.0.1:6969/announce\r\n");
    }

    // Goes until the task's row is finished ("√"), at most `ms`.
    bool downloadUntilFinished(MainWindow& w, const torrent::task_entry& entry, int ms)
    {
        return pumpUntil(
            [&]
            {
                const int row = w.taskList().rowOf(entry);
                return row >= 0 && w.taskList().model().cell(row, TaskList::mark) == QStringLiteral("√");
            },
            ms);
    }

    std::string m_swarm;
};

TEST_F(WindowSwarm, GoDownloadsFromALibtorrentSeederByteForByte)
{
    auto w = makeWindow("-noupnp -ut0");
    w->show();
    ASSERT_TRUE(w->networkUp());
    prompt.torrentFiles = {qt_string(m_swarm + "/single.torrent")};
    w->findChild<QPushButton*>(QStringLiteral("c1011"))->click();
    ASSERT_TRUE(pumpUntil([&] { return w->taskList().entries().size() == 1; }, 10000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(downloadUntilFinished(*w, entry, 60000)) << w->statusText().toStdString();
    const int row = w->taskList().rowOf(entry);
    EXPECT_EQ(w->taskList().model().cell(row, TaskList::completion), QStringLiteral("100.00%"));
    EXPECT_EQ(entry.status, torrent::task_status::finished);
    EXPECT_EQ(storedStatus(entry.index), 31);
    EXPECT_TRUE(sameFile(m_swarm + "/src/single.bin", dir / "save/single.bin"));
    EXPECT_EQ(w->runningCount(), 0);
}

TEST_F(WindowSwarm, FilesLeftOutInTheSelectionAreNeverCreated)
{
    const std::string torrentPath = m_swarm + "/multi.torrent";
    torrent::torrent_summary summary;
    ASSERT_EQ(torrent::read_torrent_summary(torrentPath, summary), torrent::summary_result::ok);
    ASSERT_EQ(summary.files.size(), 4u);
    prompt.onSelectFiles = [&](const std::string&, const std::string& save, torrent::selection_record&)
    {
        // As the file selection dialog stores it: files 1 and 3 left out.
        torrent::selection_record choice;
        choice.resize(4);
        choice.set(1, false);
        choice.set(3, false);
        return torrent::WriteStateFile(choice, save, summary.name, dir / "home/");
    };
    auto w = makeWindow("-noupnp -ut0");
    w->OpenTorrent(torrentPath);
    ASSERT_TRUE(pumpUntil([&] { return w->taskList().entries().size() == 1; }, 10000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(downloadUntilFinished(*w, entry, 60000));
    for (std::size_t i = 0; i < summary.files.size(); ++i)
    {
        const std::string& name = summary.files[i].display_path;
        const std::string got = dir / ("save/" + name);
        if (i == 1 || i == 3)
            EXPECT_FALSE(torrent::is_regular_file(got)) << name << " was created";
        else
            EXPECT_TRUE(sameFile(m_swarm + "/src/" + name, got)) << name;
    }
}

TEST_F(WindowSwarm, AFileChosenWhileTheTaskRunsIsDownloadedWithoutARestart)
{
    const std::string torrentPath = m_swarm + "/multi.torrent";
    torrent::torrent_summary summary;
    ASSERT_EQ(torrent::read_torrent_summary(torrentPath, summary), torrent::summary_result::ok);
    std::vector<int> leftOut = {1, 3};
    prompt.onSelectFiles = [&](const std::string&, const std::string& save, torrent::selection_record& chosen)
    {
        chosen.resize(4);
        for (const int i : leftOut)
            chosen.set(static_cast<std::uint32_t>(i), false);
        return torrent::WriteStateFile(chosen, save, summary.name, dir / "home/");
    };
    auto w = makeWindow("-noupnp -ut30");
    w->OpenTorrent(torrentPath);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 10000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    SlotView& slot = w->slot(entry.view_slot);
    ASSERT_TRUE(pumpUntil([&] { return slot.view.upload_started != 0; }, 60000))
        << "the chosen files never completed";
    const std::string file1 = dir / ("save/" + summary.files[1].display_path);
    EXPECT_FALSE(torrent::is_regular_file(file1));

    // File 1 is chosen in the dialog while the task seeds what it has.
    leftOut = {3};
    w->taskList().chooseFiles(w->taskList().rowOf(entry));
    EXPECT_EQ(prompt.fileSelections, 2);
    ASSERT_TRUE(
        pumpUntil([&] { return sameFile(m_swarm + "/src/" + summary.files[1].display_path, file1); }, 60000));
    EXPECT_EQ(w->runningCount(), 1); // the same task, never restarted
    EXPECT_FALSE(torrent::is_regular_file(dir / ("save/" + summary.files[3].display_path)));
}

TEST_F(WindowSwarm, ATrackersRefusalIsShownInTheStatusLine)
{
    auto w = makeWindow("-noupnp");
    w->OpenTorrent(m_swarm + "/unlisted.torrent");
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 10000));
    ASSERT_TRUE(pumpUntil([&] { return w->statusText().contains(QStringLiteral("127.0.0.1:6969")); }, 20000))
        << w->statusText().toStdString();
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("unlisted.bin: ")))
        << w->statusText().toStdString();
}

} // namespace
