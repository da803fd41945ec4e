#include "storage/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "metainfo/base_error.h"
#include "storage/beneath.h"
#include "storage/mapped_access.h"

namespace torrent
{

bool MappedFile::check_geometry(std::uint32_t block_size, std::uint32_t start_offset) noexcept
{
    Close();
    m_errno = 0;
    if (block_size == 0 || start_offset >= block_size)
    {
        m_errno = EINVAL;
        return false;
    }
    return true;
}

bool MappedFile::Open(
    const std::string& path,
    std::uint32_t block_size,
    std::uint32_t start_offset,
    bool writable,
    bool create) noexcept
{
    if (!check_geometry(block_size, start_offset))
        return false;
    unique_fd fd;
    if (m_file_backed)
    {
        const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | (create ? O_CREAT : 0);
        fd.reset(::open(path.c_str(), flags, 0644));
        if (!fd)
        {
            m_errno = errno;
            return false;
        }
    }
    return adopt(std::move(fd), block_size, start_offset, writable);
}

bool MappedFile::Open(
    int root,
    const std::string& relative,
    std::uint32_t block_size,
    std::uint32_t start_offset,
    bool writable,
    bool create) noexcept
{
    if (!check_geometry(block_size, start_offset))
        return false;
    unique_fd fd;
    if (m_file_backed)
    {
        const int flags = (writable ? O_RDWR : O_RDONLY) | (create ? O_CREAT : 0);
        fd = open_beneath(root, relative, flags, 0644, &m_errno);
        if (!fd)
            return false;
    }
    return adopt(std::move(fd), block_size, start_offset, writable);
}

bool MappedFile::adopt(
    unique_fd fd, std::uint32_t block_size, std::uint32_t start_offset, bool writable) noexcept
{
    install_mapping_fault_handler();
    m_block_size = block_size;
    m_start_offset = start_offset;
    m_writable = writable;
    if (m_file_backed)
    {
        // Nobody else may work on the file while we hold it (another copy of the program,
        // or a second torrent naming the same file).
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        {
            m_errno = errno;
            return false;
        }

        struct stat st
        {
        };

        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        {
            m_errno = errno != 0 ? errno : EISDIR;
            return false;
        }
        m_length = static_cast<std::uint64_t>(st.st_size);
        m_fd = std::move(fd);
    }
    try
    {
        size_blocks();
    }
    catch (const std::bad_alloc&)
    {
        m_errno = ENOMEM;
        Close();
        return false;
    }
    return true;
}

bool MappedFile::touch() noexcept
{
    return m_fd && ::futimens(m_fd.get(), nullptr) == 0;
}

bool MappedFile::stat(struct stat& out) const noexcept
{
    return m_fd && ::fstat(m_fd.get(), &out) == 0;
}

bool MappedFile::disk_length(std::uint64_t& out) const noexcept
{
    struct stat st
    {
    };

    if (!stat(st))
        return false;
    out = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void MappedFile::SetLength(std::uint64_t length)
{
    if (m_file_backed)
    {
        if (!m_fd)
            throw base_error(err::mapping_unusable);

        struct stat st
        {
        };

        if (::fstat(m_fd.get(), &st) != 0)
        {
            m_errno = errno;
            throw base_error(err::mapping_unusable);
        }
        const auto on_disk = static_cast<std::uint64_t>(st.st_size);
        if (on_disk > length)
            throw base_error(err::mapped_size);
        if (length > 0 && m_writable)
        {
            // Reserve every block now: writing through a mapping of a sparse file on a full
            // disk would raise SIGBUS instead of an error.
            const int rc = ::posix_fallocate(m_fd.get(), 0, static_cast<off_t>(length));
            if (rc != 0)
            {
                m_errno = rc;
                // Leave the file as it was found, not half grown.
                if (::fstat(m_fd.get(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) != on_disk)
                    static_cast<void>(::ftruncate(m_fd.get(), static_cast<off_t>(on_disk)));
                throw base_error(err::mapping_unusable);
            }
        }
        else if (on_disk < length)
        {
            m_errno = EBADF;
            throw base_error(err::mapping_unusable);
        }
    }
    if (length != m_length || m_blocks.empty())
    {
        detach_all();
        m_length = length;
        try
        {
            size_blocks();
        }
        catch (const std::bad_alloc&)
        {
            m_errno = ENOMEM;
            throw base_error(err::mapping_unusable);
        }
    }
}

BlockHandle MappedFile::GetBlock(std::uint32_t index, bool for_writing, bool populate)
{
    if (m_block_size == 0 || (m_file_backed && !m_fd) || index >= m_blocks.size())
        throw base_error(err::mapping_unusable);
    if (for_writing && !m_writable)
        throw base_error(err::mapping_unusable);
    BlockView*& slot = m_blocks[index];
    if (slot != nullptr && slot->m_refs == 0)
        std::erase(m_idle, slot); // reused: no longer idle
    if (slot != nullptr && for_writing && !slot->writable())
    {
        // A read-only view lives on for its holders; writers get a view of their own.
        if (slot->m_refs == 0)
            std::unique_ptr<BlockView> unused(slot);
        else
            slot->m_owner = nullptr;
        slot = nullptr;
    }
    if (slot == nullptr)
    {
        const std::uint64_t offset = block_offset(index);
        const std::uint32_t length = block_length(index);
        if (!m_file_backed)
            return BlockHandle::placeholder(length);
        // Map only what the file holds: a file that another program cut short would raise
        // SIGBUS on the first touch of the missing pages.
        std::uint64_t on_disk = 0;
        if (!disk_length(on_disk))
        {
            m_errno = errno;
            throw base_error(err::mapping_unusable);
        }
        if (on_disk < offset + length)
        {
            m_errno = 0;
            throw base_error(err::mapped_size);
        }
        // Map the whole huge-page window(s) around the block, so that huge pages of the page
        // cache are mapped with one entry each; only the block's own pages are touched.
        const std::uint64_t window = mapped_view::window();
        const std::uint64_t start = offset - offset % window;
        const std::uint64_t end = (offset + length + window - 1) / window * window;
        const auto skip = static_cast<std::uint32_t>(offset - start);
        int err = 0;
        mapped_view v =
            mapped_view::map(m_fd.get(), static_cast<std::size_t>(end - start), start, for_writing, &err);
        if (!v.valid())
        {
            m_errno = err;
            throw base_error(err::mapping_unusable);
        }
        // Fault in the block's own pages in one call, not one fault per page as the copy
        // touches them. Only the block's: pieces arrive in random order, so the rest of the
        // window belongs to pieces that come much later (or never, an unselected file), and
        // every page table entry set here costs again when the view is unmapped.
        if (populate)
            v.populate(skip, length, for_writing);
        auto view = std::make_unique<BlockView>(std::move(v), skip, length, for_writing);
        view->m_owner = this;
        view->m_slot = index;
        slot = view.release(); // from here on owned by the handles' count
    }
    if (slot->address() == nullptr)
        throw base_error(err::mapped_size);
    return BlockHandle(slot);
}

void MappedFile::Close() noexcept
{
    detach_all();
    m_blocks.clear();
    m_fd.reset();
}

std::uint64_t MappedFile::block_offset(std::uint32_t index) const noexcept
{
    if (index == 0)
        return 0;
    return std::uint64_t{index} * m_block_size - m_start_offset;
}

std::uint32_t MappedFile::block_length(std::uint32_t index) const noexcept
{
    const std::uint64_t offset = block_offset(index);
    const std::uint64_t end = std::uint64_t{index + 1} * m_block_size - m_start_offset;
    const std::uint64_t stop = end < m_length ? end : m_length;
    return stop > offset ? static_cast<std::uint32_t>(stop - offset) : 0;
}

std::size_t MappedFile::mapped_blocks() const noexcept
{
    std::size_t n = 0;
    for (const BlockView* v : m_blocks)
        n += v != nullptr ? 1 : 0;
    return n;
}

bool MappedFile::keep_idle(BlockView* view) noexcept
{
    if (m_idle_limit == 0)
    {
        if (view->m_slot < m_blocks.size() && m_blocks[view->m_slot] == view)
            m_blocks[view->m_slot] = nullptr;
        return false;
    }
    try
    {
        m_idle.push_back(view);
    }
    catch (const std::bad_alloc&)
    {
        drop_idle(view);
        return true;
    }
    trim_idle();
    return true;
}

void MappedFile::drop_idle(BlockView* view) noexcept
{
    if (view->m_slot < m_blocks.size() && m_blocks[view->m_slot] == view)
        m_blocks[view->m_slot] = nullptr;
    std::unique_ptr<BlockView> unmap(view);
}

void MappedFile::trim_idle() noexcept
{
    if (m_idle.size() <= m_idle_limit)
        return;
    const std::size_t excess = m_idle.size() - m_idle_limit;
    for (std::size_t i = 0; i < excess; ++i)
        drop_idle(m_idle[i]);
    m_idle.erase(m_idle.begin(), m_idle.begin() + static_cast<std::ptrdiff_t>(excess));
}

void MappedFile::release_idle(std::uint32_t index) noexcept
{
    if (index >= m_blocks.size())
        return;
    BlockView* view = m_blocks[index];
    if (view == nullptr || view->m_refs != 0)
        return;
    std::erase(m_idle, view);
    drop_idle(view);
}

void MappedFile::set_idle_views(std::uint32_t count) noexcept
{
    m_idle_limit = count;
    trim_idle();
}

void MappedFile::detach_all() noexcept
{
    for (BlockView* v : m_idle)
        drop_idle(v);
    m_idle.clear();
    for (BlockView*& v : m_blocks)
    {
        if (v != nullptr)
        {
            v->m_owner = nullptr;
            v = nullptr;
        }
    }
}

void MappedFile::size_blocks()
{
    std::uint64_t n = 0;
    if (m_length > 0 && m_block_size > 0)
        n = (m_length + m_start_offset + m_block_size - 1) / m_block_size;
    if (n > UINT32_MAX)
        throw std::bad_alloc();
    m_blocks.assign(static_cast<std::size_t>(n), nullptr);
}

} // namespace torrent
