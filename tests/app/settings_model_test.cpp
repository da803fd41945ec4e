#include "app/settings_model.h"

#include <limits>

#include <gtest/gtest.h>

#include "fake_settings_host.h"

namespace torrent
{
namespace
{

using test::fake_settings_host;

settings_form typed(std::string tasks, std::string connections)
{
    settings_form form;
    form.max_tasks = std::move(tasks);
    form.max_connections = std::move(connections);
    form.refresh_ms = "1500";
    return form;
}

SettingsRecord read(const settings_form& form)
{
    SettingsRecord record;
    EXPECT_EQ(read_form(form, record), settings_read_result::read);
    return record;
}

TEST(SettingsSave, MaximumsAreCutToEightBitsThenKeptInRange)
{
    const struct
    {
        const char* typed;
        std::uint8_t tasks; // what is stored for that text as tasks
        std::uint8_t connections; // and as connections
    } cases[] = {
        {"12", 10, 12},
        {"3", 3, 64},
        {"10", 10, 10},
        {"0", 10, 64},
        {"", 10, 64}, // nothing typed reads as 0
        {"abc", 10, 64},
        {"9", 9, 64},
        {"300", 10, 44}, // 300 & 0xFF
        {"259", 3, 64}, // 259 & 0xFF = 3
        {"-1", 10, 255}, // 0xFF
        {"255", 10, 255},
        {"99999999999", 10, 255}, // saturates at INT32_MAX, whose low byte is 0xFF
    };

    for (const auto& c : cases)
    {
        const SettingsRecord record = read(typed(c.typed, c.typed));
        EXPECT_EQ(record.max_tasks, c.tasks) << c.typed;
        EXPECT_EQ(record.max_connections, c.connections) << c.typed;
    }
}

TEST(SettingsSave, LimitsAndTimesGoToBytesAndMilliseconds)
{
    settings_form form = typed("10", "64");
    form.download_kb = "100";
    form.upload_kb = " 30kb"; // atoi: leading blanks, stops at the letters
    form.seeding_minutes = "45";
    form.refresh_ms = "201";
    SettingsRecord record = read(form);
    EXPECT_EQ(record.download_limit, 102400u);
    EXPECT_EQ(record.upload_limit, 30720u);
    EXPECT_EQ(record.seeding_time, 2700000u);
    EXPECT_EQ(record.refresh_period, 201u);

    // Values that would not fit the window's signed 32-bit fields do not wrap around.
    form.download_kb = "-5"; // no limit
    form.upload_kb = "4194305"; // x 1024 would wrap to 1024 in 32 bits
    form.seeding_minutes = "71583"; // x 60000 would wrap to 12704 ms
    record = read(form);
    EXPECT_EQ(record.download_limit, 0u);
    EXPECT_EQ(record.upload_limit, 2147482624u); // the largest whole-KB limit
    EXPECT_EQ(record.seeding_time, 35791u * 60000u);
    form.seeding_minutes = "-3";
    EXPECT_EQ(read(form).seeding_time, 0u); // ends seeding at once, as 0 does
}

TEST(SettingsSave, CheckBoxesSetTheirBitsAndKeepTheOthers)
{
    settings_form form = typed("10", "64");
    form.upnp = true;
    form.timed_minimise = false;
    form.confirm_delete = true;
    SettingsRecord record;
    record.flags = SettingsRecord::buttons_shown | SettingsRecord::timed_minimise;
    ASSERT_EQ(read_form(form, record), settings_read_result::read);
    EXPECT_EQ(
        record.flags, SettingsRecord::buttons_shown | SettingsRecord::upnp | SettingsRecord::confirm_delete);
}

TEST(SettingsSave, RefreshPeriodOutsideItsRangeIsRefusedAndTheOldOneKept)
{
    for (const char* bad : {"0", "-1", "", "x", "3600001", "99999999999"})
    {
        settings_form form = typed("3", "64");
        form.refresh_ms = bad;
        SettingsRecord record;
        record.refresh_period = 1500;
        EXPECT_EQ(read_form(form, record), settings_read_result::bad_refresh_period) << bad;
        EXPECT_EQ(record.refresh_period, 1500u) << bad;
    }
    for (const char* good : {"1", "3600000"})
    {
        settings_form form = typed("3", "64");
        form.refresh_ms = good;
        SettingsRecord record;
        EXPECT_EQ(read_form(form, record), settings_read_result::read) << good;
    }
}

TEST(SettingsFill, DialogShowsTheValuesInUseInItsUnits)
{
    settings_values v;
    v.max_tasks = 4;
    v.max_connections = 80;
    v.runtime.download_limit = 102400 + 1023; // shown in whole KB
    v.runtime.upload_limit = 30720;
    v.runtime.seeding_time = 1800000 + 59999;
    v.runtime.refresh_period = 1500;
    v.runtime.upnp_wanted = false;
    v.runtime.timed_minimise = true;
    v.runtime.confirm_delete = false;
    SettingsRecord record;
    record.flags = SettingsRecord::buttons_shown | SettingsRecord::upnp;
    FillSettings(record, v);
    EXPECT_EQ(record.flags, SettingsRecord::buttons_shown | SettingsRecord::timed_minimise);

    const settings_form form = form_of(record);
    EXPECT_EQ(form.max_tasks, "4");
    EXPECT_EQ(form.max_connections, "80");
    EXPECT_EQ(form.download_kb, "100");
    EXPECT_EQ(form.upload_kb, "30");
    EXPECT_EQ(form.seeding_minutes, "30");
    EXPECT_EQ(form.refresh_ms, "1500");
    EXPECT_FALSE(form.upnp);
    EXPECT_TRUE(form.timed_minimise);
    EXPECT_FALSE(form.confirm_delete);
}

TEST(SettingsFill, GeometryWritesTheButtonsBitAndTheRightEdge)
{
    window_geometry g;
    g.buttons_shown = false;
    g.user_width = 640;
    g.user_height = 300;
    g.single_line_width = 400;
    g.single_line_ext_width = 505;
    g.single_line_ext_height = 200;
    g.right = 1900;
    g.top = 5;
    SettingsRecord record;
    record.flags = SettingsRecord::buttons_shown | SettingsRecord::upnp;
    FillGeometry(record, g);
    EXPECT_EQ(record.flags, SettingsRecord::upnp);
    EXPECT_EQ(record.position_x, 1900);
    EXPECT_EQ(record.position_y, 5);
    EXPECT_EQ(record.user_width, 640);
    EXPECT_EQ(record.single_line_ext_height, 200);

    // The loader turns the right edge back into the left edge of a window of that width.
    EXPECT_EQ(stored_left_edge(record, 1920), 1900 - 505);
    record.position_x = 2600; // the screen shrank since
    EXPECT_EQ(stored_left_edge(record, 1920), 1920 - 505 - 70);
    // The same rule for the width the window opens in; extreme stored edges never wrap.
    EXPECT_EQ(left_edge_for(1900, 575, 1920), 1900 - 575);
    EXPECT_EQ(left_edge_for(1921, 575, 1920), 1920 - 575 - 70);
    EXPECT_EQ(
        left_edge_for(std::numeric_limits<std::int32_t>::min(), 575, 1920),
        std::numeric_limits<std::int32_t>::min());
}

TEST(SettingsCommit, StoresRemembersAndAppliesAtOnce)
{
    fake_settings_host host; // its store fails: nothing is shown, the values still apply
    SettingsRecord record = read(typed("3", "44"));
    record.download_limit = 102400;
    record.flags |= SettingsRecord::upnp;
    EXPECT_FALSE(commit_settings(record, host));
    ASSERT_TRUE(host.stored);
    EXPECT_EQ(*host.stored, record);
    ASSERT_TRUE(host.saved);
    EXPECT_EQ(host.saved->max_tasks, 3);
    EXPECT_EQ(host.saved->max_connections, 44);
    EXPECT_EQ(host.applied, 1);
    EXPECT_EQ(host.values.runtime.download_limit, 102400);
    // The maximums in use are not touched; a ticked UPnP box asks for a mapping now.
    EXPECT_EQ(host.values.max_tasks, default_max_tasks);
    ASSERT_EQ(host.upnp_calls.size(), 1u);
    EXPECT_EQ(host.upnp_calls[0], std::make_pair(true, true));
}

TEST(SettingsStored, RecordFromAFileNeverHandsTheWindowImpossibleValues)
{
    SettingsRecord record;
    record.download_limit = 0xFFFFEC00; // -5120 written by a signed writer
    record.upload_limit = 0x80000000;
    record.seeding_time = 0xFFFFFFFF;
    record.refresh_period = 0; // would reach the timer and the timed-minimise division
    settings_values v = settings_of(record);
    EXPECT_EQ(v.runtime.download_limit, 0);
    EXPECT_EQ(v.runtime.upload_limit, 0);
    EXPECT_EQ(v.runtime.seeding_time, 0);
    EXPECT_EQ(v.runtime.refresh_period, 1500u);
    record.refresh_period = 3600001;
    EXPECT_EQ(settings_of(record).runtime.refresh_period, 1500u);
    record.refresh_period = 700;
    EXPECT_EQ(settings_of(record).runtime.refresh_period, 700u);
}

TEST(SettingsStored, MaximumsReplaceStartValuesOnlyInTheirRanges)
{
    const struct
    {
        std::uint8_t stored_tasks, stored_connections, tasks, connections;
    } cases[] = {
        {3, 44, 3, 44},
        {0, 10, 8, 35}, // nothing usable: the -tc and -pc values stay
        {11, 11, 8, 11},
        {10, 255, 10, 255},
    };

    for (const auto& c : cases)
    {
        SettingsRecord record;
        record.max_tasks = c.stored_tasks;
        record.max_connections = c.stored_connections;
        std::uint8_t tasks = 8;
        std::uint8_t connections = 35;
        take_stored_maximums(record, tasks, connections);
        EXPECT_EQ(tasks, c.tasks);
        EXPECT_EQ(connections, c.connections);
    }
}

TEST(SettingsStored, ExitKeepsTheMaximumsOfASavedDialog)
{
    settings_values v;
    v.max_tasks = 10;
    v.max_connections = 64;
    window_geometry g;
    g.right = 1200;
    g.top = 40;
    SettingsRecord record = settings_at_exit(v, g, std::nullopt);
    EXPECT_EQ(record.max_tasks, 10);
    EXPECT_EQ(record.position_x, 1200);
    EXPECT_EQ(record.position_y, 40);
    record = settings_at_exit(v, g, saved_maximums{3, 44});
    EXPECT_EQ(record.max_tasks, 3);
    EXPECT_EQ(record.max_connections, 44);
    EXPECT_EQ(record.refresh_period, 1500u);
}

} // namespace
} // namespace torrent
