#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/tick.h"

namespace torrent
{

class net_observer;

// What a port mapper may change in the network root object.
struct port_mapping_env
{
    net_observer& observer;
    // Sets the announced external address and port (network root object).
    std::function<void(std::uint16_t port, const std::string& address)> set_external;
};

// A router port mapping for the listening port, driven by the listener's service pass on
// the poller thread. Implemented in upnp/. Destroying it removes an established mapping.
class port_mapper
{
public:
    virtual ~port_mapper() = default;

    [[nodiscard]] virtual bool established() const = 0;

    // One step of the background schedule, run on every idle listener pass while the
    // mapping is not established. Must never block the caller for more than a moment.
    virtual void retry_step(tick_t now) = 0;

    // True once the schedule has ended (established, or given up); the listener may then
    // drop a given-up mapper.
    [[nodiscard]] virtual bool finished() const = 0;
};

// Makes the mapper for (local address in host order, port), first attempt due more than
// 5000 ms after `opened_at`. Set by the application; empty when UPnP is not wanted.
using port_mapper_factory = std::function<std::unique_ptr<port_mapper>(
    std::uint32_t local_ip, std::uint16_t port, tick_t opened_at, port_mapping_env env)>;

} // namespace torrent
