#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

// Status of a task entry as the task list and the registry file keep it.
enum class entry_status : std::uint8_t
{
    running = 30, // running, not complete
    finished = 31, // complete, no longer running
    seeding = 32, // running, complete
    free_record = 33, // a deleted task's record
    stopped = 34,
    in_use = 35, // '#': its files are in use by another copy
    missing = 36, // '$': its .torrent no longer exists (never stored)
};

// One task of the list: what the registry stores, the figures shown for it, and the slot
// of the display record while it runs in this process.
struct list_entry
{
    std::string torrent_path;
    std::string save_folder;
    std::string name; // from the metainfo
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    entry_status status = entry_status::stopped;
    std::uint16_t index = 0; // record index; 0 while not stored
    int slot = -1; // display record of the running task, -1 = none
};

// What the window keeps between runs besides the tasks.
struct stored_settings
{
    static constexpr std::uint16_t upnp = 1;
    static constexpr std::uint16_t timed_minimise = 2;
    static constexpr std::uint16_t confirm_delete = 4;
    static constexpr std::uint16_t buttons_shown = 8;

    std::uint8_t max_tasks = 0; // used when 1..10
    std::uint8_t max_connections = 0; // used when above 10
    std::uint16_t flags = 0;
    std::uint32_t download_limit = 0;
    std::uint32_t upload_limit = 0;
    std::uint32_t seeding_time = 0;
    std::uint32_t refresh_period = 0;
    std::int32_t user_width = 0;
    std::int32_t user_height = 0;
    std::int32_t single_line_width = 0;
    std::int32_t single_line_ext_width = 0;
    std::int32_t single_line_ext_height = 0;
    std::int32_t position_x = 0; // the window's right edge
    std::int32_t position_y = 0;
};

enum class store_result : std::uint8_t
{
    failed = 0, // the file cannot be opened, read or written
    ok = 1,
    path_too_long = 2, // a path does not fit its field
    in_use = 3, // deleting a task whose files another copy uses
    full = 4,
};

// The task registry as the window uses it. A store that keeps nothing between runs
// serves tests and a missing registry.
// Runs on: the window's thread.
class task_store
{
public:
    virtual ~task_store() = default;

    // Loading two records per step; `claim` is asked about entries left running (30 or 32)
    // and answers whether this process runs them (then it fills their slot and figures).
    virtual void begin_load() = 0;
    // Appends the next entries; true once the end was reached.
    virtual bool load_step(std::vector<list_entry>& out, const std::function<bool(list_entry&)>& claim) = 0;

    [[nodiscard]] virtual store_result add(list_entry& entry) = 0;
    [[nodiscard]] virtual store_result write_status(list_entry& entry) = 0;
    [[nodiscard]] virtual store_result remove(list_entry& entry) = 0;

    [[nodiscard]] virtual std::optional<stored_settings> read_settings() = 0;
    [[nodiscard]] virtual store_result write_settings(const stored_settings& settings) = 0;
    [[nodiscard]] virtual std::string default_save_folder() = 0;
    [[nodiscard]] virtual store_result write_default_save_folder(std::string_view folder) = 0;
};

// A registry in memory (tests; the window before the registry file exists).
class memory_task_store final : public task_store
{
public:
    void begin_load() override { m_next = 0; }

    bool load_step(std::vector<list_entry>& out, const std::function<bool(list_entry&)>& claim) override;
    store_result add(list_entry& entry) override;
    store_result write_status(list_entry& entry) override;
    store_result remove(list_entry& entry) override;

    std::optional<stored_settings> read_settings() override { return m_settings; }

    store_result write_settings(const stored_settings& settings) override;

    std::string default_save_folder() override { return m_folder; }

    store_result write_default_save_folder(std::string_view folder) override;

    // Tests: make every write fail from now on.
    void fail_writes(bool fail) noexcept { m_fail = fail; }

    // The stored status of record `index` (0 when there is none).
    [[nodiscard]] std::uint8_t stored_status(std::uint16_t index) const;

    [[nodiscard]] std::size_t record_count() const noexcept { return m_records.size(); }

private:
    struct record
    {
        std::uint8_t status = 0;
        std::string torrent_path;
        std::string save_folder;
    };

    std::vector<record> m_records; // record i + 1
    std::size_t m_next = 0;
    std::optional<stored_settings> m_settings;
    std::string m_folder;
    bool m_fail = false;
};

// The registry's rule for the byte written: 35 and 36 are never written; unless it is 33,
// a complete entry becomes 32 when running and 31 otherwise.
[[nodiscard]] entry_status status_to_write(const list_entry& entry) noexcept;

} // namespace torrent
