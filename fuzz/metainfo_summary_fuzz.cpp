// The metainfo readers over arbitrary .torrent bytes: the light reader, the full-load rules
// and the tracker list give definite answers, and whatever the full load accepts the light
// reader accepts with the same geometry, with every path inside the save folder.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "metainfo/base_error.h"
#include "metainfo/file_entry.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/torrent_summary.h"
#include "metainfo/tracker_urls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    metainfo_result loaded = metainfo_result::invalid;
    std::string why;
    const auto meta =
        torrent_metainfo::from_bytes(std::string(reinterpret_cast<const char*>(data), size), loaded, &why);
    if (!meta)
    {
        if (loaded != metainfo_result::invalid || why.empty())
            std::abort();
        return 0;
    }
    if (meta->info().kind() != bvalue_kind::dictionary || meta->info_hash_text().size() != 40)
        std::abort();

    torrent_summary summary;
    const summary_result light = read_torrent_summary(*meta, summary);

    std::vector<std::string> urls;
    (void)append_tracker_urls(meta->root(), urls);

    info_layout layout;
    try
    {
        layout = parse_info_layout(meta->info(), &why);
    }
    catch (const base_error&)
    {
        if (why.empty())
            std::abort(); // every refusal says why
        return 0;
    }
    if (light != summary_result::ok || summary.total_size != layout.total_size
        || summary.multi_file != layout.multi_file
        || static_cast<std::uint32_t>(summary.piece_count) != layout.piece_count()
        || static_cast<std::uint32_t>(summary.piece_length) != layout.piece_length)
        std::abort();
    if (layout.total_size == 0 || layout.piece_count() != (layout.total_size - 1) / layout.piece_length + 1)
        std::abort();
    if (!is_safe_path_component(layout.name))
        std::abort();
    std::uint64_t offset = 0;
    for (const file_entry& f : layout.files)
    {
        if (f.path.empty() || f.offset != offset)
            std::abort();
        for (const std::string& c : f.path)
        {
            if (!is_safe_path_component(c) || (c.empty() && !f.placeholder))
                std::abort();
        }
        offset += f.size;
    }
    if (layout.multi_file && summary.files.size() != layout.files.size())
        std::abort();
    return 0;
}
