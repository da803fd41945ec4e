#include "storage/mapped_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

namespace torrent
{

mapped_view mapped_view::map(int fd, std::size_t len, std::uint64_t offset, bool writable, int* err) noexcept
{
    mapped_view v;
    if (len == 0 || offset % granularity() != 0)
    {
        if (err != nullptr)
            *err = EINVAL;
        return v;
    }
    const int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* p = ::mmap(nullptr, len, prot, MAP_SHARED, fd, static_cast<off_t>(offset));
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

void mapped_view::populate(std::size_t at, std::size_t len, bool writable) const noexcept
{
#if defined(MADV_POPULATE_READ) && defined(MADV_POPULATE_WRITE)
    if (m_addr == nullptr || len == 0 || at >= m_size)
        return;
    const std::size_t page = granularity();
    const std::size_t begin = at - at % page;
    const std::size_t end = std::min(m_size, at + len);
    ::madvise(m_addr + begin, end - begin, writable ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
#else
    static_cast<void>(at);
    static_cast<void>(len);
    static_cast<void>(writable);
#endif
}

std::uint32_t mapped_view::window() noexcept
{
    static const std::uint32_t w = []
    {
        std::uint32_t size = granularity();
        // Only when the kernel may back file mappings with huge pages at all.
        if (std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "re"))
        {
            unsigned long pmd = 0;
            if (std::fscanf(f, "%lu", &pmd) == 1 && pmd >= size && pmd <= (1ul << 30) && pmd % size == 0)
                size = static_cast<std::uint32_t>(pmd);
            std::fclose(f);
        }
        return size;
    }();
    return w;
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
