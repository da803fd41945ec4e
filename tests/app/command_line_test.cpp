#include "app/command_line.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

command_line from_args(std::vector<std::string> args)
{
    return command_line::from_arguments(std::span<const std::string>(args));
}

TEST(CommandLine, ArgumentsAreJoinedAndThoseWithBlanksQuoted)
{
    EXPECT_EQ(
        from_args({"-tc8", "/home/Me/My Files/a.torrent"}).text(), "-tc8 \"/home/Me/My Files/a.torrent\"");
    EXPECT_EQ(from_args({"/tmp/a\tb.torrent"}).text(), "\"/tmp/a\tb.torrent\"");
    EXPECT_EQ(from_args({}).text(), "");
    EXPECT_TRUE(from_args({}).empty());

    std::string a0 = "-us20";
    std::string a1 = "-SET";
    char* argv[] = {a0.data(), a1.data()};
    EXPECT_EQ(command_line::from_arguments(std::span<char* const>(argv)).text(), "-us20 -SET");
}

TEST(CommandLine, OnlyLeadingBlanksAreRemoved)
{
    EXPECT_EQ(command_line("   -tc5 ").text(), "-tc5 ");
    EXPECT_EQ(command_line("\t-tc5").text(), "\t-tc5");
    EXPECT_FALSE(command_line("\t-tc5").begins_with_option());
    EXPECT_TRUE(command_line("  -tc5").begins_with_option());
    // An empty first argument leaves a blank in front; it goes like any other.
    EXPECT_EQ(from_args({"", "-nm"}).text(), "-nm");
}

TEST(CommandLine, OptionsIgnoreCaseWhilePathsKeepIt)
{
    const command_line line("-TC8 -Pc35 /Data/Movies/Film.torrent");
    EXPECT_EQ(ReadIntOption(line, "-tc").value, 8);
    EXPECT_EQ(ReadIntOption(line, "-pc").value, 35);
    EXPECT_TRUE(line.has("-PC"));
    EXPECT_EQ(line.text(), "-TC8 -Pc35 /Data/Movies/Film.torrent");
    EXPECT_EQ(line.folded(), "-tc8 -pc35 /data/movies/film.torrent");
    // Only ASCII letters fold; other bytes stay as they are.
    EXPECT_EQ(command_line("Ä-SET").folded(), "Ä-set");
}

TEST(CommandLine, LookupIsBySubstringAndTheFirstOccurrenceCounts)
{
    EXPECT_EQ(ReadIntOption(command_line("-us10 -us20"), "-us").value, 10);
    // No tokenising: a name inside a path is an option too, with whatever follows it.
    const command_line path("/srv/my-usb/x.torrent");
    EXPECT_TRUE(path.has("-us"));
    const int_option us = ReadIntOption(path, "-us");
    EXPECT_TRUE(us.found);
    EXPECT_EQ(us.value, 0);
    EXPECT_TRUE(command_line("/home/me/data-set/a.torrent").has("-set"));
    // A longer option does not hide a shorter one that it contains, and the other way round.
    EXPECT_FALSE(command_line("-noupnp").has("-np"));
    EXPECT_FALSE(command_line("-noupnp").has("-nm"));
    EXPECT_FALSE(command_line("-x").has(""));
}

TEST(ReadIntOption, ValueMustFollowTheNameDirectly)
{
    EXPECT_EQ(ReadIntOption(command_line("-tc8"), "-tc").value, 8);
    const int_option blank = ReadIntOption(command_line("-tc 8"), "-tc");
    EXPECT_TRUE(blank.found); // an empty value converts to 0
    EXPECT_EQ(blank.value, 0);
    EXPECT_FALSE(ReadIntOption(command_line("-nm -tc"), "-tc").found); // name ends the line
    EXPECT_FALSE(ReadIntOption(command_line("-nm"), "-tc").found);
    EXPECT_EQ(ReadIntOption(command_line("-msel250x -nm"), "-msel").value, 250);
    EXPECT_EQ(ReadIntOption(command_line("-msel250-nm5"), "-msel").value, 250);
}

TEST(ReadIntOption, ConvertsWithTheAtoiRule)
{
    EXPECT_EQ(atoi_rule("+5"), 5);
    EXPECT_EQ(atoi_rule("-5"), -5);
    EXPECT_EQ(atoi_rule("\t 7"), 7);
    EXPECT_EQ(atoi_rule("12ab3"), 12);
    EXPECT_EQ(atoi_rule("abc"), 0);
    EXPECT_EQ(atoi_rule("-"), 0);
    EXPECT_EQ(atoi_rule(""), 0);
    // Beyond 32 bits the value stops at the limit instead of wrapping.
    EXPECT_EQ(atoi_rule("2147483647"), INT32_MAX);
    EXPECT_EQ(atoi_rule("2147483648"), INT32_MAX);
    EXPECT_EQ(atoi_rule("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(atoi_rule("-2147483648"), INT32_MIN);
    EXPECT_EQ(atoi_rule("-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(ReadIntOption(command_line("-ut\t9"), "-ut").value, 9);
}

} // namespace
} // namespace torrent
