#include "registry/task_record.h"

#include <algorithm>

namespace torrent
{
namespace
{

void put_field(std::span<std::uint8_t> field, std::string_view text) noexcept
{
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    const std::size_t n = std::min(text.size(), field.size() - 1);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(text.data()), n, field.begin());
}

} // namespace

void encode_task_record(
    std::span<std::uint8_t, registry_record_size> out,
    std::uint8_t status,
    std::string_view torrent_path,
    std::string_view save_folder) noexcept
{
    out[0] = status;
    put_field(out.subspan(registry_path_offset, registry_field_size), torrent_path);
    put_field(out.subspan(registry_folder_offset, registry_field_size), save_folder);
}

std::optional<std::string> decode_record_field(std::span<const std::uint8_t> field)
{
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    if (end == field.end())
        return std::nullopt;
    return std::string(
        reinterpret_cast<const char*>(field.data()), static_cast<std::size_t>(end - field.begin()));
}

std::optional<stored_record> decode_task_record(std::span<const std::uint8_t, registry_record_size> record)
{
    auto path = decode_record_field(record.subspan(registry_path_offset, registry_field_size));
    auto folder = decode_record_field(record.subspan(registry_folder_offset, registry_field_size));
    if (!path || !folder)
        return std::nullopt;
    return stored_record{record[0], std::move(*path), std::move(*folder)};
}

} // namespace torrent
