#include "app/start_options.h"

#include <memory>
#include <random>

#include "base/tick.h"

namespace torrent
{

random_source system_random_source()
{
    std::random_device entropy;
    const tick_t now = monotonic_ms();
    std::seed_seq seed{
        entropy(), entropy(), static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32)};
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine]
    {
        return static_cast<std::uint32_t>((*engine)());
    };
}

std::uint8_t read_max_tasks(const command_line& line)
{
    const int_option tc = ReadIntOption(line, "-tc");
    if (!tc.found || tc.value <= 0 || tc.value > 10)
        return default_max_tasks;
    return static_cast<std::uint8_t>(tc.value);
}

std::uint8_t read_max_connections(const command_line& line)
{
    const int_option pc = ReadIntOption(line, "-pc");
    if (!pc.found || pc.value < 5 || pc.value >= 256)
        return default_max_connections;
    return static_cast<std::uint8_t>(pc.value);
}

std::uint16_t read_listen_port(const command_line& line, const random_source& random)
{
    const int_option port = ReadIntOption(line, "-port");
    if (port.found && port.value >= 1 && port.value <= 65535)
        return static_cast<std::uint16_t>(port.value);
    return static_cast<std::uint16_t>(random() % random_port_span + random_port_base);
}

std::int32_t connect_quota_for(std::uint8_t max_connections) noexcept
{
    return max_connections * 2 / 3;
}

start_options read_start_options(const command_line& line, const random_source& random)
{
    start_options out;
    out.max_tasks = read_max_tasks(line);
    out.max_connections = read_max_connections(line);
    out.connect_quota = connect_quota_for(out.max_connections);
    out.listen_port = read_listen_port(line, random);
    return out;
}

bool hands_over_to_running_copy(const command_line& line) noexcept
{
    return !line.empty() && (!line.begins_with_option() || line.has("-set"));
}

} // namespace torrent
