#include "storage/torrent_data.h"

#include <unistd.h>

#include "base/event.h"
#include "base/paths.h"
#include "metainfo/base_error.h"

namespace torrent
{

torrent_data::~torrent_data()
{
    close();
}

load_result torrent_data::load(
    std::shared_ptr<const torrent_metainfo> metainfo,
    const std::string& save_folder,
    const std::string& data_folder,
    const file_selection_source* selection)
{
    const std::lock_guard lock(m_mutex);
    if (metainfo == nullptr)
        return load_result::invalid;
    m_save_path = trim_trailing_slashes(save_folder);
    m_info_hash = metainfo->info_hash_text();
    m_state_path = join_path(data_folder, m_info_hash);

    bool data_is_new = false;
    switch (m_storage.open_storage(std::move(metainfo), m_save_path, data_is_new, selection))
    {
    case open_storage_result::ok:
        break;
    case open_storage_result::no_space:
        return load_result::no_space;
    case open_storage_result::invalid:
        return load_result::invalid;
    case open_storage_result::cannot_open:
        return load_result::cannot_open;
    }

    const int state = open_state_file(data_is_new);
    if (state == 1)
    {
        m_storage.close_storage();
        return load_result::state_file_failed;
    }
    // The saved bitmap is trusted without hashing.
    const std::span<const std::uint8_t> saved = saved_bitmap();
    const std::uint32_t n = m_storage.piece_count();
    for (std::uint32_t i = 0; i < n; ++i)
    {
        if ((saved[i / 8] & (0x80u >> (i % 8))) != 0)
            m_storage.set_have(i, true);
    }
    mark_unselected_files();
    m_availability.assign(n, 0);
    m_availability_extra = 0;
    return state == 0 ? load_result::ok : load_result::needs_check;
}

int torrent_data::open_state_file(bool data_is_new)
{
    const bool existed = is_regular_file(m_state_path);
    try
    {
        if (!existed)
            make_folders(std::string(parent_of(m_state_path)));
        const auto size = static_cast<std::uint32_t>(m_storage.have().byte_count());
        if (!m_state_file.Open(m_state_path, size, 0, true, !existed))
            throw base_error(err::mapping_unusable);
        // A file longer than the bitmap belongs to something else: refused (code 12).
        m_state_file.SetLength(size);
        m_state_view = m_state_file.GetBlock(0, true);
    }
    catch (const std::exception&)
    {
        m_state_view.release();
        m_state_file.Close();
        if (!existed)
            ::unlink(m_state_path.c_str());
        return 1;
    }
    if (existed)
        return 0;
    return data_is_new ? 0 : 2;
}

void torrent_data::close() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_state_view.release();
    m_state_file.Close();
    m_storage.close_storage();
}

open_storage_result
torrent_data::choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added)
{
    const std::lock_guard lock(m_mutex);
    const open_storage_result result = m_storage.choose_more_files(choice, added);
    if (result == open_storage_result::ok && !added.empty())
        save_have_state();
    return result;
}

void torrent_data::set_picker(std::unique_ptr<picker_sink> picker)
{
    const std::lock_guard lock(m_mutex);
    m_picker = std::move(picker);
}

std::span<const std::uint8_t> torrent_data::saved_bitmap() const
{
    if (m_state_view.empty())
        return {};
    return {reinterpret_cast<const std::uint8_t*>(m_state_view.data()), m_state_view.length()};
}

void torrent_data::mark_unselected_files()
{
    // Pieces that lie wholly inside unselected files are never requested: they count as
    // present and are not wanted. A piece shared by a selected and an unselected file stays
    // wanted, so once verified it is kept in the saved state and never fetched again.
    const std::vector<file_entry>& files = m_storage.files();
    bool any_unselected = false;
    for (const file_entry& f : files)
        any_unselected = any_unselected || !f.selected;
    if (!any_unselected)
        return;
    const std::uint32_t n = m_storage.piece_count();
    const std::uint64_t pl = m_storage.piece_length();
    std::vector<bool> touches_selected(n, false);
    for (const file_entry& f : files)
    {
        if (!f.selected || f.size == 0)
            continue;
        const auto first = static_cast<std::uint32_t>(f.offset / pl);
        const auto last = static_cast<std::uint32_t>((f.offset + f.size - 1) / pl);
        for (std::uint32_t p = first; p <= last && p < n; ++p)
            touches_selected[p] = true;
    }
    for (std::uint32_t p = 0; p < n; ++p)
    {
        if (touches_selected[p])
            continue;
        m_storage.set_have(p, true);
        m_storage.wanted().set(p, false);
    }
}

void torrent_data::save_have_state()
{
    // Only wanted pieces are saved: pieces of unselected files are marked again at load
    // from the file choice of that time. The in-memory have bits stay as they are, so those
    // pieces are not requested meanwhile.
    if (m_state_view.empty())
        return;
    const std::span<const std::uint8_t> have = m_storage.have().bytes();
    const std::span<const std::uint8_t> wanted = m_storage.wanted().bytes();
    auto* out = reinterpret_cast<std::uint8_t*>(m_state_view.data());
    const std::size_t n = std::min<std::size_t>(have.size(), m_state_view.length());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(have[i] & wanted[i]);
}

std::int64_t torrent_data::check_existing_data(
    const check_progress& progress, event& stop, unsigned pause_ms, unsigned workers) noexcept
{
    // A handle of our own keeps the bitmap mapped even if the torrent is closed meanwhile.
    BlockHandle keep;
    std::span<std::uint8_t> bitmap;
    {
        const std::lock_guard lock(m_mutex);
        if (m_state_view.empty())
            return check_failed;
        keep = m_state_view;
        bitmap = {reinterpret_cast<std::uint8_t*>(keep.data()), keep.length()};
    }
    std::int64_t result = check_failed;
    try
    {
        full_check_options options;
        options.pause_ms = pause_ms;
        options.guard = &m_mutex;
        options.workers = workers;
        const bool done = m_storage.full_check(progress, stop, bitmap, options);
        const std::lock_guard lock(m_mutex);
        keep.release();
        if (!done)
            return check_stopped;
        if (m_state_view.empty())
            return check_failed;
        result = m_storage.have_count();
        mark_unselected_files();
        save_have_state();
        // A fresh view of the piece-state file.
        m_state_view.release();
        m_state_view = m_state_file.GetBlock(0, true);
        return result;
    }
    catch (const std::exception&)
    {
        const std::lock_guard lock(m_mutex);
        keep.release();
        return check_failed;
    }
}

block_wanted_result torrent_data::block_wanted_locked(const block_request& block) const
{
    if (!m_storage.block_in_range(block))
        return block_wanted_result::out_of_range;
    const bool have = m_storage.have().test(block.index);
    const bool received = m_picker != nullptr && m_picker->is_received(block);
    return !have && !received ? block_wanted_result::wanted : block_wanted_result::not_wanted;
}

block_wanted_result torrent_data::block_wanted(const block_request& block) const
{
    const std::lock_guard lock(m_mutex);
    return block_wanted_locked(block);
}

write_result torrent_data::write_block_and_verify(
    peer_key peer, block_request& block, std::span<const std::byte> bytes) noexcept
{
    if (bytes.empty())
        return write_result::nothing_stored;
    const std::lock_guard lock(m_mutex);
    try
    {
        if (block_wanted_locked(block) == block_wanted_result::not_wanted)
            return write_result::not_wanted;
        block.storage = &m_storage;
        if (!m_storage.write_block(block, bytes))
            return write_result::nothing_stored;
        // Without a picker nothing knows when a piece is complete: the block is stored.
        if (m_picker == nullptr || !m_picker->mark_received(peer, block))
            return write_result::stored;
    }
    catch (const std::exception&)
    {
        return write_result::nothing_stored;
    }

    const std::uint32_t index = block.index;
    try
    {
        piece_buffer piece = m_storage.read_piece(index, false, true, true);
        if (m_storage.check_piece(piece))
        {
            save_have_state();
            m_picker->piece_passed(index);
            return m_storage.have().all() ? write_result::torrent_done : write_result::piece_done;
        }
    }
    catch (const std::exception&)
    {
        // A piece that cannot be read back or hashed is treated as a failed one.
    }
    try
    {
        m_picker->drop_piece(index);
    }
    catch (const std::exception&)
    {
        // The picker no longer held the piece: nothing to hand back.
    }
    return write_result::piece_done;
}

std::int64_t torrent_data::read_block(block_request& block, std::span<std::byte> out) noexcept
{
    const std::lock_guard lock(m_mutex);
    block.storage = &m_storage;
    return m_storage.read_block(block, out);
}

void torrent_data::copy_have(bitfield& out) const
{
    const std::lock_guard lock(m_mutex);
    out = m_storage.have();
}

void torrent_data::copy_have_wanted(bitfield& out) const
{
    const std::lock_guard lock(m_mutex);
    out = m_storage.have();
    out.and_with(m_storage.wanted());
}

} // namespace torrent
