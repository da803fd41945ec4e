#include "metainfo/info_layout.h"

#include <cstring>
#include <limits>
#include <unordered_set>

#include "metainfo/base_error.h"

namespace torrent
{
namespace
{

// Components never contain '/', so joining with it keeps distinct paths distinct.
std::string joined_path(const std::vector<std::string>& path)
{
    std::string out;
    for (const std::string& c : path)
    {
        out += c;
        out += '/';
    }
    return out;
}

} // namespace

std::uint32_t info_layout::piece_size(std::uint32_t index) const noexcept
{
    if (piece_length == 0)
        return 0;
    const std::uint64_t rest = total_size % piece_length;
    if (index + 1 == piece_count() && rest != 0)
        return static_cast<std::uint32_t>(rest);
    return piece_length;
}

sha1_digest info_layout::piece_digest(std::uint32_t index) const noexcept
{
    sha1_digest d{};
    const std::size_t at = std::size_t{index} * d.size();
    if (at + d.size() <= pieces.size())
        std::memcpy(d.data(), pieces.data() + at, d.size());
    return d;
}

std::string info_layout::piece_hash_text(std::uint32_t index) const
{
    return digest_to_hex(piece_digest(index));
}

void info_layout::apply_selection(const file_selection& selection)
{
    selected_size = 0;
    for (std::size_t i = 0; i < files.size(); ++i)
    {
        file_entry& f = files[i];
        f.selected = !multi_file || selection.is_chosen(i);
        if (f.selected)
            selected_size += f.size;
    }
}

std::uint32_t info_piece_length(const bvalue& info)
{
    const std::int64_t value = info["piece length"].as_int64();
    if (value < 1 || value > std::numeric_limits<std::int32_t>::max())
        throw base_error(err::invalid_info);
    return static_cast<std::uint32_t>(value);
}

const std::string& info_name(const bvalue& info)
{
    const std::string& name = info["name"].as_string();
    if (!is_safe_path_component(name))
        throw base_error(err::invalid_info);
    return name;
}

info_layout parse_info_layout(const bvalue& info)
{
    info_layout layout;
    layout.piece_length = info_piece_length(info);
    layout.name = info_name(info);
    const std::string& pieces = info["pieces"].as_string();
    layout.pieces = pieces;
    const std::size_t digests = pieces.size() / 20;

    if (const bvalue* length = info.find("length"))
    {
        const std::int64_t size = length->as_int64();
        if (size < 0)
            throw base_error(err::invalid_info);
        file_entry& f = layout.files.emplace_back();
        f.path.push_back(layout.name);
        f.size = static_cast<std::uint64_t>(size);
        f.offset = 0;
        f.first_piece = 0;
        f.end_piece = static_cast<std::int32_t>(digests) - 1;
    }
    else
    {
        const bvalue* files = info.find("files");
        if (files == nullptr || files->as_list().empty())
            throw base_error(err::invalid_info);
        layout.multi_file = true;
        layout.files.resize(files->as_list().size());
        file_entry_reader reader(*files);
        std::unordered_set<std::string> paths;
        paths.reserve(layout.files.size());
        for (file_entry& f : layout.files)
        {
            reader.read(f);
            f.first_piece = static_cast<std::int32_t>(f.offset / layout.piece_length);
            f.end_piece = static_cast<std::int32_t>((f.offset + f.size) / layout.piece_length);
            // Two entries naming one file would write different data to it. Padding
            // entries are never created, so they may repeat.
            if (!f.placeholder && !paths.insert(joined_path(f.path)).second)
                throw base_error(err::invalid_file_entry);
        }
    }

    const file_entry& last = layout.files.back();
    layout.total_size = last.offset + last.size;
    layout.selected_size = layout.total_size;

    if (pieces.size() % 20 != 0 || layout.total_size == 0
        || digests != (layout.total_size - 1) / layout.piece_length + 1)
        throw base_error(err::invalid_info);
    return layout;
}

} // namespace torrent
