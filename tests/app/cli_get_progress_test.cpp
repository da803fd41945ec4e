#include "app/cli_get_progress.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "engine/task_view.h"

namespace zorvik::cli
{
namespace
{

// Everything written to a temporary stream.
class captured_stream
{
public:
    captured_stream()
        : m_file(std::tmpfile())
    {
    }

    ~captured_stream() { std::fclose(m_file); }

    captured_stream(const captured_stream&) = delete;
    captured_stream& operator=(const captured_stream&) = delete;

    [[nodiscard]] std::FILE* get() const noexcept { return m_file; }

    [[nodiscard]] std::string text() const
    {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string out;
        char buf[256];
        while (const std::size_t n = std::fread(buf, 1, sizeof buf, m_file))
            out.append(buf, n);
        return out;
    }

private:
    std::FILE* m_file;
};

TEST(GetProgress, TimeLeftIsUnknownWithoutRateOrBeyond32Bits)
{
    EXPECT_EQ(seconds_left(1000, 0), -1);
    EXPECT_EQ(seconds_left(1000, 10), 100);
    EXPECT_EQ(seconds_left(0, 10), 0);
    EXPECT_EQ(seconds_left(UINT64_MAX, 1), -1);
    EXPECT_EQ(seconds_left(std::uint64_t{UINT32_MAX}, 1), std::int64_t{UINT32_MAX});
}

TEST(GetProgress, CutKeepsWholeUtf8Characters)
{
    EXPECT_EQ(cut_utf8("abc", 5), "abc");
    EXPECT_EQ(cut_utf8("abcdef", 3), "abc");
    // "完成" is two 3-byte characters: 4 bytes hold only the first.
    EXPECT_EQ(cut_utf8("完成", 4), "完");
    EXPECT_EQ(cut_utf8("完成", 3), "完");
    EXPECT_EQ(cut_utf8("完成", 2), "");
}

TEST(GetProgress, LineShowsEveryFigureWithTheWindowFormats)
{
    torrent::TaskView v;
    v.name = "payload.bin";
    v.total = 40960000;
    v.held = 10240000;
    v.download_rate = 1536;
    v.upload_rate = 0;
    v.peer_count = 3;
    v.state = torrent::view_state::downloading;
    const std::string line = progress_line(v, 2);
    EXPECT_EQ(
        line,
        "payload.bin  完成度 24.99%  下载速度   1.500K/s  上传速度   0.000B/s  连接数 3  剩余时间  0:00:02  "
        "[downloading]");

    v.state = torrent::view_state::checking;
    EXPECT_NE(progress_line(v, -1).find("999:59:59  [checking]"), std::string::npos);
    v.state = torrent::view_state::uploading;
    v.held = v.total;
    EXPECT_NE(progress_line(v, 0).find("完成度 100.00%"), std::string::npos);
    EXPECT_NE(progress_line(v, 0).find("[seeding]"), std::string::npos);

    v.name = std::string(40, 'n');
    EXPECT_EQ(progress_line(v, 0).substr(0, 34), std::string(32, 'n') + "  ");
}

TEST(GetProgress, PlainOutputKeepsEveryLine)
{
    captured_stream out;
    captured_stream err;
    progress_printer p(out.get(), err.get(), false);
    const std::vector<std::string> first{"a 1", "b 1"};
    const std::vector<std::string> second{"a 2", "b 2"};
    p.progress(first);
    p.message("status");
    p.progress(second);
    p.error("bad");
    EXPECT_EQ(out.text(), "a 1\nb 1\nstatus\na 2\nb 2\n");
    EXPECT_EQ(err.text(), "bad\n");
}

TEST(GetProgress, TerminalRedrawsProgressInPlaceAndKeepsStatusLines)
{
    captured_stream out;
    captured_stream err;
    progress_printer p(out.get(), err.get(), true);
    const std::vector<std::string> first{"a 1", "b 1"};
    const std::vector<std::string> second{"a 2"};
    p.progress(first);
    p.progress(second); // two lines up, cleared, one line drawn
    p.message("status"); // the progress line comes down, the status stays, the line returns
    p.error("bad");
    // Lines are drawn with automatic wrap off, so each takes exactly one row.
    EXPECT_EQ(
        out.text(),
        "\033[?7la 1\nb 1\n\033[?7h"
        "\033[2F\033[J\033[?7la 2\n\033[?7h"
        "\033[1F\033[Jstatus\n\033[?7la 2\n\033[?7h"
        "\033[1F\033[J\033[?7la 2\n\033[?7h");
    EXPECT_EQ(err.text(), "bad\n");
}

} // namespace
} // namespace zorvik::cli
