#include "app/file_association.h"

#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/data_folder.h"
#include "base/paths.h"
#include "support/process_env.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

using test::scoped_env;
using test::temp_dir;

constexpr std::string_view our_default = "application/x-bittorrent=zorvik.desktop;";

std::string with_ours(std::string_view mimeapps)
{
    return with_default_application(mimeapps, torrent_mime_type, desktop_entry_id);
}

// A test folder standing in for the user's XDG data and config folders.
struct xdg_sandbox
{
    temp_dir dir;
    scoped_env data{"XDG_DATA_HOME", dir / "data"};
    scoped_env config{"XDG_CONFIG_HOME", dir / "config"};
};

TEST(FileAssociation, FreshFoldersGetTheEntryAndTheDefault)
{
    const xdg_sandbox box;
    EXPECT_TRUE(RegisterTorrentType());
    const std::string entry = box.dir.read("data/applications/zorvik.desktop");
    EXPECT_NE(entry.find("\nExec=\"" + executable_path() + "\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nMimeType=application/x-bittorrent;\n"), std::string::npos);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0U);
    EXPECT_EQ(
        box.dir.read("config/mimeapps.list"), "[Default Applications]\n" + std::string(our_default) + "\n");

    // Every start repeats the registration; with nothing changed the files stay the same.
    EXPECT_TRUE(RegisterTorrentType());
    EXPECT_EQ(box.dir.read("data/applications/zorvik.desktop"), entry);
    EXPECT_EQ(
        box.dir.read("config/mimeapps.list"), "[Default Applications]\n" + std::string(our_default) + "\n");
}

TEST(FileAssociation, AnotherProgramsChoiceIsReplacedAndEveryOtherLineKept)
{
    const xdg_sandbox box;
    const std::string before = "# my settings\n"
                               "[Added Associations]\n"
                               "application/x-bittorrent=other.desktop;\n"
                               "\n"
                               "[Default Applications]\r\n"
                               "text/html=browser.desktop\r\n"
                               "Application/X-BitTorrent = other.desktop;\r\n"
                               "image/png=viewer.desktop;\n"
                               "[Removed Associations]\n"
                               "application/x-bittorrent=old.desktop;";
    box.dir.write("config/mimeapps.list", before);
    EXPECT_TRUE(RegisterTorrentType());
    const std::string after = "# my settings\n"
                              "[Added Associations]\n"
                              "application/x-bittorrent=other.desktop;\n"
                              "\n"
                              "[Default Applications]\r\n"
                              "text/html=browser.desktop\r\n"
                              "application/x-bittorrent=zorvik.desktop;\r\n"
                              "image/png=viewer.desktop;\n"
                              "[Removed Associations]\n"
                              "application/x-bittorrent=old.desktop;";
    EXPECT_EQ(box.dir.read("config/mimeapps.list"), after);
}

TEST(FileAssociation, DefaultIsAddedToTheSectionOrTheSectionAppended)
{
    EXPECT_EQ(with_ours(""), "[Default Applications]\n" + std::string(our_default) + "\n");
    EXPECT_EQ(
        with_ours("[Default Applications]\ntext/html=b.desktop\n"),
        "[Default Applications]\n" + std::string(our_default) + "\ntext/html=b.desktop\n");
    EXPECT_EQ(
        with_ours("[Added Associations]\ntext/html=b.desktop"),
        "[Added Associations]\ntext/html=b.desktop\n\n[Default Applications]\n" + std::string(our_default)
            + "\n");
    // Duplicate keys in the section all name us, so no later line overrides the choice.
    EXPECT_EQ(
        with_ours("[Default Applications]\napplication/x-bittorrent=a.desktop\n"
                  "application/x-bittorrent=b.desktop\n"),
        "[Default Applications]\n" + std::string(our_default) + "\n" + std::string(our_default) + "\n");
    // A key that only starts like ours is another type.
    EXPECT_EQ(
        with_ours("[Default Applications]\napplication/x-bittorrent-extra=a.desktop\n"),
        "[Default Applications]\n" + std::string(our_default)
            + "\napplication/x-bittorrent-extra=a.desktop\n");
}

TEST(FileAssociation, UnsetVariablesMeanTheFoldersUnderHome)
{
    const temp_dir home;
    const scoped_env home_env("HOME", home.path());
    const scoped_env data("XDG_DATA_HOME", std::nullopt);
    const scoped_env config("XDG_CONFIG_HOME", "relative/ignored");
    const auto paths = xdg_association_paths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->data_home, home / ".local/share");
    EXPECT_EQ(paths->config_home, home / ".config");
    EXPECT_TRUE(RegisterTorrentType());
    EXPECT_TRUE(is_regular_file(home / ".local/share/applications/zorvik.desktop"));
    EXPECT_TRUE(is_regular_file(home / ".config/mimeapps.list"));

    const scoped_env no_home("HOME", std::nullopt);
    EXPECT_FALSE(xdg_association_paths());
    EXPECT_FALSE(RegisterTorrentType());
}

TEST(FileAssociation, FailuresAreSilentAndTouchNothingElse)
{
    const temp_dir dir;
    dir.write("file", "x");
    {
        // The entry cannot be written: the user's mimeapps.list is not touched.
        const scoped_env data("XDG_DATA_HOME", dir / "file/data");
        const scoped_env config("XDG_CONFIG_HOME", dir / "config");
        dir.write(
            "config/mimeapps.list", "[Default Applications]\napplication/x-bittorrent=other.desktop;\n");
        EXPECT_FALSE(RegisterTorrentType());
        EXPECT_EQ(
            dir.read("config/mimeapps.list"),
            "[Default Applications]\napplication/x-bittorrent=other.desktop;\n");
    }
    {
        const scoped_env data("XDG_DATA_HOME", dir / "data");
        const scoped_env config("XDG_CONFIG_HOME", dir / "file/config");
        EXPECT_FALSE(RegisterTorrentType());
        EXPECT_TRUE(is_regular_file(dir / "data/applications/zorvik.desktop"));
    }
    {
        // A mimeapps.list that cannot be read is not replaced by one without its lines.
        const scoped_env data("XDG_DATA_HOME", dir / "data");
        const scoped_env config("XDG_CONFIG_HOME", dir / "config2");
        ASSERT_TRUE(make_folders(dir / "config2/mimeapps.list"));
        EXPECT_FALSE(RegisterTorrentType());
        EXPECT_TRUE(is_folder(dir / "config2/mimeapps.list"));
    }
    EXPECT_FALSE(register_torrent_type({dir / "d", dir / "c"}, "relative/zorvik"));
    EXPECT_FALSE(is_folder(dir / "d"));
}

TEST(FileAssociation, LinkedMimeappsListIsUpdatedWhereItLives)
{
    const xdg_sandbox box;
    box.dir.write("dotfiles/mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
    ASSERT_TRUE(make_folders(box.dir / "config"));
    ASSERT_EQ(
        ::symlink((box.dir / "dotfiles/mimeapps.list").c_str(), (box.dir / "config/mimeapps.list").c_str()),
        0);
    EXPECT_TRUE(RegisterTorrentType());
    EXPECT_EQ(
        box.dir.read("dotfiles/mimeapps.list"),
        "[Default Applications]\n" + std::string(our_default) + "\ntext/html=b.desktop\n");
    char target[512] = {};
    EXPECT_GT(::readlink((box.dir / "config/mimeapps.list").c_str(), target, sizeof target - 1), 0);
}

TEST(FileAssociation, ExecLineQuotesThePath)
{
    const auto exec_of = [](std::string_view exe)
    {
        const std::optional<std::string> text = desktop_entry_text(exe);
        if (!text)
            return std::string("(none)");
        const auto at = text->find("Exec=");
        return text->substr(at, text->find('\n', at) - at);
    };
    EXPECT_EQ(exec_of("/opt/zorvik/zorvik"), "Exec=\"/opt/zorvik/zorvik\" %f");
    EXPECT_EQ(exec_of("/opt/my apps/zorvik"), "Exec=\"/opt/my apps/zorvik\" %f");
    // Characters with a meaning inside quotes or to the desktop are escaped.
    EXPECT_EQ(exec_of("/opt/a\"b$c`d\\e%f/z"), R"(Exec="/opt/a\\"b\\$c\\`d\\\\e%%f/z" %f)");
    EXPECT_EQ(exec_of("/opt/line\nbreak"), "(none)");
    EXPECT_EQ(exec_of("zorvik"), "(none)");
    EXPECT_EQ(exec_of(""), "(none)");
}

} // namespace
} // namespace torrent
