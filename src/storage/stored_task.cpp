#include "storage/stored_task.h"

#include <unistd.h>

#include "base/data_folder.h"
#include "base/paths.h"
#include "storage/bitfield.h"
#include "storage/free_space.h"
#include "storage/selection_record.h"

namespace torrent
{

std::uint64_t stored_downloaded_bytes(
    std::uint32_t present,
    bool last_present,
    std::uint32_t piece_count,
    std::uint32_t piece_length,
    std::uint64_t total_size) noexcept
{
    if (present == 0 || piece_count == 0)
        return 0;
    if (!last_present)
        return std::uint64_t{present} * piece_length;
    const std::uint64_t last = total_size - std::uint64_t{piece_count - 1} * piece_length;
    return std::uint64_t{present - 1} * piece_length + last;
}

stored_task_result read_stored_task(
    const std::string& torrent_path,
    const std::string& save_folder,
    std::string& data_folder,
    torrent_summary& summary,
    const std::string& selection_folder)
{
    const std::string save = trim_trailing_slashes(save_folder);
    const state_file_selection_source selection(
        save, selection_folder.empty() ? torrent::data_folder() : selection_folder);
    switch (read_torrent_summary(torrent_path, summary, &selection))
    {
    case summary_result::ok:
        break;
    case summary_result::invalid:
        return stored_task_result::invalid;
    case summary_result::unreadable:
        return stored_task_result::unreadable;
    }

    const std::string data_path = join_path(save, summary.name);
    if (summary.multi_file)
        data_folder = data_path;
    const std::string state_path = join_path(trim_trailing_slashes(data_folder), summary.info_hash);

    const bool present = summary.multi_file ? is_folder(data_path) : is_regular_file(data_path);
    if (!present)
    {
        // The data is gone: its saved state is stale.
        ::unlink(state_path.c_str());
        return stored_task_result::ok;
    }

    const auto pieces = static_cast<std::uint32_t>(summary.piece_count > 0 ? summary.piece_count : 0);
    if (is_regular_file(state_path))
    {
        std::string bytes;
        read_whole_file(state_path, bytes, bitfield_bytes(pieces) + 1);
        bitfield have;
        have.from_bytes(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
            pieces);
        const bool last = pieces > 0 && have.test(pieces - 1);
        summary.downloaded = stored_downloaded_bytes(
            have.count(), last, pieces, static_cast<std::uint32_t>(summary.piece_length), summary.total_size);
        return stored_task_result::ok;
    }

    const auto free = volume_free_bytes(save.empty() ? std::string(".") : save);
    if (!free || *free < summary.selected_size)
        return stored_task_result::no_space;
    return stored_task_result::ok;
}

} // namespace torrent
