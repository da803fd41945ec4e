#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"

namespace torrent
{

// The values that the run-time options (-us -ds -ut -noupnp -nm -np -msel) and the stored
// settings change while the program runs. Owned by the main window, used on its thread.
struct runtime_values
{
    std::int32_t upload_limit = 30720; // bytes per second, 0 = no limit
    std::int32_t download_limit = 30720; // as the meter starts; 0 after the first application
    std::int32_t seeding_time = 1800000; // milliseconds of uploading after completion
    bool upnp_wanted = true; // map the listening port on the router
    bool timed_minimise = true; // minimise and restore about once an hour
    bool confirm_delete = true; // ask before deleting a task
    std::uint32_t refresh_period = 1500; // display refresh period in milliseconds

    friend bool operator==(const runtime_values&, const runtime_values&) = default;
};

// The run-time values with what decides when a command line takes effect: until the
// network is up, a line only waits as the pending line (a later one replaces it).
struct runtime_options_state
{
    runtime_values values;
    bool network_up = false;
    command_line pending; // empty when nothing is pending
};

struct runtime_apply_outcome
{
    // False when the line was only stored as the pending line.
    bool applied = false;
    // UPnP became wanted: the owner passes this on as SetUpnp(wanted, start_now).
    bool upnp_requested = false;
    bool upnp_start_now = false;
    // With confirm: the text of the information box, one line per option that changed a
    // value, each line ending in CR LF, after a heading ending in CR. Empty otherwise.
    std::string confirmation;
};

// KB per second to a limit in bytes per second (-ds, the settings dialog): 0 or below means
// no limit, and a value too large for the 32-bit limit becomes the largest whole-KB limit.
[[nodiscard]] std::int32_t limit_from_kb(std::int32_t kb) noexcept;

// A seeding time in minutes kept within the 32-bit millisecond time (0..35791): a negative
// time ends seeding at once, as 0 does.
[[nodiscard]] std::int32_t clamp_seeding_minutes(std::int32_t minutes) noexcept;

// Applies the run-time options of `line` to `state`. Options that are absent still act:
// no -ds removes the download limit and no -noupnp, -nm or -np turns that feature on.
// `confirm` is set for a line handed over with -set, and collects the confirmation text.
[[nodiscard]] runtime_apply_outcome
ApplyRuntimeOptions(runtime_options_state& state, const command_line& line, bool confirm);

// The network came up: marks it and applies the pending line (without confirmation).
[[nodiscard]] runtime_apply_outcome apply_pending_runtime_options(runtime_options_state& state);

} // namespace torrent
