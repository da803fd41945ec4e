#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "registry/settings_record.h"
#include "registry/task_record.h"

namespace torrent
{

enum class registry_result : std::uint8_t
{
    failed = 0, // the file cannot be opened, read or written
    ok = 1,
    path_too_long = 2, // a path does not fit its 260-byte field (259 bytes and the NUL)
    in_use = 3, // deleting: the task's files are in use by another process
    full = 4, // every record index up to 65535 is taken
    not_stored = 5, // the entry has no record in the file (index 0 or past the end)
};

void PrintTo(registry_result r, std::ostream* os);

// Which part of a record WriteField rewrites.
enum class record_field : std::uint8_t
{
    whole = 9, // status and both fields
    torrent_path = 10,
    save_folder = 11,
};

// What the loader asks the window about records left running (status 30 or 32).
class running_task_finder
{
public:
    virtual ~running_task_finder() = default;
    // When this process runs the task of record entry.index (a display record in a state
    // below "announcer ended"), fill the entry's figures and view_slot and answer true.
    virtual bool bind_running(task_entry& entry) = 0;
};

// One step of incremental loading.
struct load_step_result
{
    std::vector<task_entry> entries; // the task records read, in file order
    bool done = false; // the end of the file was reached; the load is over
};

// The list of tasks the user added, shared by every copy of the program through one file
// ("Zorvik.dat" in the data folder). Every operation opens the file, reads or writes at a
// fixed offset and closes it again. Status bytes are single positioned writes; finding and
// taking a free record (and creating record 0) happens under an flock of the file, so two
// copies adding tasks at the same moment never take the same record.
//
// Owner: the main window. Runs on: the window's thread.
class TaskRegistry
{
public:
    explicit TaskRegistry(std::string path);

    [[nodiscard]] const std::string& path() const noexcept { return m_path; }

    // ---- loading
    // Reads the records [from, to) (record 0 is never a task: from is at least 1) and
    // appends their tasks to `out`. Records of status 33 lower the free index; records of
    // other statuses outside 30..35 and damaged records are skipped. A record left at 30 or
    // 32 that `running` does not claim is shown stopped (34) or finished (31); the file
    // keeps its byte. False when the end of the file (or an unreadable file) came before `to`.
    bool LoadRegistry(
        std::uint32_t from,
        std::uint32_t to,
        std::vector<task_entry>& out,
        running_task_finder* running = nullptr);

    // Starts an incremental load at record 1.
    void begin_load() noexcept;
    // The window timer's step: two records from the current index. When it reports done and
    // no free record was met, the free index becomes 1.
    [[nodiscard]] load_step_result load_step(running_task_finder* running = nullptr);

    [[nodiscard]] bool loading() const noexcept { return m_load_next != 0; }

    // ---- tasks
    // Takes a free record (status 33 from the free index on, else the end of the file) and
    // writes the whole entry there; sets entry.index. Creates the file and record 0 when
    // needed. Paths that do not fit are refused and nothing is written.
    [[nodiscard]] registry_result AddRecord(task_entry& entry);

    // Writes the entry's status byte at index * 521 after adjusting it: 35 and 36 are never
    // written (ok without writing); unless it is 33, a complete entry (done >= total > 0)
    // becomes 32 when running and 31 otherwise. Writing 33 lowers the free index.
    [[nodiscard]] registry_result WriteStatus(task_entry& entry);

    // Rewrites the whole record, or one of its fields.
    [[nodiscard]] registry_result WriteField(const task_entry& entry, record_field which);

    // Frees the entry's record (status 33). Refused with in_use for an entry of status 35;
    // the entry keeps its old status when the write fails. Stopping the task and asking the
    // user are the window's.
    [[nodiscard]] registry_result DeleteTask(task_entry& entry);

    // ---- record 0
    // The settings block at offset 1; record 0 is created first when the file is new.
    [[nodiscard]] registry_result WriteSettings(const SettingsRecord& settings);
    // The stored settings; nothing when the file is absent, shorter than the block or the
    // block was never written (all zero: record 0 as AddRecord creates it).
    [[nodiscard]] std::optional<SettingsRecord> ReadSettings() const;

    // The default save folder in record 0's save-folder field.
    [[nodiscard]] registry_result WriteDefaultSaveFolder(std::string_view folder);
    // "" when none is stored.
    [[nodiscard]] std::string ReadDefaultSaveFolder() const;

    // The lowest record index known to be free (at least 1).
    [[nodiscard]] std::uint32_t free_index() const noexcept { return m_free_index; }

private:
    std::string m_path;
    std::uint32_t m_free_index = 1;
    std::uint32_t m_load_next = 0; // 0: no load in progress
    std::uint32_t m_load_free = 0; // lowest free record met by this load (0: none)
};

} // namespace torrent
