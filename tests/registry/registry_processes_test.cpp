// Two copies of the program sharing one registry file, played by forked processes.
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "registry/task_registry.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

using test::temp_dir;

constexpr int tasks_per_copy = 200;

task_entry stopped_task(std::string path)
{
    task_entry e;
    e.torrent_path = std::move(path);
    e.save_folder = "/home/user/Downloads";
    return e;
}

// Waits for the start signal (the pipe closing), adds the copy's tasks and exits with the
// number of adds that failed or collided with a record it had taken itself.
[[noreturn]] void run_copy(const std::string& file, int start_fd, char copy)
{
    char byte = 0;
    static_cast<void>(::read(start_fd, &byte, 1));
    TaskRegistry registry(file);
    std::set<std::uint16_t> mine;
    int faults = 0;
    for (int i = 0; i < tasks_per_copy; ++i)
    {
        task_entry e = stopped_task(std::string("/t/") + copy + "-" + std::to_string(i) + ".torrent");
        if (registry.AddRecord(e) != registry_result::ok || !mine.insert(e.index).second)
            ++faults;
    }
    ::_exit(faults > 255 ? 255 : faults);
}

// One race of two copies over the file; with_free_records: half of the records they fill are
// free records of deleted tasks, so they contend over reused records as well as over the
// end of the file; without, the file is new and both create record 0.
void race_two_copies(bool with_free_records)
{
    temp_dir dir;
    const std::string file = dir / "Zorvik.dat";
    if (with_free_records)
    {
        std::string image(registry_record_size, '\0');
        for (int i = 1; i <= 100; ++i)
        {
            std::array<std::uint8_t, registry_record_size> r{};
            encode_task_record(r, 33, "/t/deleted-" + std::to_string(i) + ".torrent", "/s");
            image.append(reinterpret_cast<const char*>(r.data()), r.size());
        }
        dir.write("Zorvik.dat", image);
    }

    std::array<int, 2> start{};
    ASSERT_EQ(::pipe(start.data()), 0);
    std::vector<pid_t> copies;
    for (const char copy : {'a', 'b'})
    {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
        {
            ::close(start[1]);
            run_copy(file, start[0], copy);
        }
        copies.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]); // both copies start now
    for (const pid_t pid : copies)
    {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    TaskRegistry registry(file);
    std::vector<task_entry> listed;
    EXPECT_FALSE(registry.LoadRegistry(1, 1000, listed));
    ASSERT_EQ(listed.size(), 2u * tasks_per_copy);
    std::set<std::uint16_t> indices;
    std::set<std::string> paths;
    for (const task_entry& e : listed)
    {
        indices.insert(e.index);
        paths.insert(e.torrent_path);
    }
    EXPECT_EQ(indices.size(), 2u * tasks_per_copy);
    EXPECT_EQ(paths.size(), 2u * tasks_per_copy);
    EXPECT_EQ(*indices.begin(), 1);
    EXPECT_EQ(*indices.rbegin(), 2 * tasks_per_copy);
    EXPECT_EQ(dir.read("Zorvik.dat").size(), (2u * tasks_per_copy + 1) * registry_record_size);
}

TEST(TaskRegistryProcesses, TwoCopiesAddingAtOnceNeverShareARecord)
{
    // A collision needs the two copies to interleave inside one add: a few rounds make it
    // all but certain that a missing lock shows.
    for (int round = 0; round < 10 && !HasFailure(); ++round)
    {
        SCOPED_TRACE(round);
        race_two_copies(round % 2 == 0);
    }
}

TEST(TaskRegistryProcesses, FirstTasksOfTwoCopiesOnANewFileShareOneRecordZero)
{
    for (int round = 0; round < 20; ++round)
    {
        temp_dir dir;
        const std::string file = dir / "Zorvik.dat";
        std::array<int, 2> start{};
        ASSERT_EQ(::pipe(start.data()), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
        {
            ::close(start[1]);
            char byte = 0;
            static_cast<void>(::read(start[0], &byte, 1));
            TaskRegistry registry(file);
            SettingsRecord s;
            s.max_tasks = 7;
            ::_exit(registry.WriteSettings(s) == registry_result::ok ? 0 : 1);
        }
        ::close(start[0]);
        ::close(start[1]);
        TaskRegistry registry(file);
        task_entry e = stopped_task("/t/a.torrent");
        const registry_result added = registry.AddRecord(e);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_EQ(added, registry_result::ok);
        ASSERT_EQ(WEXITSTATUS(status), 0);
        // Neither the settings nor the task were lost to the other copy creating record 0.
        EXPECT_EQ(e.index, 1);
        const auto settings = registry.ReadSettings();
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->max_tasks, 7);
        std::vector<task_entry> listed;
        registry.LoadRegistry(1, 3, listed);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].torrent_path, "/t/a.torrent");
    }
}

} // namespace
} // namespace torrent
