// zorvik-cli info FILE.torrent: shows what a .torrent holds, checked by the same rules the
// engine applies when it adds the torrent.
#include "app/cli_info.h"

#include <cinttypes>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "metainfo/base_error.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "metainfo/tracker_urls.h"

namespace zorvik::cli
{
namespace
{

constexpr int exit_ok = 0;
constexpr int exit_usage = 1;
constexpr int exit_invalid = 2;
constexpr int exit_unreadable = 3;

// "1234567 bytes (1.18 MiB)": the exact byte count, then a rounded binary-unit form.
std::string size_text(std::uint64_t bytes)
{
    std::string out = std::to_string(bytes) + " bytes";
    if (bytes < 1024)
        return out;
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units))
    {
        value /= 1024.0;
        ++unit;
    }
    char buf[32];
    std::snprintf(
        buf,
        sizeof(buf),
        value < 10        ? " (%.2f %s)"
            : value < 100 ? " (%.1f %s)"
                          : " (%.0f %s)",
        value,
        units[unit]);
    return out + buf;
}

std::string display_path(const torrent::info_layout& layout, const torrent::file_entry& f)
{
    if (!layout.multi_file)
        return layout.name;
    std::string out = layout.name;
    for (const std::string& c : f.path)
    {
        out += '/';
        out += c;
    }
    return out;
}

void print_layout(
    const torrent::torrent_metainfo& meta,
    const torrent::info_layout& layout,
    const std::vector<std::string>& urls)
{
    std::printf("Name:         %s\n", torrent::printable_text(layout.name).c_str());
    std::printf("Info-hash:    %s\n", meta.info_hash_text().c_str());
    std::printf("Layout:       %s\n", layout.multi_file ? "multi-file" : "single-file");
    std::printf("Piece length: %s\n", size_text(layout.piece_length).c_str());
    std::printf("Pieces:       %" PRIu32 "\n", layout.piece_count());
    std::printf("Total size:   %s\n", size_text(layout.total_size).c_str());
    std::printf("Files:        %zu\n", layout.files.size());
    for (std::size_t i = 0; i < layout.files.size(); ++i)
    {
        const torrent::file_entry& f = layout.files[i];
        std::printf(
            "  file %zu: %s, first piece %" PRId32 ", end piece %" PRId32 "%s, path %s\n",
            i,
            size_text(f.size).c_str(),
            f.first_piece,
            f.end_piece,
            f.placeholder || f.pad ? ", padding" : "",
            torrent::printable_text(display_path(layout, f)).c_str());
    }
    std::printf("Trackers:     %zu\n", urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i)
        std::printf("  tracker %zu: %s\n", i, torrent::printable_text(urls[i]).c_str());
}

int invalid(const std::string& shown, const std::string& why)
{
    std::fprintf(
        stderr,
        "zorvik-cli info: %s is not a valid torrent: %s\n",
        shown.c_str(),
        torrent::printable_text(why).c_str());
    return exit_invalid;
}

} // namespace

int run_info(std::span<char* const> args)
{
    if (args.size() != 1)
    {
        std::fprintf(
            stderr,
            "zorvik-cli info: expected one argument, the .torrent file (zorvik-cli info FILE.torrent)\n");
        return exit_usage;
    }
    const std::string path = args[0];
    const std::string shown = torrent::printable_text(path);

    std::string why;
    torrent::metainfo_result loaded = torrent::metainfo_result::invalid;
    const auto meta = torrent::torrent_metainfo::load_file(path, loaded, &why);
    if (loaded == torrent::metainfo_result::unreadable)
    {
        std::fprintf(
            stderr,
            "zorvik-cli info: cannot read %s: %s\n",
            shown.c_str(),
            torrent::printable_text(why).c_str());
        return exit_unreadable;
    }
    if (!meta)
    {
        return invalid(shown, why);
    }

    torrent::info_layout layout;
    try
    {
        layout = torrent::parse_info_layout(meta->info(), &why);
    }
    catch (const torrent::base_error& e)
    {
        if (why.empty())
            why = "error code " + std::to_string(e.code());
        return invalid(shown, why);
    }

    std::vector<std::string> urls;
    const bool has_announce = torrent::append_tracker_urls(meta->root(), urls);
    print_layout(*meta, layout, urls);
    // The metainfo itself is sound; only adding it needs a main tracker, so this is a warning.
    if (!has_announce)
        std::fprintf(
            stderr,
            "zorvik-cli info: warning: %s has no \"announce\" tracker URL; the client will not add it\n",
            shown.c_str());
    std::fflush(stdout);
    return std::ferror(stdout) ? exit_usage : exit_ok;
}

} // namespace zorvik::cli
