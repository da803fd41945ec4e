#include "metainfo/info_layout.h"

#include "metainfo/base_error.h"

namespace torrent
{

std::uint32_t info_layout::piece_size(std::uint32_t) const noexcept
{
    return piece_length;
}

sha1_digest info_layout::piece_digest(std::uint32_t) const noexcept
{
    return {};
}

std::string info_layout::piece_hash_text(std::uint32_t index) const
{
    return digest_to_hex(piece_digest(index));
}

void info_layout::apply_selection(const file_selection&) {}

info_layout parse_info_layout(const bvalue&)
{
    throw base_error(err::invalid_info);
}

} // namespace torrent
