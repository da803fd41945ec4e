#include "ui/result_text.h"

#include <cerrno>
#include <set>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(ResultText, EveryCodeHasItsOwnText)
{
    std::set<std::string> seen;
    for (std::uint8_t code = 1; code < storage_fault_count; ++code)
    {
        const std::string text = result_text(result_domain::storage, code);
        EXPECT_EQ(text.find("result "), std::string::npos) << "no row for storage fault " << int{code};
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
    for (std::uint8_t code = 1; code <= 9; ++code)
    {
        const std::string text = result_text(static_cast<open_task_result>(code));
        EXPECT_EQ(text.find("result "), std::string::npos) << "no row for open result " << int{code};
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
    EXPECT_EQ(result_text(result_domain::storage, 200), "result 1.200");
}

TEST(ResultText, DetailsFillTheText)
{
    storage_error e;
    e.fault = storage_fault::folder_failed;
    e.path = "/data/T/sub";
    e.error_number = EACCES;
    EXPECT_EQ(result_text(e), "cannot create the folder '/data/T/sub': Permission denied");
    // An open result with the facts of its failure says those instead of the general text.
    EXPECT_EQ(result_text(open_task_result::cannot_open, e), result_text(e));
    EXPECT_EQ(
        result_text(open_task_result::cannot_open),
        "the files or the piece-state file cannot be opened or created");

    e = {};
    e.fault = storage_fault::too_many_files;
    e.needed = 3001;
    e.available = 1024;
    EXPECT_EQ(
        result_text(e),
        "the torrent needs 3001 open files, but the process may open only 1024 (see ulimit -n)");
    e = {};
    e.fault = storage_fault::file_shrunk;
    e.path = "/d/f.bin";
    e.needed = 33554432;
    e.available = 0;
    EXPECT_EQ(
        result_text(e),
        "'/d/f.bin' became shorter than the torrent says (0 of 33554432 bytes): another program changed it");
    e = {};
    e.fault = storage_fault::invalid;
    e.reason = "file 3: the path is 5000 components deep; at most 128 are allowed";
    EXPECT_EQ(result_text(e), "invalid torrent: " + e.reason);
    e.reason.clear();
    EXPECT_EQ(result_text(e), "invalid torrent");
}

TEST(ResultText, NetworkStatusesUseTheWindowsTexts)
{
    EXPECT_EQ(result_text(net_status::upnp_failed, {}), "UPnP失败!");
    EXPECT_EQ(
        result_text(net_status::upnp_created, {"203.0.113.7", 45790}),
        "UPnP创建成功!,203.0.113.7, port = 45790");
    EXPECT_EQ(result_text(set_port_result::bind_failed), "监听端口绑定失败!");
    EXPECT_EQ(result_text(open_task_result::no_network), "网络没有连接，不能开始任务!");
}

} // namespace
} // namespace torrent
