#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/runtime_options.h"
#include "app/start_options.h"
#include "registry/settings_record.h"

namespace torrent
{

// What the settings dialog reads from the main window: the start-time maximums the next
// start gets (those of a saved dialog, else those in use) and the run-time values.
struct settings_values
{
    std::uint8_t max_tasks = default_max_tasks;
    std::uint8_t max_connections = default_max_connections;
    runtime_values runtime;
};

// The main window's remembered geometry as the settings record keeps it.
struct window_geometry
{
    bool buttons_shown = true; // "Go" and "SaveTo" enabled and shown
    std::int32_t user_width = 0; // 0 = no user size
    std::int32_t user_height = 0;
    std::int32_t single_line_width = 380;
    std::int32_t single_line_ext_width = 505;
    std::int32_t single_line_ext_height = 200;
    // The window's right and top edges: where it is when visible, where it comes back to
    // while hidden. The record always keeps the right edge, which the loader turns into a
    // left edge again (stored_left_edge).
    std::int32_t right = 0;
    std::int32_t top = 0;
};

// The main window as the settings dialog sees it. MainWindow implements it.
// Runs on: the window's thread.
class settings_host
{
public:
    virtual ~settings_host() = default;

    [[nodiscard]] virtual settings_values current_settings() const = 0;
    [[nodiscard]] virtual window_geometry current_geometry() const = 0;

    // The run-time values of a saved record take effect at once: both rate meters' limits,
    // the seeding time, the display refresh period (the timer's period from its next
    // tick), timed minimise, confirm-before-delete and the UPnP setting. The maximums in
    // `values` are those the record holds; they are not applied.
    virtual void apply_settings(const settings_values& values) = 0;

    // UPnP control: a wanted mapping is started now when start_now is set and the network
    // is up; nothing changes while a mapping is established.
    virtual void SetUpnp(bool wanted, bool start_now) = 0;

    // Writes the record at offset 1 of the registry file; false when it could not be
    // written (the file is left as it was; nothing is shown).
    [[nodiscard]] virtual bool store_settings(const SettingsRecord& record) = 0;

    // The maximums of a saved dialog, which take effect at the next start; the close
    // prompt's Yes stores them (settings_at_exit) instead of the values in use.
    virtual void remember_saved_maximums(std::uint8_t max_tasks, std::uint8_t max_connections) = 0;
};

// Writes offsets 0..3 (maximums, flag bits 0..2) and 8..23 (limits, seeding time, refresh
// period) from the values, keeping the record's other flag bits.
void FillSettings(SettingsRecord& record, const settings_values& values) noexcept;

// Writes flag bit 3 and offsets 24..51 from the geometry.
void FillGeometry(SettingsRecord& record, const window_geometry& geometry) noexcept;

// The values a record holds (limits and times read as the window's signed values).
[[nodiscard]] settings_values settings_of(const SettingsRecord& record) noexcept;

// The record's run-time values to the window: apply_settings, then SetUpnp with flag bit
// 0 and start_now. The maximums are not applied.
void ApplySettings(const SettingsRecord& record, settings_host& host, bool start_now);

// The dialog's edit texts and check boxes.
struct settings_form
{
    std::string max_tasks;
    std::string max_connections;
    std::string download_kb; // KB per second
    std::string upload_kb;
    std::string seeding_minutes;
    std::string refresh_ms;
    bool upnp = false;
    bool timed_minimise = false;
    bool confirm_delete = false;
};

// Longest display refresh period the dialog takes: the timed minimise counts
// 3600000 / period ticks, so a longer period would make that count 0.
inline constexpr std::int32_t max_refresh_period_ms = 3600000;

enum class settings_read_result : std::uint8_t
{
    read = 0,
    bad_refresh_period = 1, // not 1..max_refresh_period_ms; the record keeps its period
};

// What the dialog shows for a record: limits in KB (shifted by 10), the seeding time in
// minutes, the refresh period as it is.
[[nodiscard]] settings_form form_of(const SettingsRecord& record);

// The dialog's Save rules, read into `record`: every edit by the C atoi rule; maximums cut
// to 8 bits, then tasks 0 or above 10 become 10 and connections below 10 become 64; limits
// in KB through limit_from_kb; the seeding time in minutes through clamp_seeding_minutes.
// A refresh period outside 1..max_refresh_period_ms is refused: the record keeps its period
// and the result says so (the other fields are read all the same).
[[nodiscard]] settings_read_result read_form(const settings_form& form, SettingsRecord& record);

// A saved dialog's record: stored (a failed store is silent), its maximums remembered for
// the exit, and its run-time values applied at once (a ticked UPnP box starts a mapping
// when none exists). Returns whether it was stored.
bool commit_settings(const SettingsRecord& record, settings_host& host);

// ---- the record at start and at exit (the main window's own steps)

// The start-time maximums a stored record replaces: tasks when 1..10, connections above 10.
void take_stored_maximums(
    const SettingsRecord& record, std::uint8_t& max_tasks, std::uint8_t& max_connections) noexcept;

// The window's left edge from the stored right edge: x minus the single-line-extended
// width, or screen width - that width - 70 when the window would not fit the screen.
[[nodiscard]] std::int32_t stored_left_edge(const SettingsRecord& record, std::int32_t screen_width) noexcept;

// The left edge that puts a window `width` wide with its right edge at `right`, or screen
// width - width - 70 when the window would end beyond the screen. stored_left_edge is this
// rule with the single-line-extended width.
[[nodiscard]] std::int32_t
left_edge_for(std::int32_t right, std::int32_t width, std::int32_t screen_width) noexcept;

struct saved_maximums
{
    std::uint8_t max_tasks = 0;
    std::uint8_t max_connections = 0;
};

// The record the close prompt's Yes stores: geometry and values now in use, with the
// maximums of a saved dialog in place of those in use.
[[nodiscard]] SettingsRecord settings_at_exit(
    const settings_values& values,
    const window_geometry& geometry,
    const std::optional<saved_maximums>& saved) noexcept;

} // namespace torrent
