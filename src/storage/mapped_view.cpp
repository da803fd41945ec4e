#include "storage/mapped_view.h"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace torrent
{

mapped_view mapped_view::map(
    int fd, std::size_t len, std::uint64_t offset, bool writable, bool populate, int* err) noexcept
{
    mapped_view v;
    if (len == 0 || offset % granularity() != 0)
    {
        if (err != nullptr)
            *err = EINVAL;
        return v;
    }
    const int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    const int flags = MAP_SHARED | (populate ? MAP_POPULATE : 0);
    void* p = ::mmap(nullptr, len, prot, flags, fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED)
    {
        if (err != nullptr)
            *err = errno;
        return v;
    }
    v.m_addr = static_cast<std::byte*>(p);
    v.m_size = len;
    return v;
}

std::uint32_t mapped_view::granularity() noexcept
{
    static const std::uint32_t g = []
    {
        const long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::uint32_t>(page) : 4096u;
    }();
    return g;
}

bool mapped_view::reset() noexcept
{
    if (m_addr == nullptr)
        return true;
    const int rc = ::munmap(m_addr, m_size);
    m_addr = nullptr;
    m_size = 0;
    return rc == 0;
}

} // namespace torrent
