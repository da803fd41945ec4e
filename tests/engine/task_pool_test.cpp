// Opening torrents in the task pool: free slots, the open's results, what a failed open
// leaves, and the state a task starts in.
#include <gtest/gtest.h>

#include "base/event.h"
#include "base/paths.h"
#include "engine/task_view.h"
#include "wire_rig.h"

namespace torrent::test
{
namespace
{

TEST(TaskPool, EleventhOpenFindsNoFreeSlotAndChangesNothing)
{
    wire_rig rig(rig_options{.slots = 10});
    for (int i = 1; i < 10; ++i)
    {
        const made_torrent t = make_single_file("f" + std::to_string(i), pattern_bytes(20000, i), 16384);
        ASSERT_NE(rig.open(t, "t" + std::to_string(i) + ".torrent"), nullptr);
    }
    EXPECT_EQ(rig.pool->running_count(), 10u);
    const made_torrent extra = make_single_file("extra", pattern_bytes(20000, 99), 16384);
    open_task_result result{};
    stub_announcer announcer;
    EXPECT_EQ(
        rig.pool->OpenTask(announcer, rig.dir.write("x.torrent", extra.bytes), rig.save, result), nullptr);
    EXPECT_EQ(result, open_task_result::no_free_slot);
    EXPECT_NE(result, open_task_result::cannot_open);
    EXPECT_FALSE(announcer.bound);
    EXPECT_EQ(rig.pool->running_count(), 10u);
    EXPECT_EQ(rig.pool->torrents().find_torrent(extra.info_hash), nullptr);
}

TEST(TaskPool, StartWithoutANetworkAndAFailedOpenSayWhy)
{
    TaskPool pool(1);
    TaskView view;
    open_task_result result{};
    EXPECT_EQ(pool.StartTask("/nonexistent.torrent", "/tmp", view, result), nullptr);
    EXPECT_EQ(result, open_task_result::no_network);

    wire_rig rig(rig_options{.slots = 2});
    const made_torrent t = make_multi_file("M", {{{"sub", "f"}, pattern_bytes(20000, 3)}}, 16384);
    make_folders(rig.save + "/M");
    write_file_atomically(rig.save + "/M/sub", "a file where the folder goes");
    stub_announcer announcer;
    storage_error why;
    EXPECT_EQ(
        rig.pool->OpenTask(announcer, rig.dir.write("m.torrent", t.bytes), rig.save, result, &why), nullptr);
    EXPECT_EQ(result, open_task_result::cannot_open);
    EXPECT_EQ(why.fault, storage_fault::folder_failed);
    EXPECT_EQ(why.path, rig.save + "/M/sub");
}

TEST(TaskPool, FailedOpenLeavesTheSlotFreeForTheNextOne)
{
    wire_rig rig(rig_options{.slots = 2});
    open_task_result result{};
    stub_announcer announcer;
    EXPECT_EQ(
        rig.pool->OpenTask(announcer, rig.dir.write("bad.torrent", "d4:infoi1ee"), rig.save, result),
        nullptr);
    EXPECT_EQ(result, open_task_result::invalid);
    EXPECT_EQ(rig.pool->OpenTask(announcer, rig.dir / "missing.torrent", rig.save, result), nullptr);
    EXPECT_EQ(result, open_task_result::unreadable);
    EXPECT_EQ(rig.pool->running_count(), 1u);
    const made_torrent t = make_single_file("g", pattern_bytes(20000, 5), 16384);
    EXPECT_NE(rig.open(t, "g.torrent"), nullptr);
}

TEST(TaskPool, OpeningATorrentTwiceLeavesTheFirstTaskItsTorrent)
{
    wire_rig rig(rig_options{.slots = 2});
    open_task_result result{};
    stub_announcer announcer;
    EXPECT_EQ(
        rig.pool->OpenTask(announcer, rig.dir.write("dup.torrent", rig.torrent.bytes), rig.save, result),
        nullptr);
    EXPECT_EQ(result, open_task_result::duplicate);
    EXPECT_NE(rig.pool->torrents().find_torrent(rig.torrent.info_hash), nullptr);
    EXPECT_EQ(rig.task->state(), task_state::downloading);
    // Its peers still find it.
    EXPECT_TRUE(rig.incoming(other_id(1)));
}

TEST(TaskPool, TorrentWithEveryPieceSavedOpensSeeding)
{
    wire_rig rig(rig_options{.seeding = true});
    EXPECT_EQ(rig.task->state(), task_state::complete);
    EXPECT_TRUE(rig.task->IsComplete());
    EXPECT_TRUE(rig.announcer.bound);
    EXPECT_FALSE(rig.announcer.check_first);
}

TEST(TaskPool, DataWithoutSavedStateIsCheckedBeforeUse)
{
    wire_rig rig(rig_options{.slots = 2});
    const made_torrent t = make_single_file("ondisk.bin", pattern_bytes(5 * 16384 + 10, 11), 16384);
    write_payload(rig.save, {payload_file{{"ondisk.bin"}, t.payload}});
    open_task_result result{};
    stub_announcer announcer;
    Task* task = rig.pool->OpenTask(announcer, rig.dir.write("ondisk.torrent", t.bytes), rig.save, result);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(result, open_task_result::needs_check);
    EXPECT_TRUE(announcer.check_first);
    // No peers until the check has said what is there.
    EXPECT_EQ(task->state(), task_state::checking);
    EXPECT_FALSE(rig.incoming_for(*task, t.info_hash, other_id(1)));
    event stop;
    EXPECT_EQ(task->check_existing_data(stop), 6);
    EXPECT_EQ(task->state(), task_state::complete);
    EXPECT_EQ(task->held(), t.payload.size());
    EXPECT_TRUE(task->have_piece(5)); // the picker learned it on the network thread
}

TEST(TaskPool, StoppedCheckLeavesTheTaskChecking)
{
    wire_rig rig(rig_options{.slots = 2});
    const made_torrent t = make_single_file("ondisk.bin", pattern_bytes(5 * 16384, 12), 16384);
    write_payload(rig.save, {payload_file{{"ondisk.bin"}, t.payload}});
    open_task_result result{};
    stub_announcer announcer;
    Task* task = rig.pool->OpenTask(announcer, rig.dir.write("ondisk.torrent", t.bytes), rig.save, result);
    ASSERT_NE(task, nullptr);
    event stop;
    stop.set();
    EXPECT_LT(task->check_existing_data(stop), 0);
    EXPECT_EQ(task->state(), task_state::checking);
}

} // namespace
} // namespace torrent::test
