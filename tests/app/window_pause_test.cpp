// How long the window's thread is held while a big task starts, is checked and stops.
// Figures, not checks of behaviour: run with ZORVIK_MEASURE=1 (see docs/ARCHITECTURE.md).
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/task_list.h"
#include "base/paths.h"
#include "metainfo/sha1.h"
#include "window_fixture.h"

namespace
{

// The longest gap between two firings of a 5 ms timer on the window's thread.
class PauseMeter
{
public:
    PauseMeter()
    {
        m_timer.setInterval(5);
        QObject::connect(
            &m_timer,
            &QTimer::timeout,
            [this]
            {
                const qint64 now = m_clock.nsecsElapsed();
                m_longest = std::max(m_longest, now - m_last);
                m_last = now;
            });
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }

    [[nodiscard]] double longestMs() const { return static_cast<double>(m_longest) / 1e6; }

    void reset()
    {
        m_longest = 0;
        m_last = m_clock.nsecsElapsed();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

std::string bstr(const std::string& s)
{
    return std::to_string(s.size()) + ":" + s;
}

class WindowPauses
    : public ::testing::Test
    , public WindowFixture
{
protected:
    void SetUp() override
    {
        if (std::getenv("ZORVIK_MEASURE") == nullptr)
            GTEST_SKIP() << "a measurement: ZORVIK_MEASURE=1";
    }
};

TEST_F(WindowPauses, StartingAndStoppingA100000Piece10000FileTask)
{
    // 10,000 files of ten 16 KiB pieces each; no data on disk, so the open creates and
    // sizes every file and the piece-state file.
    std::string files;
    for (int i = 0; i < 10000; ++i)
        files += "d6:lengthi163840e4:pathl" + bstr("d" + std::to_string(i / 100))
            + bstr("f" + std::to_string(i)) + "ee";
    const std::string pieces(100000 * 20, 'x');
    const std::string torrent = dir.write(
        "big.torrent",
        "d8:announce27:http://127.0.0.1:9/announce4:infod5:filesl" + files
            + "e4:name3:big12:piece lengthi16384e6:pieces" + bstr(pieces) + "ee");
    auto w = makeWindow("-noupnp");
    PauseMeter meter;
    pump(200);
    meter.reset();
    QElapsedTimer wall;
    wall.start();
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 600000));
    const double openMs = static_cast<double>(wall.elapsed());
    pump(100);
    const double startPause = meter.longestMs();
    meter.reset();
    w->taskList().runCommand(301, 0); // stop
    pump(100);
    std::printf(
        "start of a 100000-piece 10000-file task: open took %.0f ms, longest window pause %.1f ms;"
        " stopping it: longest pause %.1f ms\n",
        openMs,
        startPause,
        meter.longestMs());
}

TEST_F(WindowPauses, CheckingA4GiBTask)
{
    // A 4 GiB file of zeros (sparse) with 4 MiB pieces: every piece has the same digest.
    constexpr std::uint64_t size = std::uint64_t{4} << 30;
    constexpr std::uint32_t piece = 4 << 20;
    torrent::make_folders(dir / "save");
    const int fd = ::open((dir / "save/zeros.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    const std::string zeros(piece, '\0');
    const auto digest = torrent::sha1(std::string_view(zeros), 1);
    std::string pieces;
    for (std::uint64_t i = 0; i < size / piece; ++i)
        pieces.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    const std::string torrent = dir.write(
        "zeros.torrent",
        "d8:announce27:http://127.0.0.1:9/announce4:infod6:lengthi" + std::to_string(size)
            + "e4:name9:zeros.bin12:piece lengthi" + std::to_string(piece) + "e6:pieces" + bstr(pieces)
            + "ee");
    auto w = makeWindow("-noupnp");
    PauseMeter meter;
    pump(200);
    meter.reset();
    QElapsedTimer wall;
    wall.start();
    w->OpenTorrent(torrent);
    ASSERT_TRUE(pumpUntil([&] { return w->runningCount() == 1; }, 60000));
    const torrent::task_entry& entry = *w->taskList().entries()[0];
    ASSERT_TRUE(pumpUntil([&] { return w->slot(entry.view_slot).view.upload_started != 0; }, 600000));
    std::printf(
        "check of a 4 GiB task: %.1f s, longest window pause %.1f ms\n",
        static_cast<double>(wall.elapsed()) / 1000.0,
        meter.longestMs());
}

} // namespace
