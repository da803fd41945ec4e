#include "app/headless_session.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/cli_get_progress.h"
#include "metainfo/sha1.h"
#include "support/process_env.h"
#include "support/temp_dir.h"

namespace zorvik::cli
{
namespace
{

// Everything a printer wrote, read back at the end.
class captured
{
public:
    captured()
        : m_file(std::tmpfile())
    {
    }

    ~captured() { std::fclose(m_file); }

    captured(const captured&) = delete;
    captured& operator=(const captured&) = delete;

    [[nodiscard]] std::FILE* get() const noexcept { return m_file; }

    [[nodiscard]] std::string text() const
    {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string out;
        char buf[512];
        while (const std::size_t n = std::fread(buf, 1, sizeof buf, m_file))
            out.append(buf, n);
        return out;
    }

private:
    std::FILE* m_file;
};

// A one-piece single-file torrent whose content is already in the save folder; nothing
// answers at its tracker. Each run is its own copy of the program (own data folder) on
// loopback, with the real engine threads.
class HeadlessSession : public ::testing::Test
{
protected:
    HeadlessSession()
    {
        const std::string data(16384, 'z');
        m_dir.write("save/x.bin", data);
        const torrent::sha1_digest digest = torrent::sha1(std::string_view(data), 1);
        const std::string pieces(reinterpret_cast<const char*>(digest.data()), digest.size());
        m_torrent = m_dir.write(
            "x.torrent",
            "d8:announce27:http://127.0.0.1:9/announce4:infod6:lengthi16384e4:name5:x.bin"
            "12:piece lengthi16384e6:pieces20:"
                + pieces + "ee");
        m_options.torrents = {m_torrent};
        m_options.save_folder = m_dir / "save";
        m_options.runtime.upnp_wanted = false;
        m_options.listen_address = 0x7F000001; // 127.0.0.1
        m_options.runtime.seeding_time = 60000;
    }

    // Steps the session (on the manual clock) until the task seeds; the check of the data
    // on disk runs on the announcer's own thread, so this waits in real time.
    bool step_until_seeding(headless_session& session)
    {
        for (int i = 0; i < 500; ++i)
        {
            session.step();
            if (m_out.text().find("上传中!") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    torrent::test::temp_dir m_dir;
    torrent::test::scoped_env m_home{"ZORVIK_HOME", m_dir / "home"};
    torrent::test::scoped_env m_probe{"ZORVIK_PROBE_ADDRESS", std::string("127.0.0.1")};
    std::string m_torrent;
    get_options m_options;
    captured m_out;
    captured m_err;
    progress_printer m_printer{m_out.get(), m_err.get(), false};
    torrent::manual_clock m_clock{5000};
};

TEST_F(HeadlessSession, SeedsForTheSeedingTimeThenEndsWithSuccess)
{
    headless_session session(m_options, m_printer, m_clock);
    ASSERT_EQ(session.start(), get_exit::ok) << m_err.text();
    EXPECT_NE(session.listen_port(), 0);
    ASSERT_TRUE(step_until_seeding(session)) << m_out.text();

    m_clock.advance(59999);
    session.step();
    EXPECT_FALSE(session.finished()) << "ended before its seeding time";
    EXPECT_NE(m_out.text().find("剩余时间  0:00:00  [seeding]"), std::string::npos) << m_out.text();

    m_clock.advance(1);
    session.step();
    EXPECT_TRUE(session.finished());
    session.stop(false);
    EXPECT_EQ(session.exit_status(), get_exit::ok);
    EXPECT_NE(m_out.text().find("x.bin: 下载完毕! (100.00%"), std::string::npos) << m_out.text();
}

TEST_F(HeadlessSession, NoSeedingTimeEndsAtCompletion)
{
    m_options.runtime.seeding_time = 0;
    headless_session session(m_options, m_printer, m_clock);
    ASSERT_EQ(session.start(), get_exit::ok) << m_err.text();
    ASSERT_TRUE(step_until_seeding(session)) << m_out.text();
    EXPECT_TRUE(session.finished());
    session.stop(false);
    EXPECT_EQ(session.exit_status(), get_exit::ok);
}

TEST_F(HeadlessSession, StopEndsEveryTaskAsInterrupted)
{
    headless_session session(m_options, m_printer, m_clock);
    ASSERT_EQ(session.start(), get_exit::ok) << m_err.text();
    ASSERT_TRUE(step_until_seeding(session));
    session.stop(true);
    EXPECT_TRUE(session.finished());
    EXPECT_EQ(session.exit_status(), get_exit::interrupted);
    EXPECT_NE(m_out.text().find("x.bin: 停止!"), std::string::npos) << m_out.text();
}

TEST_F(HeadlessSession, FailedOpenStopsWhatStartedAndGivesItsResult)
{
    m_options.torrents.push_back(m_dir.write("bad.torrent", "d4:infoi3ee"));
    headless_session session(m_options, m_printer, m_clock);
    EXPECT_EQ(session.start(), 2); // invalid torrent
    EXPECT_NE(m_err.text().find("bad.torrent: invalid torrent"), std::string::npos) << m_err.text();
    EXPECT_TRUE(session.finished());
    EXPECT_NE(m_out.text().find("x.bin: 停止!"), std::string::npos) << m_out.text();
}

} // namespace
} // namespace zorvik::cli
