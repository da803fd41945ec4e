#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tracker/peer_candidate.h"

namespace torrent
{

enum class announce_outcome : std::uint8_t
{
    not_dictionary = 0, // undecodable, or not a dictionary
    failure = 1, // the tracker said "failure reason"
    no_interval = 2, // a dictionary without an integer "interval": its peers are not used
    ok = 3,
};

// One peer address from an answer: a candidate key and, for a peer whose id carries its
// internal address, the external address (see PeerCandidate).
struct announced_peer
{
    std::uint64_t key = 0;
    std::uint32_t external_address = 0;
};

struct announce_answer
{
    announce_outcome outcome = announce_outcome::not_dictionary;
    std::int64_t interval = 0; // seconds, as the tracker gave it
    std::vector<announced_peer> peers;
    // The tracker's "failure reason", made safe to show (tracker_text); set with failure.
    std::string failure_reason;
};

// Who we are, so the answer's entries for ourselves are left out.
struct announce_self
{
    std::uint32_t external_ip = 0; // host byte order
    std::uint16_t external_port = 0;
    std::string_view peer_id; // 20 bytes
};

// Resolves a host name to an IPv4 address in host byte order, 0 on failure.
using host_resolver = std::function<std::uint32_t(const std::string& name)>;

// The resolver's limit per answer: a tracker listing many host names would otherwise hold
// the announcer in name lookups for minutes.
inline constexpr int max_name_lookups = 10;

// Decodes a tracker's answer (bencoded dictionary).
// - "failure reason" present: outcome failure with its text (a reason that is not a string
//   reads as empty), nothing else read.
// - "interval" must be an integer, else outcome no_interval.
// - "peers" as a string (compact): used only when its length is a multiple of 6; each
//   group is an IPv4 address and a port in network byte order.
// - "peers" as a list of dictionaries: "peer id" (when a 20-byte string) equal to ours
//   skips the peer; one of our program's ids carries the peer's internal address and port.
//   "ip" must be a string and "port" an integer; an "ip" ending in ":<port>" takes that
//   port; dotted text is parsed, other text resolved (at most max_name_lookups per answer).
// Entries equal to our external address and port, or with address 0 or port 0, are left
// out; so are ports outside 1..65535.
[[nodiscard]] announce_answer
decode_announce_response(std::string_view body, const announce_self& self, const host_resolver& resolve);

// The resolver the announcer uses: dotted text parsed, anything else looked up (IPv4).
[[nodiscard]] std::uint32_t resolve_host_ipv4(const std::string& name);

// The next-announce delay for a tracker's interval in seconds: clamped to 120..600 s,
// returned in milliseconds.
[[nodiscard]] constexpr std::uint64_t announce_delay_ms(std::int64_t interval_seconds) noexcept
{
    const std::int64_t clamped =
        interval_seconds < 120 ? 120 : (interval_seconds > 600 ? 600 : interval_seconds);
    return static_cast<std::uint64_t>(clamped) * 1000U;
}

} // namespace torrent
