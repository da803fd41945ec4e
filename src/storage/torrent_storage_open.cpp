// Opening a torrent's storage: the layout, the folders and files beneath the save folder,
// their sizes, and the removal of what a failed open created.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "base/paths.h"
#include "metainfo/base_error.h"
#include "storage/beneath.h"
#include "storage/free_space.h"
#include "storage/torrent_storage.h"

namespace torrent
{
namespace
{

// Descriptors kept free for sockets and everything else the process opens besides
// content files.
constexpr std::uint64_t descriptor_reserve = 128;

std::uint64_t open_descriptor_count() noexcept
{
    std::uint64_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd"))
    {
        while (const dirent* e = ::readdir(dir))
            n += e->d_name[0] != '.' ? 1 : 0;
        ::closedir(dir);
    }
    return n;
}

bool is_read_only_error(int e) noexcept
{
    return e == EACCES || e == EROFS || e == EPERM;
}

// The folder itself, or its nearest parent that exists: where the free space is asked
// before anything is created.
std::string nearest_existing_folder(std::string path)
{
    while (!path.empty() && !is_folder(path))
    {
        const std::string_view parent = parent_of(path);
        path = parent.empty() ? std::string(".") : std::string(parent);
        if (path == "." || path == "/")
            break;
    }
    return path.empty() ? std::string(".") : path;
}

} // namespace

void torrent_storage::fail(
    storage_fault fault, std::string path, int error_number, std::uint64_t needed, std::uint64_t available)
{
    m_error.fault = fault;
    m_error.path = std::move(path);
    m_error.error_number = error_number;
    m_error.needed = needed;
    m_error.available = available;
    throw base_error(err::mapping_unusable);
}

open_storage_result torrent_storage::open_storage(
    std::shared_ptr<const torrent_metainfo> metainfo,
    const std::string& save_path,
    bool& data_is_new,
    const file_selection_source* selection,
    open_mode mode)
{
    close_storage();
    m_error = {};
    m_writable = mode == open_mode::download;
    data_is_new = false;
    if (metainfo == nullptr)
    {
        m_error.fault = storage_fault::invalid;
        return open_storage_result::invalid;
    }

    // The layout keeps views into the metainfo (the piece digests): hold it first.
    m_metainfo = std::move(metainfo);
    const std::string save = save_path.empty() ? std::string(".") : save_path;
    try
    {
        m_layout = parse_info_layout(m_metainfo->info(), &m_error.reason);
        if (m_layout.multi_file && selection != nullptr)
        {
            if (const auto chosen = selection->load(m_layout.name))
                m_layout.apply_selection(*chosen);
        }
        m_mapped.reserve(m_layout.files.size());
        for (const file_entry& f : m_layout.files)
            m_mapped.push_back(std::make_unique<MappedFile>(f.size, f.selected));
        m_states.assign(m_layout.files.size(), file_state{});
        m_have.resize(m_layout.piece_count());
        m_wanted.resize(m_layout.piece_count());
        m_wanted.set_all();
        m_save_path = save;
        m_base_path = m_layout.multi_file ? join_path(save, m_layout.name) : save;
        // Refused before anything is created: a path the system cannot take.
        check_path_lengths(save);
    }
    catch (const std::exception&)
    {
        const storage_error why = m_error;
        close_storage();
        m_error = why;
        if (!m_error)
            m_error.fault = storage_fault::invalid;
        return open_storage_result::invalid;
    }

    data_is_new = m_layout.multi_file ? !is_folder(m_base_path)
                                      : !is_regular_file(join_path(m_base_path, m_layout.name));
    if (data_is_new && mode == open_mode::download)
    {
        const auto free = volume_free_bytes(nearest_existing_folder(save));
        if (!free || *free < m_layout.selected_size)
        {
            close_storage();
            m_error.fault = storage_fault::no_space;
            m_error.path = save;
            m_error.needed = m_layout.selected_size;
            m_error.available = free ? *free : 0;
            return open_storage_result::no_space;
        }
    }

    try
    {
        if (mode == open_mode::download)
        {
            check_descriptors();
            int e = 0;
            if (!make_folders_tracked(save, m_created_folders, &e))
                fail(storage_fault::folder_failed, save, e);
        }
        m_root.reset(::open(save.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!m_root)
        {
            if (mode == open_mode::check_only && errno == ENOENT)
            {
                for (file_state& s : m_states)
                    s.missing = true;
                return open_storage_result::ok;
            }
            fail(storage_fault::folder_failed, save, errno);
        }
        open_files(mode);
        if (mode == open_mode::download)
            size_files();
    }
    catch (const std::exception&)
    {
        const storage_error why = m_error;
        remove_created();
        close_storage();
        m_error = why;
        if (!m_error)
            m_error.fault = storage_fault::file_open_failed;
        return open_storage_result::cannot_open;
    }
    return open_storage_result::ok;
}

void torrent_storage::check_path_lengths(const std::string& save)
{
    // A path longer than PATH_MAX - 1 cannot be handed to the system (nor opened by the
    // user's programs afterwards).
    const std::size_t limit = PATH_MAX - 1;
    for (std::size_t i = 0; i < m_layout.files.size(); ++i)
    {
        std::size_t bytes = save.size() + 1 + (m_layout.multi_file ? m_layout.name.size() + 1 : 0);
        for (const std::string& c : m_layout.files[i].path)
            bytes += c.size() + 1;
        if (bytes - 1 > limit)
        {
            m_error.fault = storage_fault::path_too_long;
            m_error.path = file_path(i);
            m_error.needed = bytes - 1;
            m_error.available = limit;
            m_error.reason = "file " + std::to_string(i) + ": the path is " + std::to_string(bytes - 1)
                + " bytes long; the system allows " + std::to_string(limit);
            throw base_error(err::invalid_file_entry);
        }
    }
}

void torrent_storage::check_descriptors()
{
    // Every selected file is held open while the torrent runs: say so before creating
    // anything when the process may not open that many.
    std::uint64_t needed = 1; // the piece-state file
    for (const file_entry& f : m_layout.files)
        needed += f.selected && !f.pad && !(f.size == 0 && f.placeholder) ? 1 : 0;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return;
    const auto allowed = static_cast<std::uint64_t>(limit.rlim_cur);
    if (needed + open_descriptor_count() + descriptor_reserve > allowed)
        fail(storage_fault::too_many_files, m_base_path, EMFILE, needed, allowed);
}

void torrent_storage::open_files(open_mode mode)
{
    const std::vector<file_entry>& files = m_layout.files;
    const bool download = mode == open_mode::download;
    // Folders first, also those of unselected files (never those of padding files).
    if (download)
    {
        std::unordered_set<std::string> made;
        if (m_layout.multi_file)
        {
            int e = 0;
            std::string failed;
            std::vector<std::string> created;
            const bool ok = make_folders_beneath(m_root.get(), m_layout.name, created, &e, &failed);
            for (const std::string& c : created)
                m_created_folders.push_back(join_path(m_save_path, c));
            if (!ok)
            {
                if (e == EXDEV)
                    fail(
                        storage_fault::path_leaves_folder,
                        join_path(m_save_path, first_link_beneath(m_root.get(), failed)),
                        e);
                fail(storage_fault::folder_failed, join_path(m_save_path, failed), e);
            }
        }
        for (std::size_t i = 0; i < files.size(); ++i)
        {
            const file_entry& f = files[i];
            if (f.path.empty())
                throw base_error(err::piece_unavailable);
            if (f.pad || f.path.size() < 2)
                continue;
            const std::string rel = relative_path(i);
            const std::string folder(parent_of(rel));
            if (!made.insert(folder).second)
                continue;
            int e = 0;
            std::string failed;
            std::vector<std::string> created;
            const bool ok = make_folders_beneath(m_root.get(), folder, created, &e, &failed);
            for (const std::string& c : created)
                m_created_folders.push_back(join_path(m_save_path, c));
            if (!ok)
            {
                if (e == EXDEV)
                    fail(
                        storage_fault::path_leaves_folder,
                        join_path(m_save_path, first_link_beneath(m_root.get(), failed)),
                        e);
                fail(storage_fault::folder_failed, join_path(m_save_path, failed), e);
            }
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        open_one(i, mode);
}

void torrent_storage::open_one(std::size_t i, open_mode mode)
{
    const file_entry& f = m_layout.files[i];
    MappedFile& m = *m_mapped[i];
    file_state& state = m_states[i];
    if (f.pad || (f.selected && m.is_open()) || (f.size == 0 && f.placeholder))
        return;
    const std::string rel = relative_path(i);
    const std::uint32_t pl = m_layout.piece_length;
    const auto start = static_cast<std::uint32_t>(f.offset % pl);
    const bool download = mode == open_mode::download;
    if (!f.selected)
    {
        // Virtual: only the block geometry, nothing on disk.
        static_cast<void>(m.Open(m_root.get(), rel, pl, start, download, false));
        return;
    }
    // Open what is there first; create only what is absent.
    bool ok = m.Open(m_root.get(), rel, pl, start, download, false);
    int e = m.last_error();
    if (!ok && download && e == ENOENT)
    {
        ok = m.Open(m_root.get(), rel, pl, start, true, true);
        e = m.last_error();
        state.created = ok;
        if (ok)
            m_created_files.push_back(file_path(i));
    }
    else if (!ok && download && is_read_only_error(e))
    {
        // A file that cannot be written may still be seeded when it is complete.
        ok = m.Open(m_root.get(), rel, pl, start, false, false);
        state.read_only = ok;
        if (!ok)
            e = m.last_error();
    }
    if (!ok)
    {
        m.Close();
        if (!download && (e == ENOENT || e == ENOTDIR))
        {
            state.missing = true;
            return;
        }
        if (e == EXDEV || e == ELOOP)
            fail(
                storage_fault::path_leaves_folder,
                join_path(m_save_path, first_link_beneath(m_root.get(), rel)),
                e);
        if (e == EWOULDBLOCK)
            fail(storage_fault::file_locked, file_path(i), e);
        if (e == EMFILE || e == ENFILE)
        {
            rlimit limit{};
            static_cast<void>(::getrlimit(RLIMIT_NOFILE, &limit));
            fail(storage_fault::too_many_files, m_base_path, e, m_layout.files.size() + 1, limit.rlim_cur);
        }
        fail(storage_fault::file_open_failed, file_path(i), e);
    }

    struct stat st
    {
    };

    if (m.stat(st))
    {
        state.disk_length = static_cast<std::uint64_t>(st.st_size);
        state.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
}

void torrent_storage::size_files()
{
    for (std::size_t i = 0; i < m_layout.files.size(); ++i)
    {
        const file_entry& f = m_layout.files[i];
        MappedFile& m = *m_mapped[i];
        if (f.pad || (f.selected && f.size == 0))
            continue;
        if (f.selected && m.file_backed() && !m.is_open())
            throw base_error(err::piece_unavailable);
        if (f.selected && m_states[i].disk_length > f.size)
            fail(storage_fault::file_too_long, file_path(i), 0, f.size, m_states[i].disk_length);
        if (m_states[i].read_only && m_states[i].disk_length < f.size)
            fail(storage_fault::read_only_incomplete, file_path(i), EACCES, f.size, m_states[i].disk_length);
        try
        {
            m.SetLength(f.size);
        }
        catch (const base_error& e)
        {
            if (e.code() == err::mapped_size)
                fail(storage_fault::file_too_long, file_path(i), 0, f.size, m_states[i].disk_length);
            fail(storage_fault::file_size_failed, file_path(i), m.last_error());
        }
    }
}

void torrent_storage::remove_created() noexcept
{
    // Files this open created hold nothing of the user's: take them away again, and the
    // folders it made for them, deepest first.
    for (const std::string& path : m_created_files)
        ::unlink(path.c_str());
    m_created_files.clear();
    for (auto it = m_created_folders.rbegin(); it != m_created_folders.rend(); ++it)
        ::rmdir(it->c_str());
    m_created_folders.clear();
}

void torrent_storage::close_storage() noexcept
{
    for (auto& m : m_mapped)
        m->Close();
    m_mapped.clear();
    m_states.clear();
    m_created_files.clear();
    m_created_folders.clear();
    m_root.reset();
    m_layout = info_layout{};
    m_metainfo.reset();
    m_have.resize(0);
    m_wanted.resize(0);
    m_have_count.store(0, std::memory_order_relaxed);
    m_have_bytes.store(0, std::memory_order_relaxed);
    m_fault_file = -1;
}

std::string torrent_storage::relative_path(std::size_t i) const
{
    std::string rel = m_layout.multi_file ? m_layout.name : std::string();
    for (const std::string& part : m_layout.files[i].path)
    {
        if (!rel.empty())
            rel += '/';
        rel += part;
    }
    return rel;
}

std::string torrent_storage::file_path(std::size_t i) const
{
    const std::string rel = relative_path(i);
    return m_save_path.empty() ? rel : join_path(m_save_path, rel);
}

} // namespace torrent
