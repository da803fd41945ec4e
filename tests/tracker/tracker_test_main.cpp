// The tracker tests start HTTP servers and announce to them. Before anything else the test
// process moves into a network namespace of its own with only loopback up, so no request,
// name lookup or stray default tracker can ever leave the machine. When namespaces are not
// available the tests still talk to 127.0.0.1 only, and those that would resolve a name skip.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "private_network.h"

namespace torrent::test
{

namespace
{

bool g_private_network = false;

void write_text(const char* path, const std::string& text)
{
    const unique_fd fd(::open(path, O_WRONLY | O_CLOEXEC));
    if (fd)
        static_cast<void>(::write(fd.get(), text.data(), text.size()));
}

bool loopback_up()
{
    const unique_fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &ifr) != 0)
        return false;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    return ::ioctl(fd.get(), SIOCSIFFLAGS, &ifr) == 0;
}

bool enter_private_network()
{
    if (::unshare(CLONE_NEWNET) != 0)
    {
        // Without privileges: a user namespace of our own grants them, mapped to our ids.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return false;
        write_text("/proc/self/setgroups", "deny");
        write_text("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        write_text("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    return loopback_up();
}

} // namespace

bool in_private_network() noexcept
{
    return g_private_network;
}

} // namespace torrent::test

int main(int argc, char** argv)
{
    torrent::test::g_private_network = torrent::test::enter_private_network();
    if (!torrent::test::g_private_network)
        std::fprintf(stderr, "note: no private network namespace; tests stay on 127.0.0.1\n");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
