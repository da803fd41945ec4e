#pragma once

#include <span>
#include <string_view>

namespace zorvik::cli
{

// Each command gets the arguments after its name and returns the process exit status.
using command_fn = int (*)(std::span<char* const> args);

struct command
{
    std::string_view name;
    std::string_view usage;
    std::string_view summary;
    command_fn run;
};

} // namespace zorvik::cli
