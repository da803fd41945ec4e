#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/tick.h"
#include "net/port_mapper.h"
#include "upnp/gateway_client.h"

namespace torrent
{

// Makes the mapping schedule for (local address in host order, port), its first attempt
// due more than 5000 ms after `opened_at` (and after `last_attempt`, when given).
[[nodiscard]] std::unique_ptr<port_mapper> start_port_mapping(
    std::uint32_t local_ip,
    std::uint16_t port,
    tick_t opened_at,
    port_mapping_env env,
    gateway_finder finder,
    std::shared_ptr<std::atomic<tick_t>> last_attempt = {});

// The factory the application hands to the network layer. Its schedules find the
// router with `finder` (miniupnpc by default) and share the time of the last attempt,
// so a schedule made again after one was dropped (restart_port_mapping, when the user
// turns UPnP back on) still waits 5000 ms after the previous attempt.
[[nodiscard]] port_mapper_factory make_port_mapper_factory(gateway_finder finder = {});

} // namespace torrent
