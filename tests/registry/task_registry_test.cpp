#include "registry/task_registry.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace torrent
{
namespace
{

using test::temp_dir;

// A file image built record by record.
class registry_image
{
public:
    explicit registry_image(std::size_t records)
        : m_bytes(records * registry_record_size, '\0')
    {
    }

    registry_image&
    task(std::size_t index, std::uint8_t status, std::string_view path, std::string_view folder)
    {
        std::array<std::uint8_t, registry_record_size> r{};
        encode_task_record(r, status, path, folder);
        std::memcpy(m_bytes.data() + index * registry_record_size, r.data(), r.size());
        return *this;
    }

    [[nodiscard]] const std::string& bytes() const noexcept { return m_bytes; }

    std::string& bytes() noexcept { return m_bytes; }

private:
    std::string m_bytes;
};

std::uint8_t status_at(const std::string& file, std::size_t index)
{
    return static_cast<std::uint8_t>(file.at(index * registry_record_size));
}

std::string field_at(const std::string& file, std::size_t index, std::size_t offset)
{
    const char* p = file.data() + index * registry_record_size + offset;
    return std::string(p, strnlen(p, registry_field_size));
}

task_entry new_task(std::string path, task_status status = task_status::stopped)
{
    task_entry e;
    e.torrent_path = std::move(path);
    e.save_folder = "/home/user/Downloads";
    e.status = status;
    return e;
}

std::vector<task_entry> load_all(TaskRegistry& registry, running_task_finder* running = nullptr)
{
    std::vector<task_entry> all;
    registry.begin_load();
    for (int steps = 0; steps < 100000; ++steps)
    {
        load_step_result step = registry.load_step(running);
        for (task_entry& e : step.entries)
            all.push_back(std::move(e));
        if (step.done)
            break;
    }
    return all;
}

TEST(TaskRegistryAdd, NewFileGetsRecordZeroAndTheTaskLandsAtOne)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");
    task_entry e = new_task("/t/a.torrent", task_status::running);
    ASSERT_EQ(registry.AddRecord(e), registry_result::ok);
    EXPECT_EQ(e.index, 1);

    const std::string file = dir.read("Zorvik.dat");
    ASSERT_EQ(file.size(), 2 * registry_record_size);
    EXPECT_EQ(file.substr(0, registry_record_size), std::string(registry_record_size, '\0'));
    EXPECT_EQ(status_at(file, 1), 30);
    EXPECT_EQ(field_at(file, 1, registry_path_offset), "/t/a.torrent");
    EXPECT_EQ(field_at(file, 1, registry_folder_offset), "/home/user/Downloads");
    // A record 0 that was never given settings is not taken for stored settings.
    EXPECT_FALSE(registry.ReadSettings());
}

TEST(TaskRegistryAdd, FreeRecordTwoIsReused)
{
    temp_dir dir;
    dir.write(
        "Zorvik.dat",
        registry_image(3).task(1, 34, "/t/one.torrent", "/s").task(2, 33, "/t/gone.torrent", "/s").bytes());

    // Found by a fresh registry (free index 1) and by one that loaded the file first.
    for (const bool load_first : {false, true})
    {
        TaskRegistry registry(dir / "Zorvik.dat");
        if (load_first)
        {
            const auto listed = load_all(registry);
            ASSERT_EQ(listed.size(), 1u);
            EXPECT_EQ(registry.free_index(), 2u);
        }
        task_entry e = new_task("/t/new.torrent");
        ASSERT_EQ(registry.AddRecord(e), registry_result::ok);
        EXPECT_EQ(e.index, 2);
        const std::string file = dir.read("Zorvik.dat");
        EXPECT_EQ(file.size(), 3 * registry_record_size);
        EXPECT_EQ(field_at(file, 2, registry_path_offset), "/t/new.torrent");
        // The next task goes to the end.
        task_entry next = new_task("/t/next.torrent");
        ASSERT_EQ(registry.AddRecord(next), registry_result::ok);
        EXPECT_EQ(next.index, 3);
        dir.write(
            "Zorvik.dat",
            registry_image(3)
                .task(1, 34, "/t/one.torrent", "/s")
                .task(2, 33, "/t/gone.torrent", "/s")
                .bytes());
    }
}

TEST(TaskRegistryAdd, ShortOrTruncatedFilesKeepTheirHeadAndRecordsStayAligned)
{
    temp_dir dir;
    // A settings block written alone (53 bytes): record 0 is completed around it.
    TaskRegistry registry(dir / "Zorvik.dat");
    SettingsRecord settings;
    settings.max_tasks = 3;
    settings.refresh_period = 1500;
    dir.write(
        "Zorvik.dat",
        std::string(1, '\0')
            + std::string(reinterpret_cast<const char*>(encode_settings(settings).data()), 52));
    task_entry e = new_task("/t/a.torrent");
    ASSERT_EQ(registry.AddRecord(e), registry_result::ok);
    EXPECT_EQ(e.index, 1);
    EXPECT_EQ(registry.ReadSettings(), settings);

    // A file cut inside record 2: the partial record is overwritten by the next whole one.
    std::string cut =
        registry_image(3).task(1, 34, "/t/one.torrent", "/s").task(2, 34, "/t/two.torrent", "/s").bytes();
    cut.resize(2 * registry_record_size + 100);
    dir.write("Zorvik.dat", cut);
    TaskRegistry again(dir / "Zorvik.dat");
    const auto listed = load_all(again);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].torrent_path, "/t/one.torrent");
    task_entry f = new_task("/t/b.torrent");
    ASSERT_EQ(again.AddRecord(f), registry_result::ok);
    EXPECT_EQ(f.index, 2);
    EXPECT_EQ(dir.read("Zorvik.dat").size(), 3 * registry_record_size);
}

TEST(TaskRegistryPaths, TwoHundredFiftyNineBytesFitLongerPathsAreRefused)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");

    // 259 bytes of UTF-8 (two-byte and three-byte characters included) fit with the NUL.
    std::string path = "/下载/é";
    path += std::string(registry_max_text - path.size() - 8, 'p') + ".torrent";
    ASSERT_EQ(path.size(), 259u);
    task_entry fits = new_task(path);
    fits.save_folder = "/" + std::string(258, 's');
    ASSERT_EQ(registry.AddRecord(fits), registry_result::ok);
    auto listed = load_all(registry);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].torrent_path, path);
    EXPECT_EQ(listed[0].save_folder, fits.save_folder);

    const std::string before = dir.read("Zorvik.dat");
    task_entry too_long = new_task(path + "x");
    EXPECT_EQ(registry.AddRecord(too_long), registry_result::path_too_long);
    EXPECT_EQ(too_long.index, 0);
    task_entry long_folder = new_task("/t/a.torrent");
    long_folder.save_folder = std::string(260, 's');
    EXPECT_EQ(registry.AddRecord(long_folder), registry_result::path_too_long);
    // A NUL inside would store a shorter, different path.
    task_entry with_nul = new_task(std::string("/t/a\0b.torrent", 14));
    EXPECT_EQ(registry.AddRecord(with_nul), registry_result::path_too_long);
    // Rewriting a field with a path that does not fit leaves the record as it was.
    task_entry moved = listed[0];
    moved.save_folder = std::string(300, 'm');
    EXPECT_EQ(registry.WriteField(moved, record_field::save_folder), registry_result::path_too_long);
    EXPECT_EQ(registry.WriteDefaultSaveFolder(std::string(260, 'd')), registry_result::path_too_long);
    EXPECT_EQ(dir.read("Zorvik.dat"), before);
}

class claim_record final : public running_task_finder
{
public:
    explicit claim_record(std::uint16_t index)
        : m_index(index)
    {
    }

    bool bind_running(task_entry& entry) override
    {
        if (entry.index != m_index)
            return false;
        entry.view_slot = 4;
        entry.total = 100;
        entry.done = 40;
        return true;
    }

private:
    std::uint16_t m_index;
};

TEST(TaskRegistryLoad, RecordsLeftRunningShowStoppedOrFinishedUnlessThisProcessRunsThem)
{
    temp_dir dir;
    const std::string image = registry_image(5)
                                  .task(1, 30, "/t/left-running.torrent", "/s")
                                  .task(2, 32, "/t/left-seeding.torrent", "/s")
                                  .task(3, 30, "/t/ours.torrent", "/s")
                                  .task(4, 35, "/t/busy.torrent", "/s")
                                  .bytes();
    dir.write("Zorvik.dat", image);
    TaskRegistry registry(dir / "Zorvik.dat");
    claim_record ours(3);
    const auto listed = load_all(registry, &ours);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].status, task_status::stopped);
    EXPECT_EQ(listed[1].status, task_status::finished);
    EXPECT_EQ(listed[2].status, task_status::running);
    EXPECT_EQ(listed[2].view_slot, 4);
    EXPECT_EQ(listed[2].done, 40u);
    EXPECT_EQ(listed[3].status, task_status::in_use);
    EXPECT_EQ(listed[3].index, 4);
    // Only memory changed.
    EXPECT_EQ(dir.read("Zorvik.dat"), image);
}

TEST(TaskRegistryLoad, TwoRecordsPerStepSkippingWhatIsNotATask)
{
    temp_dir dir;
    registry_image image(8);
    image.task(1, 34, "/t/1.torrent", "/s")
        .task(2, 36, "/t/missing-stored.torrent", "/s") // a stored 36 is skipped
        .task(3, 29, "/t/odd.torrent", "/s")
        .task(4, 33, "/t/freed.torrent", "/s")
        .task(5, 31, "/t/5.torrent", "/s")
        .task(6, 34, "/t/6.torrent", "/s")
        .task(7, 34, "/t/7.torrent", "/s");
    // Record 6's path field has no terminating NUL: damaged, never cut into another path.
    std::memset(
        image.bytes().data() + 6 * registry_record_size + registry_path_offset, 'x', registry_field_size);
    // Record 0's status byte looks like a task's: record 0 is never one.
    image.bytes()[0] = 34;
    dir.write("Zorvik.dat", image.bytes());

    TaskRegistry registry(dir / "Zorvik.dat");
    registry.begin_load();
    std::vector<std::size_t> per_step;
    std::vector<std::uint16_t> indices;
    for (;;)
    {
        const load_step_result step = registry.load_step();
        per_step.push_back(step.entries.size());
        for (const task_entry& e : step.entries)
            indices.push_back(e.index);
        if (step.done)
            break;
    }
    // Steps cover records 1-2, 3-4, 5-6, 7-8 (the end of the file).
    EXPECT_EQ(per_step, (std::vector<std::size_t>{1, 0, 1, 1}));
    EXPECT_EQ(indices, (std::vector<std::uint16_t>{1, 5, 7}));
    EXPECT_FALSE(registry.loading());
    EXPECT_EQ(registry.free_index(), 4u);
}

TEST(TaskRegistryLoad, AbsentOrUnreadableFileIsAnEmptyList)
{
    temp_dir dir;
    TaskRegistry absent(dir / "Zorvik.dat");
    EXPECT_TRUE(load_all(absent).empty());
    EXPECT_FALSE(absent.ReadSettings());
    EXPECT_EQ(absent.ReadDefaultSaveFolder(), "");

    // A path below a regular file can be neither read nor created.
    dir.write("plain", "x");
    TaskRegistry blocked(dir / "plain/Zorvik.dat");
    EXPECT_TRUE(load_all(blocked).empty());
    task_entry e = new_task("/t/a.torrent");
    EXPECT_EQ(blocked.AddRecord(e), registry_result::failed);
    EXPECT_EQ(blocked.WriteSettings(SettingsRecord{}), registry_result::failed);
    EXPECT_EQ(blocked.WriteDefaultSaveFolder("/d"), registry_result::failed);
}

TEST(TaskRegistryStatus, WriteRules)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");
    task_entry e = new_task("/t/a.torrent");
    ASSERT_EQ(registry.AddRecord(e), registry_result::ok);
    auto stored = [&]
    {
        return status_at(dir.read("Zorvik.dat"), e.index);
    };

    // Incomplete: written as set.
    e.total = 1000;
    e.done = 10;
    e.status = task_status::running;
    ASSERT_EQ(registry.WriteStatus(e), registry_result::ok);
    EXPECT_EQ(stored(), 30);
    // Sizes not known yet (total 0) are not "complete".
    task_entry unknown = e;
    unknown.total = unknown.done = 0;
    ASSERT_EQ(registry.WriteStatus(unknown), registry_result::ok);
    EXPECT_EQ(stored(), 30);

    // Complete: running becomes seeding, anything else finished.
    e.done = 1000;
    ASSERT_EQ(registry.WriteStatus(e), registry_result::ok);
    EXPECT_EQ(e.status, task_status::seeding);
    EXPECT_EQ(stored(), 32);
    e.status = task_status::stopped;
    ASSERT_EQ(registry.WriteStatus(e), registry_result::ok);
    EXPECT_EQ(e.status, task_status::finished);
    EXPECT_EQ(stored(), 31);

    // "#" and "$" live in memory only.
    e.status = task_status::in_use;
    EXPECT_EQ(registry.WriteStatus(e), registry_result::ok);
    e.status = task_status::missing;
    EXPECT_EQ(registry.WriteStatus(e), registry_result::ok);
    EXPECT_EQ(stored(), 31);

    // Never into record 0, never past the end of the file.
    task_entry not_added = new_task("/t/b.torrent", task_status::stopped);
    EXPECT_EQ(registry.WriteStatus(not_added), registry_result::not_stored);
    not_added.index = 9;
    EXPECT_EQ(registry.WriteStatus(not_added), registry_result::not_stored);
    EXPECT_EQ(dir.read("Zorvik.dat").size(), 2 * registry_record_size);
    EXPECT_EQ(dir.read("Zorvik.dat")[0], '\0');
}

TEST(TaskRegistryDelete, FreedRecordIsTakenByTheNextTaskAndBusyTasksStay)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");
    std::vector<task_entry> tasks;
    for (int i = 0; i < 4; ++i)
    {
        tasks.push_back(new_task("/t/" + std::to_string(i) + ".torrent"));
        ASSERT_EQ(registry.AddRecord(tasks.back()), registry_result::ok);
    }
    EXPECT_EQ(tasks[3].index, 4);

    tasks[1].status = task_status::in_use;
    EXPECT_EQ(registry.DeleteTask(tasks[1]), registry_result::in_use);
    EXPECT_EQ(tasks[1].status, task_status::in_use);
    tasks[2].status = task_status::stopped;
    ASSERT_EQ(registry.DeleteTask(tasks[2]), registry_result::ok);
    ASSERT_EQ(registry.DeleteTask(tasks[0]), registry_result::ok);
    EXPECT_EQ(registry.free_index(), 1u);

    const auto listed = load_all(registry);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(registry.free_index(), 1u);
    task_entry a = new_task("/t/a.torrent");
    task_entry b = new_task("/t/b.torrent");
    task_entry c = new_task("/t/c.torrent");
    ASSERT_EQ(registry.AddRecord(a), registry_result::ok);
    ASSERT_EQ(registry.AddRecord(b), registry_result::ok);
    ASSERT_EQ(registry.AddRecord(c), registry_result::ok);
    EXPECT_EQ(a.index, 1);
    EXPECT_EQ(b.index, 3);
    EXPECT_EQ(c.index, 5);

    // A deletion that cannot be written keeps the task as it was.
    TaskRegistry elsewhere(dir / "gone/Zorvik.dat");
    task_entry d = a;
    EXPECT_EQ(elsewhere.DeleteTask(d), registry_result::failed);
    EXPECT_EQ(d.status, task_status::stopped);
}

TEST(TaskRegistryFields, RewritesTouchOnlyTheirBytes)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");
    task_entry e = new_task("/t/a-long-name.torrent", task_status::running);
    ASSERT_EQ(registry.AddRecord(e), registry_result::ok);

    e.torrent_path = "/t/b.torrent";
    ASSERT_EQ(registry.WriteField(e, record_field::torrent_path), registry_result::ok);
    e.save_folder = "/elsewhere";
    e.status = task_status::in_use;
    // A whole rewrite of an entry marked "#" keeps the stored status byte.
    ASSERT_EQ(registry.WriteField(e, record_field::whole), registry_result::ok);
    const std::string file = dir.read("Zorvik.dat");
    EXPECT_EQ(status_at(file, 1), 30);
    EXPECT_EQ(field_at(file, 1, registry_path_offset), "/t/b.torrent");
    EXPECT_EQ(field_at(file, 1, registry_folder_offset), "/elsewhere");
    // The old, longer path left nothing behind the NUL.
    EXPECT_EQ(
        file.substr(registry_record_size + registry_path_offset + 12, registry_field_size - 12),
        std::string(registry_field_size - 12, '\0'));
}

TEST(TaskRegistrySettings, BlockAndDefaultFolderLiveInRecordZero)
{
    temp_dir dir;
    TaskRegistry registry(dir / "Zorvik.dat");
    SettingsRecord s;
    s.max_tasks = 3;
    s.max_connections = 44;
    s.flags = SettingsRecord::upnp | SettingsRecord::buttons_shown;
    s.seeding_time = 1800000;
    s.refresh_period = 1500;
    s.position_x = -20;
    ASSERT_EQ(registry.WriteSettings(s), registry_result::ok);
    ASSERT_EQ(registry.WriteDefaultSaveFolder("/home/user/下载"), registry_result::ok);
    EXPECT_EQ(dir.read("Zorvik.dat").size(), registry_record_size);

    task_entry e = new_task("/t/a.torrent");
    ASSERT_EQ(registry.AddRecord(e), registry_result::ok);
    EXPECT_EQ(e.index, 1);
    s.download_limit = 102400;
    ASSERT_EQ(registry.WriteSettings(s), registry_result::ok);

    TaskRegistry again(dir / "Zorvik.dat");
    EXPECT_EQ(again.ReadSettings(), s);
    EXPECT_EQ(again.ReadDefaultSaveFolder(), "/home/user/下载");
    const auto listed = load_all(again);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].torrent_path, "/t/a.torrent");
    const std::string file = dir.read("Zorvik.dat");
    EXPECT_EQ(file[0], '\0');
    EXPECT_EQ(file.substr(1, 52), std::string(reinterpret_cast<const char*>(encode_settings(s).data()), 52));
}

} // namespace
} // namespace torrent
