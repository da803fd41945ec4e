#pragma once

#include <cstdint>
#include <functional>

#include "app/command_line.h"

namespace torrent
{

// Values read once from the command line before the main window exists.
inline constexpr std::uint8_t default_max_tasks = 10;
inline constexpr std::uint8_t default_max_connections = 64;

// First and span of the random listening ports: 5000..64999.
inline constexpr std::uint32_t random_port_base = 5000;
inline constexpr std::uint32_t random_port_span = 60000;

// Next value of a pseudo-random sequence. The start-up rules take one as a parameter so
// that tests choose the numbers.
using random_source = std::function<std::uint32_t()>;

// A generator seeded from the monotonic millisecond clock and the system's entropy, so two
// starts in the same millisecond still differ.
[[nodiscard]] random_source system_random_source();

struct start_options
{
    std::uint8_t max_tasks = default_max_tasks;
    std::uint8_t max_connections = default_max_connections;
    std::uint16_t listen_port = 0;
    // The listener's adaptive limit of connects in progress, and its ceiling.
    std::int32_t connect_quota = 0;
};

// `-tc`: 1..10, anything else (or a missing option) gives 10.
[[nodiscard]] std::uint8_t read_max_tasks(const command_line& line);

// `-pc`: 5..255, anything else (or a missing option) gives 64.
[[nodiscard]] std::uint8_t read_max_connections(const command_line& line);

// `-port`: 1..65535 is taken as given; a missing option, 0, or a value no port can have
// gives a random port in 5000..64999.
[[nodiscard]] std::uint16_t read_listen_port(const command_line& line, const random_source& random);

// Two thirds of the connection limit (integer division): the listener's starting quota.
[[nodiscard]] std::int32_t connect_quota_for(std::uint8_t max_connections) noexcept;

// All start-time values of a new copy.
[[nodiscard]] start_options read_start_options(const command_line& line, const random_source& random);

// Whether a line goes to an already running copy instead of starting another one: a line
// that is not empty and either names something other than options (does not start with
// '-') or carries "-set".
[[nodiscard]] bool hands_over_to_running_copy(const command_line& line) noexcept;

} // namespace torrent
