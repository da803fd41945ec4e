#include "ui/number_format.h"

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(FormatSize, StepsUnitsAndTruncatesThousandths)
{
    EXPECT_EQ(FormatSize(0), "  0.000B");
    EXPECT_EQ(FormatSize(1024), "1024.000B"); // exactly 1024 stays in bytes
    EXPECT_EQ(FormatSize(1536), "  1.500K");
    EXPECT_EQ(FormatSize(1048576), "1024.000K");
    EXPECT_EQ(FormatSize(1025), "  1.000K");
    EXPECT_EQ(FormatSize(30720), " 30.000K");
    EXPECT_EQ(FormatSize(std::uint64_t{5} << 30), "  5.000G");
}

TEST(FormatSize, HugeValuesStayInTheLastUnit)
{
    EXPECT_EQ(FormatSize(std::uint64_t{3} << 40), "  3.000T");
    EXPECT_EQ(FormatSize(std::uint64_t{1} << 50), "1024.000T");
    EXPECT_EQ(FormatSize(UINT64_MAX), "16777215.999T");
}

TEST(FormatPercent, HundredthsTruncatedAndFullWhenEqual)
{
    EXPECT_EQ(FormatPercent(5000000, 100000000), "4.99%");
    EXPECT_EQ(FormatPercent(1205, 1205), "100.00%");
    EXPECT_EQ(FormatPercent(60500000, 500000000), "12.09%");
    EXPECT_EQ(FormatPercent(0, 0), "100.00%");
    EXPECT_EQ(FormatPercent(0, 1000), "0.00%");
}

TEST(FormatDuration, PadsHoursAndCapsThem)
{
    EXPECT_EQ(FormatDuration(3725), " 1:02:05");
    EXPECT_EQ(FormatDuration(4000000), "999:06:40");
    EXPECT_EQ(FormatDuration(-1), "999:59:59");
    EXPECT_EQ(FormatDuration(0), " 0:00:00");
}

} // namespace
} // namespace torrent
