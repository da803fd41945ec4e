#include "app/runtime_options.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "ui/number_format.h"
#include "ui/ui_text.h"

namespace torrent
{
namespace
{

constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

void append_line(std::string& out, std::string_view label, std::string_view value)
{
    out += label;
    out += value;
    out += "\r\n";
}

void append_number_line(std::string& out, std::string_view label, std::int64_t value)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
    append_line(out, label, buf);
}

std::string_view yes_no(bool on)
{
    return ui_text(on ? uitext::yes : uitext::no);
}

} // namespace

std::int32_t limit_from_kb(std::int32_t kb) noexcept
{
    if (kb <= 0)
        return 0;
    return static_cast<std::int32_t>(std::min<std::int64_t>(kb, int32_max / 1024) * 1024);
}

std::int32_t clamp_seeding_minutes(std::int32_t minutes) noexcept
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(minutes, 0, int32_max / 60000));
}

runtime_apply_outcome
ApplyRuntimeOptions(runtime_options_state& state, const command_line& line, bool confirm)
{
    runtime_apply_outcome outcome;
    if (!state.network_up)
    {
        state.pending = line;
        return outcome;
    }
    outcome.applied = true;
    runtime_values& v = state.values;
    std::string text;
    if (confirm)
        text = ui_text(uitext::runtime_options_reset);

    if (const int_option us = ReadIntOption(line, "-us"); us.found)
    {
        v.upload_limit = us.value >= 1 && us.value <= 1000000 ? us.value * 1024 : 0;
        if (confirm)
            append_line(
                text,
                ui_text(uitext::max_upload_speed_is),
                FormatSize(static_cast<std::uint64_t>(v.upload_limit)));
    }

    const int_option ds = ReadIntOption(line, "-ds");
    v.download_limit = ds.found ? limit_from_kb(ds.value) : 0;
    if (ds.found && confirm)
        append_line(
            text,
            ui_text(uitext::max_download_speed_is),
            FormatSize(static_cast<std::uint64_t>(v.download_limit)));

    if (const int_option ut = ReadIntOption(line, "-ut"); ut.found)
    {
        const std::int32_t minutes = clamp_seeding_minutes(ut.value);
        v.seeding_time = minutes * 60000;
        if (confirm)
            append_number_line(text, ui_text(uitext::upload_timeout_minutes_is), minutes);
    }

    v.upnp_wanted = !line.has("-noupnp");
    if (v.upnp_wanted)
    {
        outcome.upnp_requested = true;
        outcome.upnp_start_now = confirm;
    }
    if (confirm)
        append_line(text, ui_text(uitext::upnp_reset), yes_no(v.upnp_wanted));

    v.timed_minimise = !line.has("-nm");
    if (confirm)
        append_line(text, ui_text(uitext::timed_minimise_allowed), yes_no(v.timed_minimise));

    v.confirm_delete = !line.has("-np");
    if (confirm)
        append_line(text, ui_text(uitext::delete_prompt_allowed), yes_no(v.confirm_delete));

    if (const int_option msel = ReadIntOption(line, "-msel"); msel.found && msel.value > 200)
    {
        v.refresh_period = static_cast<std::uint32_t>(msel.value);
        if (confirm)
            append_number_line(text, ui_text(uitext::refresh_period_ms_is), msel.value);
    }

    state.pending = command_line();
    if (confirm)
        outcome.confirmation = std::move(text);
    return outcome;
}

runtime_apply_outcome apply_pending_runtime_options(runtime_options_state& state)
{
    state.network_up = true;
    const command_line pending = state.pending;
    return ApplyRuntimeOptions(state, pending, false);
}

} // namespace torrent
