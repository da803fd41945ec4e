#pragma once

#include <memory>
#include <string>

#include "upnp/gateway_client.h"

namespace torrent
{

// Finds the gateway with miniupnpc. When $ZORVIK_IGD_URL is set it names the gateway's
// description URL and discovery is skipped; otherwise SSDP discovery waits up to 2 s,
// multicasting through the interface of `local_address` (any interface when it is empty
// or 0.0.0.0). A gateway that reports itself as not connected (its outside address is
// private, as behind a second router) is still taken. Blocks; never on the poller thread.
[[nodiscard]] std::unique_ptr<gateway_client>
find_miniupnp_gateway(const std::string& local_address, int& result);

} // namespace torrent
