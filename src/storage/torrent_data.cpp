#include "storage/torrent_data.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "base/event.h"
#include "base/paths.h"
#include "base/tick.h"
#include "metainfo/base_error.h"
#include "storage/beneath.h"
#include "storage/mapped_access.h"

namespace torrent
{
namespace
{

bool is_read_only_error(int e) noexcept
{
    return e == EACCES || e == EROFS || e == EPERM;
}

std::int64_t modified_ns(const struct stat& st) noexcept
{
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// While blocks are written, the piece-state file's time is brought up to date at least this
// often: it says up to when the file described the data. Our own writes are therefore never
// more than this (plus the file system's clock step) newer than it, and a file counts as
// changed by someone else only when it is newer than the state by more than the margin.
constexpr tick_t state_touch_period_ms = 500;
constexpr std::int64_t modified_margin_ns = 1000000000;

} // namespace

torrent_data::~torrent_data()
{
    close();
}

load_result torrent_data::load(
    std::shared_ptr<const torrent_metainfo> metainfo,
    const std::string& save_folder,
    const std::string& data_folder,
    const file_selection_source* selection,
    open_mode mode)
{
    const std::lock_guard lock(m_mutex);
    m_open_error = {};
    m_fault = {};
    m_failed.store(false, std::memory_order_relaxed);
    m_recheck.resize(0);
    m_full_check = false;
    m_saved.clear();
    m_state_created = false;
    m_state_created_folders.clear();
    m_mode = mode;
    if (metainfo == nullptr)
    {
        m_open_error.fault = storage_fault::invalid;
        return load_result::invalid;
    }
    m_save_path = trim_trailing_slashes(save_folder);
    m_info_hash = metainfo->info_hash_text();
    m_state_path = join_path(data_folder, m_info_hash);

    bool data_is_new = false;
    const open_storage_result opened =
        m_storage.open_storage(std::move(metainfo), m_save_path, data_is_new, selection, mode);
    if (opened != open_storage_result::ok)
    {
        m_open_error = m_storage.open_error();
        switch (opened)
        {
        case open_storage_result::no_space:
            return load_result::no_space;
        case open_storage_result::invalid:
            return load_result::invalid;
        case open_storage_result::ok:
        case open_storage_result::cannot_open:
            break;
        }
        return load_result::cannot_open;
    }

    const int state = open_state_file(data_is_new, mode);
    if (state == 1)
    {
        m_storage.remove_created();
        m_storage.close_storage();
        for (auto it = m_state_created_folders.rbegin(); it != m_state_created_folders.rend(); ++it)
            ::rmdir(it->c_str());
        return load_result::state_file_failed;
    }
    trust_saved_state(state == 0);
    mark_unselected_files();
    const std::uint32_t n = m_storage.piece_count();
    m_availability.assign(n, 0);
    m_availability_extra = 0;

    const bool check = m_full_check || !m_recheck.none();
    if (!check && mode == open_mode::download)
    {
        // A file that cannot be written (a read-only place) is fine as long as nothing of
        // it is left to download.
        if (const std::int64_t k = unwritable_incomplete_file(); k >= 0)
        {
            m_open_error.fault = storage_fault::read_only_incomplete;
            m_open_error.path = k < static_cast<std::int64_t>(m_storage.files().size())
                ? m_storage.file_path(static_cast<std::size_t>(k))
                : m_state_path;
            m_open_error.error_number = EACCES;
            close_locked_for_failure();
            return load_result::cannot_open;
        }
    }
    return check ? load_result::needs_check : load_result::ok;
}

void torrent_data::close_locked_for_failure() noexcept
{
    m_state_view.release();
    m_state_file.Close();
    if (m_state_created)
        ::unlink(m_state_path.c_str());
    m_storage.remove_created();
    m_storage.close_storage();
    for (auto it = m_state_created_folders.rbegin(); it != m_state_created_folders.rend(); ++it)
        ::rmdir(it->c_str());
}

int torrent_data::open_state_file(bool data_is_new, open_mode mode)
{
    const auto size = static_cast<std::uint32_t>(m_storage.have().byte_count());
    m_saved.assign(size, 0);
    if (mode == open_mode::check_only)
    {
        // A check records nothing on disk: its state lives in memory.
        m_full_check = true;
        return 2;
    }
    const bool existed = is_regular_file(m_state_path);
    // A piece-state file inside the save folder (that of a multi-file torrent lies in its
    // content folder) is reached beneath it, like the content.
    const std::string prefix = m_save_path + '/';
    const bool beneath =
        m_storage.save_folder_fd() >= 0 && m_state_path.compare(0, prefix.size(), prefix) == 0;
    const std::string relative = beneath ? m_state_path.substr(prefix.size()) : std::string();
    auto open_state = [&](bool writable, bool create)
    {
        return beneath ? m_state_file.Open(m_storage.save_folder_fd(), relative, size, 0, writable, create)
                       : m_state_file.Open(m_state_path, size, 0, writable, create);
    };
    auto failure = [&](storage_fault fault, int e)
    {
        m_open_error.fault = fault;
        m_open_error.path = m_state_path;
        m_open_error.error_number = e;
        m_state_view.release();
        m_state_file.Close();
        if (m_state_created)
            ::unlink(m_state_path.c_str());
        m_state_created = false;
        return 1;
    };

    if (existed)
    {
        bool writable = true;
        if (!open_state(true, false))
        {
            const int e = m_state_file.last_error();
            if (!is_read_only_error(e) || !open_state(false, false))
                return failure(
                    e == EXDEV ? storage_fault::path_leaves_folder : storage_fault::state_file_failed,
                    m_state_file.last_error() != 0 ? m_state_file.last_error() : e);
            writable = false;
        }

        struct stat st
        {
        };

        if (!m_state_file.stat(st))
            return failure(storage_fault::state_file_failed, errno);
        m_state_modified_ns = modified_ns(st);
        const auto on_disk = static_cast<std::uint64_t>(st.st_size);
        // A file longer than the bitmap belongs to something else: refused.
        if (on_disk > size)
            return failure(storage_fault::state_file_too_long, 0);
        // A shorter one is extended with zero bytes: the bits it holds still count.
        if (writable)
        {
            try
            {
                m_state_file.SetLength(size);
                m_state_view = m_state_file.GetBlock(0, true);
            }
            catch (const std::exception&)
            {
                return failure(storage_fault::state_file_failed, m_state_file.last_error());
            }
        }
        // Read through the guard: the file can be cut under the mapping at any time.
        const auto held = static_cast<std::uint32_t>(writable ? size : on_disk);
        if (held > 0)
        {
            BlockHandle view = writable ? m_state_view : BlockHandle();
            try
            {
                if (!writable)
                {
                    m_state_file.SetLength(on_disk);
                    view = m_state_file.GetBlock(0, false);
                }
            }
            catch (const std::exception&)
            {
                return failure(storage_fault::state_file_failed, m_state_file.last_error());
            }
            if (!guarded_copy(m_saved.data(), view.data(), std::min(held, view.length())))
                return failure(storage_fault::state_file_failed, EIO);
        }
        if (!writable)
        {
            // The state of a read-only place lives in memory.
            m_state_file.Close();
        }
    }
    else
    {
        int e = 0;
        bool made = true;
        if (beneath)
        {
            std::vector<std::string> created;
            const std::string folder(parent_of(relative));
            made = folder.empty()
                || make_folders_beneath(m_storage.save_folder_fd(), folder, created, &e, nullptr);
            for (const std::string& c : created)
                m_state_created_folders.push_back(join_path(m_save_path, c));
        }
        else if (const std::string folder(parent_of(m_state_path)); !folder.empty())
        {
            made = make_folders_tracked(folder, m_state_created_folders, &e);
        }
        if (!made && !is_read_only_error(e))
            return failure(
                e == EXDEV ? storage_fault::path_leaves_folder : storage_fault::state_file_failed, e);
        if (open_state(true, true))
        {
            m_state_created = true;
            try
            {
                m_state_file.SetLength(size);
                m_state_view = m_state_file.GetBlock(0, true);
                if (!guarded_copy(m_state_view.data(), m_saved.data(), size))
                    return failure(storage_fault::state_file_failed, EIO);
            }
            catch (const std::exception&)
            {
                return failure(storage_fault::state_file_failed, m_state_file.last_error());
            }
        }
        else
        {
            e = m_state_file.last_error();
            m_state_file.Close();
            // Data in a read-only place without a saved state: checked, state kept in memory.
            if (!is_read_only_error(e) || data_is_new)
                return failure(
                    e == EXDEV ? storage_fault::path_leaves_folder : storage_fault::state_file_failed, e);
        }
    }
    if (!existed && !data_is_new)
    {
        m_full_check = true;
        return 2;
    }
    return existed ? 0 : 3;
}

void torrent_data::trust_saved_state(bool state_existed)
{
    const std::uint32_t n = m_storage.piece_count();
    if (!state_existed)
        return; // nothing saved (or nothing usable): every bit starts clear
    // The saved bitmap is trusted without hashing, except for the files it cannot describe
    // any more: created since, of another length, or modified after it was written.
    const std::vector<file_entry>& files = m_storage.files();
    const std::vector<file_state>& states = m_storage.file_states();
    const std::uint64_t pl = m_storage.piece_length();
    bitfield cleared;
    bitfield recheck;
    cleared.resize(n);
    recheck.resize(n);
    bool stale = false;
    for (std::size_t k = 0; k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        const file_state& st = states[k];
        if (!f.selected || f.pad || f.size == 0)
            continue;
        if (!st.created && st.disk_length == f.size
            && st.modified_ns <= m_state_modified_ns + modified_margin_ns)
            continue;
        stale = true;
        const auto first = static_cast<std::uint32_t>(f.offset / pl);
        const auto last = static_cast<std::uint32_t>((f.offset + f.size - 1) / pl);
        for (std::uint32_t p = first; p <= last && p < n; ++p)
        {
            cleared.set(p, true);
            // A piece with a part in a new (empty) file cannot be intact: no need to hash it.
            recheck.set(p, !st.created && !recheck_blocked(p, states));
        }
    }
    if (stale)
    {
        for (std::uint32_t p = 0; p < n; ++p)
        {
            if (cleared.test(p))
                m_saved[p / 8] &= static_cast<std::uint8_t>(~(0x80u >> (p % 8)));
        }
        // The cleared state is written at once: should the program end before the check,
        // no stale bit is trusted next time.
        static_cast<void>(write_state_bytes(0, m_saved.size()));
        if (!recheck.none())
            m_recheck = std::move(recheck);
    }
    for (std::uint32_t i = 0; i < n; ++i)
    {
        if ((m_saved[i / 8] & (0x80u >> (i % 8))) != 0)
            m_storage.set_have(i, true);
    }
}

bool torrent_data::recheck_blocked(std::uint32_t piece, const std::vector<file_state>& states) const
{
    // True when a file the piece touches had to be created.
    const std::vector<file_entry>& files = m_storage.files();
    const std::uint64_t pl = m_storage.piece_length();
    const std::uint64_t start = std::uint64_t{piece} * pl;
    const std::uint64_t end = start + m_storage.piece_size(piece);
    for (std::size_t k = 0; k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (f.size == 0 || f.offset >= end || f.offset + f.size <= start)
            continue;
        if (states[k].created)
            return true;
    }
    return false;
}

std::int64_t torrent_data::unwritable_incomplete_file() const
{
    const std::vector<file_entry>& files = m_storage.files();
    const std::vector<file_state>& states = m_storage.file_states();
    const bitfield& have = m_storage.have();
    const bitfield& wanted = m_storage.wanted();
    const std::uint64_t pl = m_storage.piece_length();
    const std::uint32_t n = m_storage.piece_count();
    const bool state_unwritable = m_state_view.empty();
    for (std::size_t k = 0; k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (!f.selected || f.pad || f.size == 0 || (!states[k].read_only && !state_unwritable))
            continue;
        const auto first = static_cast<std::uint32_t>(f.offset / pl);
        const auto last = static_cast<std::uint32_t>((f.offset + f.size - 1) / pl);
        for (std::uint32_t p = first; p <= last && p < n; ++p)
        {
            if (wanted.test(p) && !have.test(p))
                return states[k].read_only ? static_cast<std::int64_t>(k)
                                           : static_cast<std::int64_t>(files.size());
        }
    }
    return -1;
}

void torrent_data::close() noexcept
{
    const std::lock_guard lock(m_mutex);
    const bool touch = !m_state_view.empty() && !m_failed.load(std::memory_order_relaxed);
    // Content first: once every view is gone, nothing of ours changes the data any more,
    // and the piece-state file's time then marks the moment up to which it is true.
    m_storage.close_storage();
    m_state_view.release();
    if (touch)
        static_cast<void>(m_state_file.touch());
    m_state_file.Close();
}

open_storage_result
torrent_data::choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added)
{
    const std::lock_guard lock(m_mutex);
    const open_storage_result result = m_storage.choose_more_files(choice, added);
    if (result == open_storage_result::ok && !added.empty())
        static_cast<void>(save_have_state());
    return result;
}

void torrent_data::set_picker(std::unique_ptr<picker_sink> picker)
{
    const std::lock_guard lock(m_mutex);
    m_picker = std::move(picker);
}

void torrent_data::note_data_written() noexcept
{
    const tick_t now = monotonic_ms();
    if (m_state_view.empty() || now - m_state_touched < state_touch_period_ms)
        return;
    m_state_touched = now;
    static_cast<void>(m_state_file.touch());
}

void torrent_data::set_fault(storage_error e) noexcept
{
    if (m_failed.load(std::memory_order_relaxed))
        return;
    m_fault = std::move(e);
    m_failed.store(true, std::memory_order_release);
}

storage_error torrent_data::fault() const
{
    const std::lock_guard lock(m_mutex);
    return m_fault;
}

std::uint32_t torrent_data::pieces_to_check() const
{
    const std::lock_guard lock(m_mutex);
    if (m_full_check)
        return m_storage.piece_count();
    return m_recheck.count();
}

void torrent_data::mark_unselected_files()
{
    // Pieces that lie wholly inside unselected files are never requested: they count as
    // present and are not wanted. A piece shared by a selected and an unselected file stays
    // wanted, so once verified it is kept in the saved state and never fetched again.
    // Padding files are never selected: a piece of padding alone is all zeros anyway.
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

bool torrent_data::write_state_bytes(std::size_t from, std::size_t count)
{
    if (m_state_view.empty() || count == 0)
        return true;
    if (from + count > m_state_view.length() || from + count > m_saved.size())
        return false;
    if (guarded_copy(m_state_view.data() + from, m_saved.data() + from, count))
        return true;
    // The piece-state file was cut under the mapping.
    storage_error e;
    e.fault = storage_fault::state_write_failed;
    e.path = m_state_path;
    e.error_number = EIO;
    set_fault(std::move(e));
    return false;
}

bool torrent_data::save_have_state(std::int64_t index)
{
    // Only wanted pieces are saved: pieces of unselected files are marked again at load
    // from the file choice of that time. The in-memory have bits stay as they are, so those
    // pieces are not requested meanwhile.
    const std::span<const std::uint8_t> have = m_storage.have().bytes();
    const std::span<const std::uint8_t> wanted = m_storage.wanted().bytes();
    const std::size_t n = std::min({have.size(), wanted.size(), m_saved.size()});
    std::size_t from = 0;
    std::size_t count = n;
    if (index >= 0)
    {
        from = static_cast<std::size_t>(index) / 8;
        count = from < n ? 1 : 0;
    }
    for (std::size_t i = from; i < from + count; ++i)
        m_saved[i] = static_cast<std::uint8_t>(have[i] & wanted[i]);
    return write_state_bytes(from, count);
}

std::int64_t torrent_data::check_existing_data(
    const check_progress& progress, event& stop, unsigned pause_ms, unsigned workers) noexcept
{
    std::vector<std::uint8_t> bitmap;
    bitfield only;
    try
    {
        const std::lock_guard lock(m_mutex);
        if (m_saved.empty() || m_failed.load(std::memory_order_relaxed) || !m_storage.is_open())
            return check_failed;
        bitmap = m_saved;
        if (!m_full_check)
            only = m_recheck;
    }
    catch (const std::exception&)
    {
        return check_failed;
    }
    try
    {
        full_check_options options;
        options.pause_ms = pause_ms;
        options.guard = &m_mutex;
        options.workers = workers;
        options.only = only.bit_count() != 0 ? &only : nullptr;
        m_storage.clear_io_fault();
        // Every piece is read once: keeping its views mapped would only add the whole
        // check's pages to the process's resident memory.
        {
            const std::lock_guard lock(m_mutex);
            m_storage.set_idle_views(0);
        }
        const bool done = m_storage.full_check(progress, stop, bitmap, options);
        const std::lock_guard lock(m_mutex);
        m_storage.set_idle_views(MappedFile::default_idle_views);
        if (!done)
            return check_stopped;
        if (!m_storage.is_open())
            return check_failed;
        m_saved = std::move(bitmap);
        m_full_check = false;
        m_recheck.resize(0);
        mark_unselected_files();
        if (!save_have_state())
            return check_failed;
        if (m_mode == open_mode::download)
        {
            if (const std::int64_t k = unwritable_incomplete_file(); k >= 0)
            {
                storage_error e;
                e.fault = storage_fault::read_only_incomplete;
                e.path = k < static_cast<std::int64_t>(m_storage.files().size())
                    ? m_storage.file_path(static_cast<std::size_t>(k))
                    : m_state_path;
                e.error_number = EACCES;
                set_fault(std::move(e));
                return check_failed;
            }
        }
        return m_storage.have_count();
    }
    catch (const std::exception&)
    {
        const std::lock_guard lock(m_mutex);
        m_storage.set_idle_views(MappedFile::default_idle_views);
        if (m_storage.io_fault_file() >= 0)
            set_fault(m_storage.io_fault(false));
        return check_failed;
    }
}

block_wanted_result torrent_data::block_wanted_locked(const block_request& block) const
{
    if (!m_storage.block_in_range(block))
        return block_wanted_result::out_of_range;
    if (m_failed.load(std::memory_order_relaxed))
        return block_wanted_result::not_wanted;
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
    if (m_failed.load(std::memory_order_relaxed))
        return write_result::disk_failed;
    try
    {
        if (block_wanted_locked(block) == block_wanted_result::not_wanted)
            return write_result::not_wanted;
        block.storage = &m_storage;
        m_storage.clear_io_fault();
        if (!m_storage.write_block(block, bytes))
        {
            if (m_storage.io_fault_file() < 0)
                return write_result::nothing_stored;
            set_fault(m_storage.io_fault(true));
            return write_result::disk_failed;
        }
        note_data_written();
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
            piece.release();
            m_storage.release_piece_views(index);
            if (!save_have_state(index))
                return write_result::disk_failed;
            m_picker->piece_passed(index);
            return m_storage.have().all() ? write_result::torrent_done : write_result::piece_done;
        }
    }
    catch (const std::exception&)
    {
        // A piece whose data cannot be read back is a disk fault; any other failure to
        // read or hash it counts as a failed piece.
        if (m_storage.io_fault_file() >= 0)
        {
            set_fault(m_storage.io_fault(false));
            return write_result::disk_failed;
        }
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
    if (m_failed.load(std::memory_order_relaxed))
        return -1;
    block.storage = &m_storage;
    m_storage.clear_io_fault();
    const std::int64_t got = m_storage.read_block(block, out);
    if (got < 0 && m_storage.io_fault_file() >= 0)
    {
        try
        {
            set_fault(m_storage.io_fault(false));
        }
        catch (const std::exception&)
        {
            m_failed.store(true, std::memory_order_release);
        }
    }
    return got;
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
