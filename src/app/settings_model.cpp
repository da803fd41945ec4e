#include "app/settings_model.h"

#include <algorithm>
#include <limits>

#include "app/command_line.h"

namespace torrent
{
namespace
{

constexpr std::uint16_t runtime_flags =
    SettingsRecord::upnp | SettingsRecord::timed_minimise | SettingsRecord::confirm_delete;

constexpr std::uint32_t int32_max = std::numeric_limits<std::int32_t>::max();

// A stored limit or time with the top bit set was a negative value of the window's signed
// field: no limit, or seeding that ends at once.
std::int32_t signed_field(std::uint32_t stored) noexcept
{
    return stored > int32_max ? 0 : static_cast<std::int32_t>(stored);
}

bool valid_refresh_period(std::int64_t ms) noexcept
{
    return ms >= 1 && ms <= max_refresh_period_ms;
}

std::uint32_t unsigned_field(std::int32_t value) noexcept
{
    return value < 0 ? 0 : static_cast<std::uint32_t>(value);
}

} // namespace

void FillSettings(SettingsRecord& record, const settings_values& values) noexcept
{
    const runtime_values& v = values.runtime;
    record.max_tasks = values.max_tasks;
    record.max_connections = values.max_connections;
    std::uint16_t flags = record.flags & static_cast<std::uint16_t>(~runtime_flags);
    if (v.upnp_wanted)
        flags |= SettingsRecord::upnp;
    if (v.timed_minimise)
        flags |= SettingsRecord::timed_minimise;
    if (v.confirm_delete)
        flags |= SettingsRecord::confirm_delete;
    record.flags = flags;
    record.download_limit = unsigned_field(v.download_limit);
    record.upload_limit = unsigned_field(v.upload_limit);
    record.seeding_time = unsigned_field(v.seeding_time);
    record.refresh_period = v.refresh_period;
}

void FillGeometry(SettingsRecord& record, const window_geometry& geometry) noexcept
{
    record.flags = static_cast<std::uint16_t>(record.flags & ~SettingsRecord::buttons_shown);
    if (geometry.buttons_shown)
        record.flags |= SettingsRecord::buttons_shown;
    record.user_width = geometry.user_width;
    record.user_height = geometry.user_height;
    record.single_line_width = geometry.single_line_width;
    record.single_line_ext_width = geometry.single_line_ext_width;
    record.single_line_ext_height = geometry.single_line_ext_height;
    record.position_x = geometry.right;
    record.position_y = geometry.top;
}

settings_values settings_of(const SettingsRecord& record) noexcept
{
    settings_values values;
    values.max_tasks = record.max_tasks;
    values.max_connections = record.max_connections;
    runtime_values& v = values.runtime;
    v.upnp_wanted = (record.flags & SettingsRecord::upnp) != 0;
    v.timed_minimise = (record.flags & SettingsRecord::timed_minimise) != 0;
    v.confirm_delete = (record.flags & SettingsRecord::confirm_delete) != 0;
    v.download_limit = signed_field(record.download_limit);
    v.upload_limit = signed_field(record.upload_limit);
    v.seeding_time = signed_field(record.seeding_time);
    // A period the dialog would refuse (a damaged or foreign file) never reaches the timer.
    v.refresh_period =
        valid_refresh_period(record.refresh_period) ? record.refresh_period : runtime_values{}.refresh_period;
    return values;
}

void ApplySettings(const SettingsRecord& record, settings_host& host, bool start_now)
{
    host.apply_settings(settings_of(record));
    host.SetUpnp((record.flags & SettingsRecord::upnp) != 0, start_now);
}

settings_form form_of(const SettingsRecord& record)
{
    settings_form form;
    form.max_tasks = std::to_string(record.max_tasks);
    form.max_connections = std::to_string(record.max_connections);
    form.download_kb = std::to_string(record.download_limit >> 10);
    form.upload_kb = std::to_string(record.upload_limit >> 10);
    form.seeding_minutes = std::to_string(record.seeding_time / 60000);
    form.refresh_ms = std::to_string(record.refresh_period);
    form.upnp = (record.flags & SettingsRecord::upnp) != 0;
    form.timed_minimise = (record.flags & SettingsRecord::timed_minimise) != 0;
    form.confirm_delete = (record.flags & SettingsRecord::confirm_delete) != 0;
    return form;
}

settings_read_result read_form(const settings_form& form, SettingsRecord& record)
{
    // The byte fields take the low 8 bits of what was typed.
    record.max_tasks = static_cast<std::uint8_t>(atoi_rule(form.max_tasks) & 0xFF);
    record.max_connections = static_cast<std::uint8_t>(atoi_rule(form.max_connections) & 0xFF);
    if (record.max_tasks == 0 || record.max_tasks > default_max_tasks)
        record.max_tasks = default_max_tasks;
    if (record.max_connections < 10)
        record.max_connections = default_max_connections;

    record.download_limit = unsigned_field(limit_from_kb(atoi_rule(form.download_kb)));
    record.upload_limit = unsigned_field(limit_from_kb(atoi_rule(form.upload_kb)));
    record.seeding_time = unsigned_field(clamp_seeding_minutes(atoi_rule(form.seeding_minutes)) * 60000);

    std::uint16_t flags = record.flags & static_cast<std::uint16_t>(~runtime_flags);
    if (form.upnp)
        flags |= SettingsRecord::upnp;
    if (form.timed_minimise)
        flags |= SettingsRecord::timed_minimise;
    if (form.confirm_delete)
        flags |= SettingsRecord::confirm_delete;
    record.flags = flags;

    const std::int32_t period = atoi_rule(form.refresh_ms);
    if (!valid_refresh_period(period))
        return settings_read_result::bad_refresh_period;
    record.refresh_period = static_cast<std::uint32_t>(period);
    return settings_read_result::read;
}

bool commit_settings(const SettingsRecord& record, settings_host& host)
{
    const bool stored = host.store_settings(record);
    host.remember_saved_maximums(record.max_tasks, record.max_connections);
    ApplySettings(record, host, true);
    return stored;
}

void take_stored_maximums(
    const SettingsRecord& record, std::uint8_t& max_tasks, std::uint8_t& max_connections) noexcept
{
    if (record.max_tasks >= 1 && record.max_tasks <= default_max_tasks)
        max_tasks = record.max_tasks;
    if (record.max_connections > 10)
        max_connections = record.max_connections;
}

std::int32_t stored_left_edge(const SettingsRecord& record, std::int32_t screen_width) noexcept
{
    return left_edge_for(record.position_x, record.single_line_ext_width, screen_width);
}

std::int32_t left_edge_for(std::int32_t right, std::int32_t width, std::int32_t screen_width) noexcept
{
    // 64-bit arithmetic: the stored values come from a file and may be anything.
    std::int64_t left = std::int64_t{right} - width;
    if (std::int64_t{screen_width} < left + width)
        left = std::int64_t{screen_width} - width - 70;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(left, std::numeric_limits<std::int32_t>::min(), int32_max));
}

SettingsRecord settings_at_exit(
    const settings_values& values,
    const window_geometry& geometry,
    const std::optional<saved_maximums>& saved) noexcept
{
    SettingsRecord record;
    FillGeometry(record, geometry);
    FillSettings(record, values);
    if (saved)
    {
        record.max_tasks = saved->max_tasks;
        record.max_connections = saved->max_connections;
    }
    return record;
}

} // namespace torrent
