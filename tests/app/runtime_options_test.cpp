#include "app/runtime_options.h"

#include <gtest/gtest.h>

#include "ui/number_format.h"
#include "ui/ui_text.h"

namespace torrent
{
namespace
{

std::string line_of(std::size_t label, std::string_view value)
{
    return std::string(ui_text(label)) + std::string(value) + "\r\n";
}

runtime_options_state network_up_with_features_off()
{
    runtime_options_state state;
    state.network_up = true;
    state.values.download_limit = 100 * 1024;
    state.values.upnp_wanted = false;
    state.values.timed_minimise = false;
    state.values.confirm_delete = false;
    return state;
}

TEST(ApplyRuntimeOptions, BeforeTheNetworkIsUpTheLineOnlyWaits)
{
    runtime_options_state state;
    const runtime_values before = state.values;
    const runtime_apply_outcome first = ApplyRuntimeOptions(state, command_line("-us45 -set"), true);
    EXPECT_FALSE(first.applied);
    EXPECT_TRUE(first.confirmation.empty());
    EXPECT_EQ(state.values, before);
    EXPECT_EQ(state.pending.text(), "-us45 -set");
    // A later line replaces the pending one.
    (void)ApplyRuntimeOptions(state, command_line("-us7 -nm"), false);
    EXPECT_EQ(state.pending.text(), "-us7 -nm");

    const runtime_apply_outcome up = apply_pending_runtime_options(state);
    EXPECT_TRUE(up.applied);
    EXPECT_TRUE(up.confirmation.empty());
    EXPECT_TRUE(state.network_up);
    EXPECT_TRUE(state.pending.empty());
    EXPECT_EQ(state.values.upload_limit, 7 * 1024);
    EXPECT_EQ(state.values.download_limit, 0); // no -ds: no download limit after the first application
    EXPECT_FALSE(state.values.timed_minimise);
    EXPECT_TRUE(up.upnp_requested);
    EXPECT_FALSE(up.upnp_start_now); // at start-up the mapping starts with the network
}

TEST(ApplyRuntimeOptions, AnEmptyPendingLineStillResetsTheDownloadLimitAndFlags)
{
    runtime_options_state state = network_up_with_features_off();
    state.network_up = false;
    (void)ApplyRuntimeOptions(state, command_line(""), false);
    (void)apply_pending_runtime_options(state);
    EXPECT_EQ(state.values.upload_limit, 30720);
    EXPECT_EQ(state.values.download_limit, 0);
    EXPECT_TRUE(state.values.upnp_wanted);
    EXPECT_TRUE(state.values.timed_minimise);
    EXPECT_TRUE(state.values.confirm_delete);
    EXPECT_EQ(state.values.seeding_time, 1800000);
    EXPECT_EQ(state.values.refresh_period, 1500U);
}

TEST(ApplyRuntimeOptions, SetWithUploadOnlyConfirmsUploadAndTheThreeFlags)
{
    runtime_options_state state = network_up_with_features_off();
    state.values.seeding_time = 120000;
    const runtime_apply_outcome out = ApplyRuntimeOptions(state, command_line("-us45 -set"), true);
    EXPECT_EQ(state.values.upload_limit, 46080);
    EXPECT_EQ(state.values.download_limit, 0);
    EXPECT_EQ(state.values.seeding_time, 120000); // -ut absent: unchanged
    EXPECT_TRUE(state.values.upnp_wanted);
    EXPECT_TRUE(state.values.timed_minimise);
    EXPECT_TRUE(state.values.confirm_delete);
    EXPECT_TRUE(out.upnp_requested);
    EXPECT_TRUE(out.upnp_start_now); // a -set hand-over starts a new mapping
    const std::string expected = std::string(ui_text(uitext::runtime_options_reset))
        + line_of(uitext::max_upload_speed_is, " 45.000K") + line_of(uitext::upnp_reset, "是")
        + line_of(uitext::timed_minimise_allowed, "是") + line_of(uitext::delete_prompt_allowed, "是");
    EXPECT_EQ(out.confirmation, expected);
    EXPECT_EQ(
        out.confirmation.substr(0, ui_text(uitext::runtime_options_reset).size()),
        "成功地重新设置了以下的运行时参数：\r");
}

TEST(ApplyRuntimeOptions, EveryOptionAddsItsLineInOrder)
{
    runtime_options_state state;
    state.network_up = true;
    const runtime_apply_outcome out =
        ApplyRuntimeOptions(state, command_line("-set -MSEL201 -np -nm -noupnp -ut60 -ds100 -us0"), true);
    EXPECT_EQ(state.values.upload_limit, 0);
    EXPECT_EQ(state.values.download_limit, 102400);
    EXPECT_EQ(state.values.seeding_time, 3600000);
    EXPECT_FALSE(state.values.upnp_wanted);
    EXPECT_FALSE(state.values.timed_minimise);
    EXPECT_FALSE(state.values.confirm_delete);
    EXPECT_EQ(state.values.refresh_period, 201U);
    EXPECT_FALSE(out.upnp_requested);
    const std::string expected = "成功地重新设置了以下的运行时参数：\r"
                                 "最大上传速度=  0.000B\r\n"
                                 "最大下载速度=100.000K\r\n"
                                 "上传超时时间(单位:分钟)=60\r\n"
                                 "重新设置UPnP端口映射:否\r\n"
                                 "允许定时最小化窗口:否\r\n"
                                 "允许删除任务时提示:否\r\n"
                                 "显示更新时间(单位:毫秒)=201\r\n";
    EXPECT_EQ(out.confirmation, expected);
}

TEST(ApplyRuntimeOptions, UploadLimitOutsideItsRangeMeansNoLimit)
{
    runtime_options_state state;
    state.network_up = true;
    const auto upload_for = [&](const char* line)
    {
        (void)ApplyRuntimeOptions(state, command_line(line), false);
        return state.values.upload_limit;
    };
    EXPECT_EQ(upload_for("-us30"), 30720);
    EXPECT_EQ(upload_for("-us1"), 1024);
    EXPECT_EQ(upload_for("-us1000000"), 1024000000);
    EXPECT_EQ(upload_for("-us0"), 0);
    EXPECT_EQ(upload_for("-us1000001"), 0);
    EXPECT_EQ(upload_for("-us-4"), 0);
    EXPECT_EQ(upload_for("-us 30"), 0); // blank: empty value
    state.values.upload_limit = 5000;
    EXPECT_EQ(upload_for("-nm"), 5000); // absent: unchanged
}

TEST(ApplyRuntimeOptions, DownloadLimitAndSeedingTimeStayWithin32Bits)
{
    runtime_options_state state;
    state.network_up = true;
    runtime_apply_outcome out = ApplyRuntimeOptions(state, command_line("-ds-5 -ut-3"), true);
    EXPECT_EQ(state.values.download_limit, 0);
    EXPECT_EQ(state.values.seeding_time, 0);
    EXPECT_NE(out.confirmation.find(line_of(uitext::max_download_speed_is, "  0.000B")), std::string::npos);
    EXPECT_NE(out.confirmation.find(line_of(uitext::upload_timeout_minutes_is, "0")), std::string::npos);

    out = ApplyRuntimeOptions(state, command_line("-ds3000000 -ut50000"), true);
    EXPECT_EQ(state.values.download_limit, 2097151 * 1024);
    EXPECT_EQ(state.values.seeding_time, 35791 * 60000);
    EXPECT_NE(
        out.confirmation.find(line_of(uitext::max_download_speed_is, FormatSize(2097151ULL * 1024))),
        std::string::npos);
    EXPECT_NE(out.confirmation.find(line_of(uitext::upload_timeout_minutes_is, "35791")), std::string::npos);
}

TEST(ApplyRuntimeOptions, RefreshPeriodMustExceed200)
{
    runtime_options_state state;
    state.network_up = true;
    runtime_apply_outcome out = ApplyRuntimeOptions(state, command_line("-set -msel200"), true);
    EXPECT_EQ(state.values.refresh_period, 1500U);
    EXPECT_EQ(out.confirmation.find(ui_text(uitext::refresh_period_ms_is)), std::string::npos);
    out = ApplyRuntimeOptions(state, command_line("-set -msel-900"), true);
    EXPECT_EQ(state.values.refresh_period, 1500U);
    out = ApplyRuntimeOptions(state, command_line("-set -msel201"), true);
    EXPECT_EQ(state.values.refresh_period, 201U);
    EXPECT_NE(out.confirmation.find(line_of(uitext::refresh_period_ms_is, "201")), std::string::npos);
}

TEST(ApplyRuntimeOptions, ConfirmationUsesTheInstalledTexts)
{
    ui_text_table english;
    english.set(uitext::runtime_options_reset, "Reset:\r");
    english.set(uitext::upnp_reset, "UPnP: ");
    english.set(uitext::yes, "yes");
    install_ui_text(english);
    runtime_options_state state;
    state.network_up = true;
    const runtime_apply_outcome out = ApplyRuntimeOptions(state, command_line("-set"), true);
    install_ui_text(ui_text_table());
    EXPECT_EQ(out.confirmation.rfind("Reset:\rUPnP: yes\r\n", 0), 0U) << out.confirmation;
}

} // namespace
} // namespace torrent
