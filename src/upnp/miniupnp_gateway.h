#pragma once

#include <memory>
#include <string>

#include "upnp/gateway_client.h"

namespace torrent
{

// Finds the gateway. When $ZORVIK_IGD_URL is set it names the gateway's description URL
// and the search is skipped; otherwise an SSDP search listens up to 2 s (ended early by
// `stop_fd`), multicasting through the interface of `local_address` (any interface when
// it is empty or 0.0.0.0). miniupnpc then reads each description that answered; a
// gateway that says it is connected is preferred, but one that reports itself as not
// connected (its outside address is private, as behind a second router) is still taken.
// Blocks; never on the poller thread.
[[nodiscard]] std::unique_ptr<gateway_client>
find_miniupnp_gateway(const std::string& local_address, int stop_fd, int& result);

} // namespace torrent
