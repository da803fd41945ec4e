#include "upnp/start_port_mapping.h"

#include <utility>

#include "upnp/miniupnp_gateway.h"
#include "upnp/port_mapping.h"
#include "upnp/port_mapping_schedule.h"

namespace torrent
{

std::unique_ptr<port_mapper> start_port_mapping(
    std::uint32_t local_ip,
    std::uint16_t port,
    tick_t opened_at,
    port_mapping_env env,
    gateway_finder finder,
    std::shared_ptr<std::atomic<tick_t>> last_attempt)
{
    auto mapping = std::make_unique<PortMapping>(local_ip, port, std::move(finder));
    return std::make_unique<PortMappingSchedule>(
        std::move(mapping), opened_at, std::move(env), std::move(last_attempt));
}

port_mapper_factory make_port_mapper_factory(gateway_finder finder)
{
    if (!finder)
        finder = find_miniupnp_gateway;
    auto last_attempt = std::make_shared<std::atomic<tick_t>>(0);
    return [finder = std::move(finder),
            last_attempt](std::uint32_t local_ip, std::uint16_t port, tick_t opened_at, port_mapping_env env)
    {
        return start_port_mapping(local_ip, port, opened_at, std::move(env), finder, last_attempt);
    };
}

} // namespace torrent
