#include "app/stop_signals.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "base/assert.h"

namespace torrent
{
namespace
{

constexpr char wake_byte = 0;
constexpr char signal_byte = 1;

// The pipe the handler writes to; -1 while no stop_signals object exists.
std::atomic<int> g_write_fd{-1};

void on_stop_signal(int)
{
    const int saved = errno;
    const int fd = g_write_fd.load();
    if (fd >= 0)
        static_cast<void>(::write(fd, &signal_byte, 1));
    errno = saved;
}

} // namespace

stop_signals::stop_signals()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read.reset(ends[0]);
    m_write.reset(ends[1]);
    [[maybe_unused]] const int before = g_write_fd.exchange(m_write.get());
    ZV_ASSERT(before < 0);

    struct sigaction action
    {
    };

    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(watched); ++i)
    {
        m_installed[i] = ::sigaction(watched[i], &action, &m_earlier[i]) == 0;
    }
}

stop_signals::~stop_signals()
{
    for (std::size_t i = 0; i < std::size(watched); ++i)
    {
        if (m_installed[i])
            ::sigaction(watched[i], &m_earlier[i], nullptr);
    }
    if (m_write)
        g_write_fd.store(-1);
}

bool stop_signals::wait_for(std::chrono::milliseconds limit)
{
    pollfd p{m_read.get(), POLLIN, 0};
    const auto ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(limit.count(), 1 << 30));
    if (::poll(&p, 1, std::max(ms, 0)) > 0)
    {
        char bytes[16];
        ssize_t n = 0;
        while ((n = ::read(m_read.get(), bytes, sizeof bytes)) > 0)
        {
            for (ssize_t i = 0; i < n; ++i)
                m_came = m_came || bytes[i] == signal_byte;
        }
    }
    return m_came;
}

void stop_signals::wake() noexcept
{
    if (m_write)
        static_cast<void>(::write(m_write.get(), &wake_byte, 1));
}

} // namespace torrent
