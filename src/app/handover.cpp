#include "app/handover.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/tick.h"

namespace torrent
{
namespace
{

constexpr std::string_view socket_prefix = "copy-";

bool make_address(const std::string& path, sockaddr_un& addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

std::string with_slash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// A socket file of a copy of this user, with the time it was bound.
struct candidate
{
    std::string path;
    timespec bound{};
};

std::vector<candidate> list_candidates(const std::string& folder)
{
    std::vector<candidate> out;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return out;
    while (const dirent* e = ::readdir(dir))
    {
        const std::string_view name = e->d_name;
        if (!name.starts_with(socket_prefix))
            continue;
        const std::string path = folder + std::string(name);

        struct stat st
        {
        };

        if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
            continue;
        out.push_back({path, st.st_mtim});
    }
    ::closedir(dir);
    std::sort(
        out.begin(),
        out.end(),
        [](const candidate& a, const candidate& b)
        {
            if (a.bound.tv_sec != b.bound.tv_sec)
                return a.bound.tv_sec < b.bound.tv_sec;
            if (a.bound.tv_nsec != b.bound.tv_nsec)
                return a.bound.tv_nsec < b.bound.tv_nsec;
            return a.path < b.path;
        });
    return out;
}

void set_timeouts(int fd, int ms)
{
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

} // namespace

socket_folder prepare_socket_folder_in(const std::string& parent, const std::string& name)
{
    socket_folder out;
    const std::string path = with_slash(parent) + name;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    {
        out.error = "cannot create " + path + ": " + std::strerror(errno);
        return out;
    }

    struct stat st
    {
    };

    if (::lstat(path.c_str(), &st) != 0)
    {
        out.error = "cannot read " + path + ": " + std::strerror(errno);
        return out;
    }
    if (!S_ISDIR(st.st_mode))
    {
        out.error = path + " is not a folder";
        return out;
    }
    if (st.st_uid != ::getuid())
    {
        out.error = path + " belongs to another user";
        return out;
    }
    if ((st.st_mode & 07777) != 0700)
    {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        out.error = path + " has mode " + mode + ", not 0700";
        return out;
    }
    out.path = path + "/";
    return out;
}

socket_folder prepare_socket_folder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return prepare_socket_folder_in(runtime, "zorvik");
    return prepare_socket_folder_in("/tmp", "zorvik-" + std::to_string(::getuid()));
}

handover_listener handover_listener::open(const std::string& folder)
{
    handover_listener out;
    const std::string path = with_slash(folder) + std::string(socket_prefix) + std::to_string(::getpid());
    sockaddr_un addr{};
    if (!make_address(path, addr))
        return out;
    unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return out;
    ::unlink(path.c_str()); // a stale file of an earlier process with our pid
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(fd.get(), 16) != 0)
        return out;
    out.m_fd = std::move(fd);
    out.m_path = path;
    return out;
}

handover_listener::~handover_listener()
{
    if (m_fd && !m_path.empty())
        ::unlink(m_path.c_str());
}

handover_listener::handover_listener(handover_listener&& other) noexcept
    : m_fd(std::move(other.m_fd))
    , m_path(std::exchange(other.m_path, {}))
{
}

handover_listener& handover_listener::operator=(handover_listener&& other) noexcept
{
    if (this != &other)
    {
        if (m_fd && !m_path.empty())
            ::unlink(m_path.c_str());
        m_fd = std::move(other.m_fd);
        m_path = std::exchange(other.m_path, {});
    }
    return *this;
}

unique_fd handover_listener::accept_same_user()
{
    for (;;)
    {
        unique_fd conn(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!conn)
            return conn;
        if (peer_uid(conn.get()) == static_cast<long>(::getuid()))
            return conn;
        // Another user's process: closed without a word.
    }
}

long peer_uid(int fd) noexcept
{
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return -1;
    return static_cast<long>(cred.uid);
}

bool handover_reader::feed(std::string_view bytes)
{
    m_buffer.append(bytes);
    // Only the frame still being received counts against the limit.
    const std::size_t last_end = m_buffer.rfind('\0');
    const std::size_t open = last_end == std::string::npos ? m_buffer.size() : m_buffer.size() - last_end - 1;
    return open <= handover::max_frame;
}

std::optional<handover_reader::frame> handover_reader::next()
{
    const std::size_t end = m_buffer.find('\0');
    if (end == std::string::npos)
        return std::nullopt;
    frame f;
    if (end > 0)
    {
        f.type = m_buffer[0];
        f.text = m_buffer.substr(1, end - 1);
    }
    m_buffer.erase(0, end + 1);
    return f;
}

unique_fd connect_running_copy(const std::string& folder)
{
    for (const candidate& c : list_candidates(with_slash(folder)))
    {
        sockaddr_un addr{};
        if (!make_address(c.path, addr))
            continue;
        unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd)
            return fd;
        set_timeouts(fd.get(), handover::wait_limit_ms);
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        {
            // Nobody listens: the copy that bound it has ended.
            if (errno == ECONNREFUSED)
                ::unlink(c.path.c_str());
            continue;
        }
        if (peer_uid(fd.get()) != static_cast<long>(::getuid()))
            continue;
        return fd;
    }
    return unique_fd();
}

bool send_frame(int fd, char type, std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() + 2);
    bytes += type;
    bytes.append(text);
    bytes += '\0';
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

handover_status hand_over_line(int fd, std::string_view line, int wait_ms)
{
    const tick_t deadline = monotonic_ms() + static_cast<tick_t>(std::max(0, wait_ms));
    if (!send_frame(fd, handover::line_frame, line))
        return errno == EAGAIN ? handover_status::timed_out : handover_status::failed;
    for (;;)
    {
        const tick_t now = monotonic_ms();
        if (now >= deadline)
            return handover_status::timed_out;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return handover_status::timed_out;
        char answer = 0;
        const ssize_t n = ::recv(fd, &answer, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 1 || answer != handover::acknowledgement)
            return handover_status::failed;
        break;
    }
    static_cast<void>(send_frame(fd, handover::show_frame, {}));
    return handover_status::delivered;
}

} // namespace torrent
