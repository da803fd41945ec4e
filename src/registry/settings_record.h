#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace torrent
{

// The window's stored settings: the values a user keeps across runs plus the window
// geometry. Stored as 52 little-endian bytes, fields back to back in this order, at byte
// offset 1 of the task registry file.
struct SettingsRecord
{
    // Bits of `flags`.
    static constexpr std::uint16_t upnp = 1; // UPnP port mapping wanted
    static constexpr std::uint16_t timed_minimise = 2;
    static constexpr std::uint16_t confirm_delete = 4;
    static constexpr std::uint16_t buttons_shown = 8; // "Go" and "SaveTo" enabled and shown

    static constexpr std::size_t size = 52;

    std::uint8_t max_tasks = 0; // used at the next start when 1..10
    std::uint8_t max_connections = 0; // used at the next start when above 10
    std::uint16_t flags = 0;
    std::uint32_t reserved = 0; // never read; kept so a record is written back as it was
    std::uint32_t download_limit = 0; // bytes per second, 0 = no limit
    std::uint32_t upload_limit = 0; // bytes per second, 0 = no limit
    std::uint32_t seeding_time = 0; // milliseconds
    std::uint32_t refresh_period = 0; // milliseconds
    std::int32_t user_width = 0; // pixels, 0 = no user layout
    std::int32_t user_height = 0;
    std::int32_t single_line_width = 0;
    std::int32_t single_line_ext_width = 0;
    std::int32_t single_line_ext_height = 0;
    std::int32_t position_x = 0; // the window's right edge
    std::int32_t position_y = 0; // the window's top edge

    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

using settings_bytes = std::array<std::uint8_t, SettingsRecord::size>;

[[nodiscard]] settings_bytes encode_settings(const SettingsRecord& record) noexcept;

[[nodiscard]] SettingsRecord
decode_settings(std::span<const std::uint8_t, SettingsRecord::size> bytes) noexcept;

} // namespace torrent
