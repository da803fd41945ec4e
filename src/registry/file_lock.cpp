#include "registry/file_lock.h"

#include <cerrno>
#include <sys/file.h>

namespace torrent
{

file_lock::file_lock(int fd) noexcept
{
    int rc = 0;
    do
        rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc == 0)
        m_fd = fd;
}

file_lock::~file_lock()
{
    if (m_fd >= 0)
        ::flock(m_fd, LOCK_UN);
}

} // namespace torrent
