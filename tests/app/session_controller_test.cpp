#include "app/session_controller.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/task_view.h"
#include "metainfo/sha1.h"
#include "support/process_env.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

// A one-piece torrent whose content is already in the save folder, opened by a controller
// on loopback with the real engine threads.
class SessionController : public ::testing::Test
{
protected:
    SessionController()
    {
        const std::string data(16384, 'q');
        m_dir.write("save/q.bin", data);
        const sha1_digest digest = sha1(std::string_view(data), 1);
        const std::string pieces(reinterpret_cast<const char*>(digest.data()), digest.size());
        m_torrent = m_dir.write(
            "q.torrent",
            "d8:announce27:http://127.0.0.1:9/announce4:infod6:lengthi16384e4:name5:q.bin"
            "12:piece lengthi16384e6:pieces20:"
                + pieces + "ee");
        session_start start;
        start.listen_address = 0x7F000001;
        start.upnp_wanted = false;
        start.port = 20000;
        EXPECT_EQ(m_session.start_network(start), set_port_result::started);
        m_session.set_seeding_time(60000);
    }

    // Watches until the task seeds (its data check runs on the announcer's thread).
    task_watch watch_until_seeding(TaskView& view)
    {
        for (int i = 0; i < 500; ++i)
        {
            const task_watch w = m_session.watch(view, m_clock.now());
            if (w.seeding_began || w.ended)
                return w;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    test::temp_dir m_dir;
    test::scoped_env m_home{"ZORVIK_HOME", m_dir / "home"};
    std::string m_torrent;
    manual_clock m_clock{5000};
    // The views outlive the session: its announcers hold their stop events until they end.
    TaskView m_first;
    TaskView m_second;
    session_controller m_session{m_clock};
};

TEST_F(SessionController, SeedingTimeEndsTheTaskAndFreesItsSlot)
{
    TaskView& view = m_first;
    open_task_result result{};
    ASSERT_NE(m_session.start_task(m_torrent, m_dir / "save", view, result), nullptr);
    EXPECT_EQ(m_session.running_count(), 1u);
    const task_watch first = watch_until_seeding(view);
    ASSERT_TRUE(first.seeding_began);
    EXPECT_EQ(first.seeding_left_ms, 60000);
    EXPECT_FALSE(first.ended);

    m_clock.advance(59999);
    EXPECT_FALSE(m_session.watch(view, m_clock.now()).ended);
    m_clock.advance(1);
    const task_watch last = m_session.watch(view, m_clock.now());
    EXPECT_TRUE(last.ended);
    EXPECT_EQ(last.end_state, view_state::upload_over);
    EXPECT_TRUE(last.complete);
    EXPECT_EQ(view.state, view_state::stopped);
    EXPECT_EQ(view.held, view.total);
    EXPECT_EQ(m_session.running_count(), 0u);
    // Nothing more happens to a view that has ended.
    EXPECT_FALSE(m_session.watch(view, m_clock.now()).ended);
}

TEST_F(SessionController, AsynchronousStartReportsFromItsWorkerAndDuplicatesFail)
{
    TaskView& first = m_first;
    TaskView& second = m_second;
    std::atomic<int> done{0};
    std::atomic<bool> first_ok{false};
    std::atomic<open_task_result> second_result{open_task_result::opened};
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> on_other_thread{true};
    m_session.start_task_async(
        m_torrent,
        m_dir / "save",
        first,
        [&](Task* task, open_task_result, const storage_error&)
        {
            first_ok = task != nullptr;
            on_other_thread = on_other_thread && std::this_thread::get_id() != caller;
            ++done;
        });
    m_session.start_task_async(
        m_torrent,
        m_dir / "save",
        second,
        [&](Task* task, open_task_result r, const storage_error&)
        {
            second_result = task == nullptr ? r : open_task_result::opened;
            on_other_thread = on_other_thread && std::this_thread::get_id() != caller;
            ++done;
        });
    for (int i = 0; i < 500 && done < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(done, 2);
    for (int i = 0; i < 500 && m_session.starts_pending() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(m_session.starts_pending(), 0u); // the worker is idle again
    EXPECT_TRUE(first_ok);
    EXPECT_TRUE(on_other_thread);
    EXPECT_EQ(first.name, "q.bin");
    EXPECT_EQ(second_result, open_task_result::duplicate);
    EXPECT_EQ(m_session.running_count(), 1u);
}

TEST_F(SessionController, ATaskWhoseAnnouncerEndedIsStoppedByTheNextLook)
{
    TaskView& view = m_first;
    open_task_result result{};
    Task* task = m_session.start_task(m_torrent, m_dir / "save", view, result);
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(watch_until_seeding(view).seeding_began);
    task->set_announcer_ended();
    const task_watch w = m_session.watch(view, m_clock.now());
    EXPECT_TRUE(w.ended);
    EXPECT_EQ(w.end_state, view_state::announcer_ended);
    EXPECT_EQ(view.state, view_state::stopped);
    EXPECT_EQ(m_session.running_count(), 0u);
}

TEST(SessionEvents, ReportsWaitForTheFrontEndAndWakeIt)
{
    session_events events;
    int wakes = 0;
    events.set_wake([&] { ++wakes; });
    events.show_sticky_status(net_status::upnp_failed, {});
    events.set_upnp_established(true);
    events.chime_connected();
    events.set_upnp_wanted(false);
    EXPECT_EQ(wakes, 4);
    const network_report r = events.take();
    ASSERT_EQ(r.sticky_lines.size(), 1u);
    EXPECT_EQ(r.chimes, 1u);
    EXPECT_EQ(r.upnp_established, true);
    EXPECT_EQ(r.upnp_wanted, false);
    EXPECT_TRUE(events.take().sticky_lines.empty());
    EXPECT_TRUE(events.upnp_established()); // kept across take()
}

} // namespace
} // namespace torrent
