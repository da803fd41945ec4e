#include "app/display_check.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/unique_fd.h"

namespace torrent
{
namespace
{

constexpr int tcp_connect_timeout_ms = 1500;

bool connect_unix(const std::string& path, bool abstract)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) == 0;
}

bool connect_tcp(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (const addrinfo* a = found; a != nullptr && !ok; a = a->ai_next)
    {
        const unique_fd fd(::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd)
            continue;
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0)
        {
            ok = true;
            break;
        }
        if (errno != EINPROGRESS)
            continue;
        pollfd p{fd.get(), POLLOUT, 0};
        if (::poll(&p, 1, tcp_connect_timeout_ms) != 1)
            continue;
        int error = 0;
        socklen_t size = sizeof error;
        ok = ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::freeaddrinfo(found);
    return ok;
}

// "[host]:display[.screen]"; local when the host is empty or "unix".
bool x_display_answers(const std::string& display)
{
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = display.substr(0, colon);
    const std::string rest = display.substr(colon + 1);
    const int number = std::atoi(rest.c_str());
    if (rest.empty() || rest[0] < '0' || rest[0] > '9')
        return false;
    if (host.empty() || host == "unix" || host.starts_with("unix/"))
    {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        return connect_unix(path, true) || connect_unix(path, false);
    }
    if (host.starts_with('/'))
        return connect_unix(display, false); // launchd-style socket path
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return connect_tcp(host, 6000 + number);
}

bool wayland_display_answers(const env_reader& env, const std::string& name)
{
    if (name.starts_with('/'))
        return connect_unix(name, false);
    const auto runtime = env("XDG_RUNTIME_DIR");
    if (!runtime || runtime->empty())
        return false;
    return connect_unix(*runtime + "/" + name, false);
}

} // namespace

env_reader process_environment()
{
    return [](const char* name) -> std::optional<std::string>
    {
        const char* value = std::getenv(name);
        if (value == nullptr)
            return std::nullopt;
        return std::string(value);
    };
}

std::optional<std::string> missing_display_reason(const env_reader& env)
{
    const std::string platform = env("QT_QPA_PLATFORM").value_or("");
    const std::string display = env("DISPLAY").value_or("");
    const std::string wayland = env("WAYLAND_DISPLAY").value_or("");
    // Only the platforms that talk to a display server can fail to find one.
    const std::string_view first(platform.data(), std::min(platform.find(';'), platform.size()));
    const bool wants_wayland = first.starts_with("wayland");
    if (!first.empty() && first != "xcb" && !wants_wayland)
        return std::nullopt;
    if (wants_wayland)
    {
        if (!wayland.empty() && wayland_display_answers(env, wayland))
            return std::nullopt;
        return wayland.empty() ? "WAYLAND_DISPLAY is not set"
                               : "the Wayland display " + wayland + " does not answer";
    }
    if (display.empty())
        return "DISPLAY is not set";
    if (!x_display_answers(display))
        return "the display " + display + " does not answer";
    return std::nullopt;
}

} // namespace torrent
