#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torrent
{

// Free bytes of the volume holding `path` (all free blocks, not only those the caller's
// quota allows), or nothing when the query fails.
[[nodiscard]] std::optional<std::uint64_t> volume_free_bytes(const std::string& path) noexcept;

} // namespace torrent
