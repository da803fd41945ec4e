#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

// Where searches go: host-order IPv4 address and port.
struct ssdp_target
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// The SSDP multicast group, 239.255.255.250:1900.
inline constexpr ssdp_target ssdp_multicast{0xEFFFFFFAu, 1900};

// The description URL (LOCATION) of one answer to a search: an HTTP 200 answer whose
// LOCATION is a plain http:// URL. Nothing for anything else (announcements, errors,
// answers without a usable LOCATION).
[[nodiscard]] std::optional<std::string> parse_ssdp_answer(std::string_view datagram);

// Searches for Internet Gateway Devices and returns the description URLs that answered,
// in order of arrival and without repeats. Sends one M-SEARCH per gateway type to
// `target`, multicasting through the interface of `local_ip` (host order; 0 lets the
// routing table choose), then listens until `window_ms` have passed, until 300 ms after
// the first answer, or until `stop_fd` becomes readable (at once; -1: never).
// Blocks, so it never runs on the poller thread.
[[nodiscard]] std::vector<std::string>
ssdp_search(std::uint32_t local_ip, int window_ms, int stop_fd, ssdp_target target = ssdp_multicast);

} // namespace torrent
