#include "ui/number_format.h"

#include <cstdio>

namespace torrent
{

std::string FormatSize(std::uint64_t value)
{
    constexpr char units[] = "BKMGT";
    constexpr std::size_t last_unit = sizeof units - 2;
    std::size_t unit = 0;
    std::uint64_t scale = 1;
    std::uint64_t whole = value;
    // Step up while the value is above 1024 or would not fit 32 bits; T is the last unit.
    while ((whole > 1024 || whole > UINT32_MAX) && unit < last_unit)
    {
        whole /= 1024;
        scale *= 1024;
        ++unit;
    }
    const std::uint64_t thousandths = (value % scale) * 1000 / scale;
    char buf[48];
    std::snprintf(
        buf,
        sizeof buf,
        "%3llu.%03llu%c",
        static_cast<unsigned long long>(whole),
        static_cast<unsigned long long>(thousandths),
        units[unit]);
    return buf;
}

std::string FormatPercent(std::uint64_t part, std::uint64_t whole)
{
    const std::uint64_t e = part == whole ? 10000 : part / (whole / 10000 + 1);
    char buf[40];
    std::snprintf(
        buf,
        sizeof buf,
        "%llu.%02llu%%",
        static_cast<unsigned long long>(e / 100),
        static_cast<unsigned long long>(e % 100));
    return buf;
}

std::string FormatDuration(std::int64_t seconds)
{
    long long hours = 999;
    long long minutes = 59;
    long long secs = 59;
    if (seconds >= 0)
    {
        hours = seconds / 3600;
        if (hours > 999)
            hours = 999;
        minutes = seconds / 60 % 60;
        secs = seconds % 60;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2lld:%02lld:%02lld", hours, minutes, secs);
    return buf;
}

} // namespace torrent
