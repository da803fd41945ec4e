#include "app/display_check.h"

#include <map>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

env_reader fake_env(std::map<std::string, std::string> values)
{
    return [values = std::move(values)](const char* name) -> std::optional<std::string>
    {
        const auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    };
}

unique_fd listen_unix(const std::string& path)
{
    unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd.get(), 4), 0);
    return fd;
}

TEST(DisplayCheck, PlatformsWithoutADisplayServerNeedNone)
{
    EXPECT_FALSE(missing_display_reason(fake_env({{"QT_QPA_PLATFORM", "offscreen"}})));
    EXPECT_FALSE(missing_display_reason(fake_env({{"QT_QPA_PLATFORM", "vnc:size=800x600"}})));
}

TEST(DisplayCheck, XWithoutDisplayOrWithADeadOneIsRefused)
{
    const auto unset = missing_display_reason(fake_env({}));
    ASSERT_TRUE(unset);
    EXPECT_EQ(*unset, "DISPLAY is not set");
    EXPECT_TRUE(missing_display_reason(fake_env({{"QT_QPA_PLATFORM", "xcb"}})));
    // A display number nobody serves (the abstract and the file socket are both absent).
    const auto dead = missing_display_reason(fake_env({{"DISPLAY", ":987"}}));
    ASSERT_TRUE(dead);
    EXPECT_NE(dead->find(":987"), std::string::npos);
    EXPECT_TRUE(missing_display_reason(fake_env({{"DISPLAY", "garbage"}})));
}

TEST(DisplayCheck, WaylandSocketInTheRuntimeFolderAnswers)
{
    const test::temp_dir dir;
    const unique_fd server = listen_unix(dir / "wayland-7");
    EXPECT_FALSE(missing_display_reason(fake_env(
        {{"QT_QPA_PLATFORM", "wayland"},
         {"XDG_RUNTIME_DIR", dir.path()},
         {"WAYLAND_DISPLAY", "wayland-7"}})));
    EXPECT_TRUE(missing_display_reason(fake_env(
        {{"QT_QPA_PLATFORM", "wayland"},
         {"XDG_RUNTIME_DIR", dir.path()},
         {"WAYLAND_DISPLAY", "wayland-8"}})));
}

} // namespace
} // namespace torrent
