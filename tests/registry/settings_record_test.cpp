#include "registry/settings_record.h"

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(SettingsRecordBytes, FieldsAreLittleEndianBackToBack)
{
    SettingsRecord s;
    s.max_tasks = 0x0A;
    s.max_connections = 0x40;
    s.flags = 0x0105;
    s.reserved = 0xDEADBEEF;
    s.download_limit = 0x11223344;
    s.upload_limit = 30720;
    s.seeding_time = 1800000;
    s.refresh_period = 1500;
    s.user_width = 600;
    s.user_height = 300;
    s.single_line_width = 380;
    s.single_line_ext_width = 505;
    s.single_line_ext_height = 200;
    s.position_x = -1; // a right edge left of the screen (two monitors)
    s.position_y = 0x7FFFFFFF;

    const settings_bytes b = encode_settings(s);
    const auto u32 = [&b](std::size_t at)
    {
        return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16
            | std::uint32_t{b[at + 3]} << 24;
    };
    EXPECT_EQ(b[0], 0x0A);
    EXPECT_EQ(b[1], 0x40);
    EXPECT_EQ(b[2], 0x05);
    EXPECT_EQ(b[3], 0x01);
    EXPECT_EQ(u32(4), 0xDEADBEEFu);
    EXPECT_EQ(b[8], 0x44); // least significant byte first
    EXPECT_EQ(u32(8), 0x11223344u);
    EXPECT_EQ(u32(12), 30720u);
    EXPECT_EQ(u32(16), 1800000u);
    EXPECT_EQ(u32(20), 1500u);
    EXPECT_EQ(u32(24), 600u);
    EXPECT_EQ(u32(28), 300u);
    EXPECT_EQ(u32(32), 380u);
    EXPECT_EQ(u32(36), 505u);
    EXPECT_EQ(u32(40), 200u);
    EXPECT_EQ(u32(44), 0xFFFFFFFFu);
    EXPECT_EQ(u32(48), 0x7FFFFFFFu);

    EXPECT_EQ(decode_settings(b), s);
}

} // namespace
} // namespace torrent
