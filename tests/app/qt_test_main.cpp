// Entry of the window tests: the process first moves into a network namespace of its own
// with only loopback up (so nothing a test starts can reach another host), then one
// offscreen QApplication serves every test.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>

#include <gtest/gtest.h>

namespace
{

bool write_file(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

bool loopback_up()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    ::close(fd);
    return ok;
}

// As root a plain network namespace; otherwise one inside a user namespace of our own.
bool isolate_network()
{
    if (::unshare(CLONE_NEWNET) != 0)
    {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return false;
        write_file("/proc/self/setgroups", "deny");
        write_file("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        write_file("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    return loopback_up();
}

} // namespace

int main(int argc, char** argv)
{
    // A script test's namespace (with its tracker and peers) is kept; anything else gets
    // a namespace of its own.
    if (std::getenv("ZORVIK_IN_SANDBOX") == nullptr && !isolate_network())
    {
        std::fprintf(stderr, "window tests: no network namespace to run in (%s)\n", std::strerror(errno));
        return 1;
    }
    // The desktop tests bring their own X server; every other test is offscreen.
    if (std::getenv("ZORVIK_DESKTOP_TEST") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("ZORVIK_PROBE_ADDRESS", "127.0.0.1", 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
