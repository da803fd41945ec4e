#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace torrent
{

using info_hash_bytes = std::array<std::uint8_t, 20>;

enum class announce_event : std::uint8_t
{
    none,
    started,
    completed,
    stopped,
};

// The values one announce reports.
struct announce_values
{
    std::string_view tracker_url;
    info_hash_bytes info_hash{};
    std::string_view peer_id; // 20 bytes
    std::uint16_t port = 0;
    std::uint64_t uploaded = 0;
    std::uint64_t downloaded = 0; // the held byte count
    std::uint64_t left = 0;
    std::string_view ip_text;
    announce_event event = announce_event::none;
};

// Decodes 40 hexadecimal digits (upper or lower case) into 20 bytes. False for anything
// else (out is then unchanged).
[[nodiscard]] bool decode_info_hash(std::string_view text, info_hash_bytes& out) noexcept;

// Escapes bytes for a query: 0-9, a-z and A-Z are copied, every other byte becomes '%' and
// two upper-case hexadecimal digits.
[[nodiscard]] std::string escape_query_bytes(std::string_view bytes);

// The announce URL:
//   <tracker>?info_hash=<esc>&peer_id=<esc>&port=<n>&uploaded=<n>&downloaded=<n>&left=<n>
//   &compact=1&ip=<text>[&event=started|completed|stopped]
// When the tracker URL already carries a query (a passkey), the parameters follow an '&'
// instead of the '?', so the tracker's own query stays intact.
[[nodiscard]] std::string format_announce_url(const announce_values& values);

} // namespace torrent
