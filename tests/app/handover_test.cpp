#include "app/handover.h"

#include <chrono>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "support/temp_dir.h"

namespace torrent
{
namespace
{

TEST(SocketFolder, OnlyAFolderOfOursWithMode0700IsUsed)
{
    const test::temp_dir dir;
    const socket_folder made = prepare_socket_folder_in(dir.path(), "zorvik");
    ASSERT_FALSE(made.path.empty()) << made.error;

    struct stat st
    {
    };

    ASSERT_EQ(::stat((dir / "zorvik").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(made.path, dir / "zorvik/");

    ASSERT_EQ(::mkdir((dir / "open").c_str(), 0755), 0);
    ::chmod((dir / "open").c_str(), 0755);
    const socket_folder open = prepare_socket_folder_in(dir.path(), "open");
    EXPECT_TRUE(open.path.empty());
    EXPECT_NE(open.error.find("0755"), std::string::npos) << open.error;

    ASSERT_EQ(::symlink((dir / "zorvik").c_str(), (dir / "link").c_str()), 0);
    EXPECT_TRUE(prepare_socket_folder_in(dir.path(), "link").path.empty());

    if (::getuid() == 0)
    {
        // Another user's folder (only root can make one here).
        ASSERT_EQ(::mkdir((dir / "theirs").c_str(), 0700), 0);
        ASSERT_EQ(::chown((dir / "theirs").c_str(), 4242, 4242), 0);
        const socket_folder theirs = prepare_socket_folder_in(dir.path(), "theirs");
        EXPECT_TRUE(theirs.path.empty());
        EXPECT_NE(theirs.error.find("another user"), std::string::npos);
    }
}

TEST(Handover, LineIsAcknowledgedThenShowFollows)
{
    const test::temp_dir dir;
    const std::string folder = prepare_socket_folder_in(dir.path(), "s").path;
    handover_listener listener = handover_listener::open(folder);
    ASSERT_TRUE(listener.valid());
    EXPECT_EQ(listener.path(), folder + "copy-" + std::to_string(::getpid()));

    std::vector<handover_reader::frame> frames;
    std::thread running(
        [&]
        {
            unique_fd conn;
            for (int i = 0; i < 500 && !conn; ++i)
            {
                conn = listener.accept_same_user();
                if (!conn)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_TRUE(conn);
            handover_reader reader;
            char buf[256];
            while (frames.size() < 2)
            {
                const ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
                if (n < 0 && errno == EAGAIN)
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                if (n <= 0)
                    break;
                ASSERT_TRUE(reader.feed(std::string_view(buf, static_cast<std::size_t>(n))));
                while (auto f = reader.next())
                {
                    frames.push_back(*f);
                    if (f->type == handover::line_frame)
                        ::send(conn.get(), &handover::acknowledgement, 1, MSG_NOSIGNAL);
                }
            }
        });
    const unique_fd fd = connect_running_copy(folder);
    ASSERT_TRUE(fd);
    EXPECT_EQ(hand_over_line(fd.get(), "\"/a b/x.torrent\""), handover_status::delivered);
    running.join();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, handover::line_frame);
    EXPECT_EQ(frames[0].text, "\"/a b/x.torrent\"");
    EXPECT_EQ(frames[1].type, handover::show_frame);
}

TEST(Handover, ACopyThatDoesNotAnswerTimesOut)
{
    const test::temp_dir dir;
    const std::string folder = prepare_socket_folder_in(dir.path(), "s").path;
    const handover_listener listener = handover_listener::open(folder);
    const unique_fd fd = connect_running_copy(folder);
    ASSERT_TRUE(fd);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hand_over_line(fd.get(), "-set -us20", 300), handover_status::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Handover, SocketsOfEndedCopiesAreRemovedAndNoCopyIsFound)
{
    const test::temp_dir dir;
    const std::string folder = prepare_socket_folder_in(dir.path(), "s").path;
    {
        // A copy that ended without removing its socket file.
        handover_listener gone = handover_listener::open(folder);
        ASSERT_TRUE(gone.valid());
        // A second name for its socket file stays behind when the object goes.
        ASSERT_EQ(::link(gone.path().c_str(), (folder + "copy-1").c_str()), 0);
    }
    ASSERT_EQ(::access((folder + "copy-1").c_str(), F_OK), 0);
    EXPECT_FALSE(connect_running_copy(folder));
    EXPECT_NE(::access((folder + "copy-1").c_str(), F_OK), 0) << "the dead socket file stayed";
}

TEST(HandoverReader, FramesSplitAnywhereAndOverlongFramesAreRefused)
{
    handover_reader r;
    EXPECT_TRUE(r.feed(std::string_view("Lab", 3)));
    EXPECT_FALSE(r.next());
    EXPECT_TRUE(r.feed(std::string_view("c\0S\0L", 5)));
    auto first = r.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->type, 'L');
    EXPECT_EQ(first->text, "abc");
    auto second = r.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->type, 'S');
    EXPECT_FALSE(r.next());
    handover_reader big;
    EXPECT_FALSE(big.feed(std::string(handover::max_frame + 2, 'x')));
}

} // namespace
} // namespace torrent
