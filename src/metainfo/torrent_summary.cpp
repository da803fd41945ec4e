#include "metainfo/torrent_summary.h"

#include <exception>

#include "metainfo/base_error.h"
#include "metainfo/file_entry.h"
#include "metainfo/info_layout.h"

namespace torrent
{
namespace
{

std::string display_path(const std::string& name, const std::vector<std::string>& path)
{
    std::string out = name;
    for (const std::string& component : path)
    {
        out += '/';
        out += component;
    }
    return out;
}

void summarize(const torrent_metainfo& metainfo, torrent_summary& out, const file_selection_source* selection)
{
    const bvalue& info = metainfo.info();
    out.name = info_name(info);
    const std::uint32_t piece_length = info_piece_length(info);
    out.piece_length = static_cast<std::int32_t>(piece_length);
    out.piece_count = static_cast<std::int32_t>(info["pieces"].as_string().size() / 20);
    out.info_hash = metainfo.info_hash_text();
    out.info_hash_bytes = metainfo.info_hash();
    out.files.clear();

    if (const bvalue* length = info.find("length"))
    {
        const std::int64_t size = length->as_int64();
        if (size < 0)
            throw base_error(err::invalid_info);
        out.multi_file = false;
        out.total_size = static_cast<std::uint64_t>(size);
        out.selected_size = out.total_size;
        return;
    }

    const bvalue* files = info.find("files");
    if (files == nullptr || files->as_list().empty())
        throw base_error(err::invalid_info);
    out.multi_file = true;
    file_entry_reader reader(*files);
    std::vector<std::uint64_t> sizes;
    sizes.reserve(files->as_list().size());
    out.files.reserve(files->as_list().size());
    file_entry entry;
    while (!reader.at_end())
    {
        reader.read(entry);
        summary_file& row = out.files.emplace_back();
        row.display_path = display_path(out.name, entry.path);
        row.size = entry.size;
        row.offset = entry.offset;
        row.first_piece = static_cast<std::int32_t>(entry.offset / piece_length);
        row.end_piece = static_cast<std::int32_t>((entry.offset + entry.size) / piece_length);
        row.pad = entry.pad;
    }
    out.total_size = reader.running_offset();

    if (selection != nullptr)
    {
        if (const auto record = selection->load(out.name))
        {
            out.selected_size = 0;
            for (std::size_t i = 0; i < out.files.size(); ++i)
            {
                if (record->is_chosen(i) && !out.files[i].pad)
                    out.selected_size += out.files[i].size;
            }
        }
        else
        {
            out.selected_size = 0;
            for (const summary_file& row : out.files)
                out.selected_size += row.pad ? 0 : row.size;
        }
    }
}

} // namespace

std::vector<std::size_t> user_file_indices(const torrent_summary& summary)
{
    std::vector<std::size_t> out;
    out.reserve(summary.files.size());
    for (std::size_t i = 0; i < summary.files.size(); ++i)
    {
        if (!summary.files[i].pad)
            out.push_back(i);
    }
    return out;
}

summary_result read_torrent_summary(
    const torrent_metainfo& metainfo, torrent_summary& out, const file_selection_source* selection)
{
    try
    {
        summarize(metainfo, out, selection);
        return summary_result::ok;
    }
    catch (const std::exception&)
    {
        return summary_result::invalid;
    }
}

summary_result
read_torrent_summary(const std::string& path, torrent_summary& out, const file_selection_source* selection)
{
    metainfo_result loaded = metainfo_result::invalid;
    const auto metainfo = torrent_metainfo::load_file(path, loaded);
    if (loaded == metainfo_result::unreadable)
        return summary_result::unreadable;
    if (!metainfo)
        return summary_result::invalid;
    return read_torrent_summary(*metainfo, out, selection);
}

} // namespace torrent
