#include "base/unique_fd.h"

#include <unistd.h>

namespace torrent
{

void unique_fd::reset(int fd) noexcept
{
    if (m_fd >= 0 && m_fd != fd)
        ::close(m_fd);
    m_fd = fd;
}

} // namespace torrent
