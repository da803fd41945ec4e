#include "metainfo/info_layout.h"

#include <cstring>
#include <limits>
#include <unordered_set>

#include "metainfo/base_error.h"
#include "metainfo/rule_failure.h"

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
        f.selected = !f.pad && (!multi_file || selection.is_chosen(i));
        if (f.selected)
            selected_size += f.size;
    }
}

std::uint32_t info_piece_length(const bvalue& info, std::string* why)
{
    const std::int64_t value = required_key(info, "piece length", bvalue_kind::integer, why).as_int64();
    if (value < 1 || value > std::numeric_limits<std::int32_t>::max())
        fail_rule(
            err::invalid_info, why, "piece length " + std::to_string(value) + " is not between 1 and 2^31-1");
    return static_cast<std::uint32_t>(value);
}

const std::string& info_name(const bvalue& info, std::string* why)
{
    const std::string& name = required_key(info, "name", bvalue_kind::string, why).as_string();
    if (!is_safe_path_component(name))
        fail_rule(err::invalid_info, why, "name \"" + name + "\" is not a safe file name");
    return name;
}

info_layout parse_info_layout(const bvalue& info, std::string* why)
{
    info_layout layout;
    layout.piece_length = info_piece_length(info, why);
    layout.name = info_name(info, why);
    const std::string& pieces = required_key(info, "pieces", bvalue_kind::string, why).as_string();
    layout.pieces = pieces;
    const std::size_t digests = pieces.size() / 20;

    if (info.has_key("length"))
    {
        const std::int64_t size = required_key(info, "length", bvalue_kind::integer, why).as_int64();
        if (size < 0)
            fail_rule(err::invalid_info, why, "length " + std::to_string(size) + " is negative");
        file_entry& f = layout.files.emplace_back();
        f.path.push_back(layout.name);
        f.size = static_cast<std::uint64_t>(size);
        f.offset = 0;
        f.first_piece = 0;
        f.end_piece = static_cast<std::int32_t>(digests) - 1;
    }
    else
    {
        if (!info.has_key("files"))
            fail_rule(err::invalid_info, why, "neither \"length\" nor \"files\" is present");
        const bvalue& files = required_key(info, "files", bvalue_kind::list, why);
        if (files.as_list().empty())
            fail_rule(err::invalid_info, why, "\"files\" is empty");
        layout.multi_file = true;
        layout.files.resize(files.as_list().size());
        file_entry_reader reader(files, why);
        std::unordered_set<std::string> paths;
        paths.reserve(layout.files.size());
        for (std::size_t index = 0; index < layout.files.size(); ++index)
        {
            file_entry& f = layout.files[index];
            reader.read(f);
            f.first_piece = static_cast<std::int32_t>(f.offset / layout.piece_length);
            f.end_piece = static_cast<std::int32_t>((f.offset + f.size) / layout.piece_length);
            // Two entries naming one file would write different data to it. Padding
            // entries are never created, so they may repeat (and are never selected).
            if (f.pad)
                f.selected = false;
            if (!f.placeholder && !f.pad && !paths.insert(joined_path(f.path)).second)
                fail_rule(
                    err::invalid_file_entry,
                    why,
                    "file " + std::to_string(index) + ": same path as an earlier file");
        }
    }

    const file_entry& last = layout.files.back();
    layout.total_size = last.offset + last.size;
    layout.selected_size = 0;
    for (const file_entry& f : layout.files)
        layout.selected_size += f.selected ? f.size : 0;

    if (pieces.size() % 20 != 0)
        fail_rule(
            err::invalid_info,
            why,
            "\"pieces\" holds " + std::to_string(pieces.size()) + " bytes, not a multiple of 20");
    if (layout.total_size == 0)
        fail_rule(err::invalid_info, why, "the total size is 0");
    const std::uint64_t needed = (layout.total_size - 1) / layout.piece_length + 1;
    if (digests != needed)
        fail_rule(
            err::invalid_info,
            why,
            std::to_string(digests) + " piece digests where " + std::to_string(layout.total_size)
                + " bytes in pieces of " + std::to_string(layout.piece_length) + " need "
                + std::to_string(needed));
    return layout;
}

} // namespace torrent
