#include "app/cli_get_options.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <string_view>

namespace zorvik::cli
{
namespace
{

// The options get takes: flags are whole words, the others carry their value attached.
constexpr std::array<std::string_view, 5> value_options = {"-port", "-pc", "-us", "-ds", "-ut"};
constexpr std::string_view upnp_flag = "-noupnp";
constexpr std::string_view peer_option = "--peer";

std::string folded(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ends_with_torrent(std::string_view path)
{
    constexpr std::string_view suffix = ".torrent";
    return path.size() > suffix.size() && folded(path.substr(path.size() - suffix.size())) == suffix;
}

bool all_digits(std::string_view text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value option a word starts with ("-port" before "-pc": neither is a prefix of the
// other, but the longest name is tried first all the same), or "".
std::string_view value_option_of(const std::string& word)
{
    for (const std::string_view name : value_options)
    {
        if (word.compare(0, name.size(), name) == 0)
            return name;
    }
    return {};
}

get_arguments refuse(std::string text)
{
    get_arguments out;
    out.error = std::move(text);
    return out;
}

} // namespace

bool parse_peer_address(const std::string& text, peer_address& out)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string host = text.substr(0, colon);
    const std::string_view port_text = std::string_view(text).substr(colon + 1);
    if (!all_digits(port_text) || port_text.size() > 5)
        return false;
    const unsigned long port = std::stoul(std::string(port_text));
    if (port == 0 || port > 65535)
        return false;
    in_addr addr{};
    if (::inet_pton(AF_INET, host.c_str(), &addr) != 1)
        return false;
    out.ip = ntohl(addr.s_addr);
    out.port = static_cast<std::uint16_t>(port);
    return true;
}

get_arguments parse_get_arguments(std::span<const std::string> args, const torrent::random_source& random)
{
    get_arguments result;
    get_options& opt = result.options;
    std::vector<std::string> option_words;
    bool have_folder = false;

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const std::string word = folded(arg);
        if (word == "--help" || word == "-h")
        {
            result.help = true;
            return result;
        }
        if (word == peer_option || word.compare(0, peer_option.size() + 1, "--peer=") == 0)
        {
            std::string value;
            if (word == peer_option)
            {
                if (i + 1 >= args.size())
                    return refuse("--peer needs an address, as in --peer 127.0.0.1:6881");
                value = args[++i];
            }
            else
            {
                value = arg.substr(peer_option.size() + 1);
            }
            peer_address peer;
            if (!parse_peer_address(value, peer))
                return refuse("not an IPv4 address and port: '" + value + "' (as in 127.0.0.1:6881)");
            opt.peers.push_back(peer);
            continue;
        }
        if (arg.size() > 1 && arg.front() == '-')
        {
            const std::string_view name = value_option_of(word);
            if (word == upnp_flag)
            {
                option_words.push_back(arg);
            }
            else if (!name.empty())
            {
                // Without its value the option would read as 0 or not at all, and a value
                // written apart would become the save folder: both are refused.
                if (word.size() == name.size())
                {
                    const std::string next = i + 1 < args.size() ? args[i + 1] : "30";
                    return refuse(
                        std::string(name) + " takes its value attached, as in " + std::string(name)
                        + (all_digits(next) ? next : "30"));
                }
                option_words.push_back(arg);
            }
            else
            {
                return refuse("unknown option '" + arg + "'");
            }
            continue;
        }
        if (ends_with_torrent(arg))
        {
            opt.torrents.push_back(arg);
            continue;
        }
        if (have_folder)
            return refuse("more than one save folder: '" + opt.save_folder + "' and '" + arg + "'");
        opt.save_folder = arg;
        have_folder = true;
    }

    if (opt.torrents.empty())
        return refuse("no .torrent file given");
    if (opt.torrents.size() > max_get_torrents)
        return refuse("at most " + std::to_string(max_get_torrents) + " torrents at once");

    // The option words alone make the line the program's option rules read.
    const torrent::command_line line =
        torrent::command_line::from_arguments(std::span<const std::string>(option_words));
    opt.max_connections = torrent::read_max_connections(line);
    opt.listen_port = torrent::read_listen_port(line, random);
    torrent::runtime_options_state state;
    state.network_up = true;
    static_cast<void>(torrent::ApplyRuntimeOptions(state, line, false));
    opt.runtime = state.values;
    result.ok = true;
    return result;
}

} // namespace zorvik::cli
