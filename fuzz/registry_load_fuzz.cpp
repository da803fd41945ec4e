// The task registry loader over any file contents: it reads as far as the records are whole
// and valid, never lists record 0 or a damaged field, and a task added afterwards lands in a
// free record or at the end, readable back as written.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "base/unique_fd.h"
#include "registry/task_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const unique_fd file(::memfd_create("registry", MFD_CLOEXEC));
    check(file.valid());
    check(::write(file.get(), data, size) == static_cast<ssize_t>(size));
    TaskRegistry registry("/proc/self/fd/" + std::to_string(file.get()));

    const std::size_t whole = size / registry_record_size;
    std::set<std::uint16_t> free_records;
    for (std::size_t i = 1; i < whole; ++i)
    {
        if (data[i * registry_record_size] == static_cast<std::uint8_t>(task_status::free_record))
            free_records.insert(static_cast<std::uint16_t>(i));
    }

    std::vector<task_entry> listed;
    registry.begin_load();
    std::size_t steps = 0;
    for (;; ++steps)
    {
        check(steps <= whole / 2 + 1);
        load_step_result step = registry.load_step();
        for (task_entry& e : step.entries)
            listed.push_back(std::move(e));
        if (step.done)
            break;
    }
    std::uint16_t last = 0;
    for (const task_entry& e : listed)
    {
        check(e.index > last && e.index < whole);
        last = e.index;
        // Nothing claims a running record here, so none is shown running.
        check(
            e.status == task_status::finished || e.status == task_status::stopped
            || e.status == task_status::in_use);
        check(fits_record_field(e.torrent_path) && fits_record_field(e.save_folder));
    }
    check(registry.free_index() == (free_records.empty() ? 1u : *free_records.begin()));
    static_cast<void>(registry.ReadSettings());
    check(fits_record_field(registry.ReadDefaultSaveFolder()));

    task_entry added;
    added.torrent_path = "/t/added.torrent";
    added.save_folder = "/s";
    if (registry.AddRecord(added) == registry_result::ok)
    {
        const std::size_t at = std::max<std::size_t>(whole, 1);
        check(added.index >= 1);
        check(added.index == (free_records.empty() ? at : *free_records.begin()));
        std::vector<task_entry> again;
        registry.LoadRegistry(added.index, added.index + 1u, again);
        check(
            again.size() == 1 && again[0].torrent_path == added.torrent_path && again[0].save_folder == "/s");
    }
    return 0;
}
