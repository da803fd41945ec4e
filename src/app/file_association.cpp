#include "app/file_association.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

#include "base/data_folder.h"
#include "base/paths.h"
#include "base/text.h"

namespace torrent
{
namespace
{

constexpr std::string_view default_section = "[Default Applications]";

std::string env_or_empty(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else $HOME/fallback.
std::optional<std::string> xdg_folder(const char* variable, std::string_view fallback)
{
    std::string value = env_or_empty(variable);
    if (!value.empty() && value.front() == '/')
        return value;
    const std::string home = env_or_empty("HOME");
    if (home.empty() || home.front() != '/')
        return std::nullopt;
    return join_path(home, fallback);
}

// One argument of an Exec line in double quotes: ", `, $ and \ are escaped inside the
// quotes, then every backslash is doubled again because the value is a desktop-file
// string, and % is doubled because it starts a field code.
std::string quoted_exec_argument(std::string_view arg)
{
    std::string quoted = "\"";
    for (const char c : arg)
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (const char c : quoted)
    {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

// The lines of a text, each with its own line end ("" for a last line without one).
struct text_line
{
    std::string_view body;
    std::string_view end;
};

std::vector<text_line> split_lines(std::string_view text)
{
    std::vector<text_line> lines;
    while (!text.empty())
    {
        const auto lf = text.find('\n');
        if (lf == std::string_view::npos)
        {
            lines.push_back({text, {}});
            break;
        }
        std::size_t body_end = lf;
        if (body_end > 0 && text[body_end - 1] == '\r')
            --body_end;
        lines.push_back({text.substr(0, body_end), text.substr(body_end, lf + 1 - body_end)});
        text.remove_prefix(lf + 1);
    }
    return lines;
}

bool is_section_header(std::string_view body) noexcept
{
    const std::string_view t = trim_blanks(body);
    return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

// Writes `data` to `path` unless the file already holds exactly that. A symbolic link is
// followed, so a linked configuration file is updated where it lives.
bool write_if_changed(const std::string& path, const std::string& data)
{
    std::string current;
    if (read_whole_file(path, current, std::size_t{4} << 20) && current == data)
        return true;
    std::string target = path;

    struct stat st
    {
    };

    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr)
            return false;
        target = resolved;
    }
    return write_file_atomically(target, data);
}

} // namespace

std::optional<association_paths> xdg_association_paths()
{
    auto data = xdg_folder("XDG_DATA_HOME", ".local/share");
    auto config = xdg_folder("XDG_CONFIG_HOME", ".config");
    if (!data || !config)
        return std::nullopt;
    return association_paths{std::move(*data), std::move(*config)};
}

std::optional<std::string> desktop_entry_text(std::string_view executable)
{
    if (executable.empty() || executable.front() != '/')
        return std::nullopt;
    for (const char c : executable)
    {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    }
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Zorvik\n"
                       "GenericName=BitTorrent Client\n"
                       "Comment=Download and share files over BitTorrent\n"
                       "Exec=";
    text += quoted_exec_argument(executable);
    text += " %f\n"
            "MimeType=";
    text += torrent_mime_type;
    text += ";\n"
            "Terminal=false\n"
            "Categories=Network;FileTransfer;P2P;\n";
    return text;
}

std::string
with_default_application(std::string_view mimeapps, std::string_view mime, std::string_view desktop_id)
{
    std::string entry(mime);
    entry += '=';
    entry += desktop_id;
    entry += ';';

    const std::vector<text_line> lines = split_lines(mimeapps);
    std::string out;
    out.reserve(mimeapps.size() + entry.size() + default_section.size() + 4);
    bool in_default = false;
    bool replaced = false;
    std::size_t first_header_end = std::string::npos; // offset in `out` after the header line
    for (const text_line& line : lines)
    {
        if (is_section_header(line.body))
        {
            in_default = trim_blanks(line.body) == default_section;
            out += line.body;
            out += line.end.empty() ? std::string_view("\n") : line.end;
            if (in_default && first_header_end == std::string::npos)
                first_header_end = out.size();
            continue;
        }
        const auto eq = line.body.find('=');
        if (in_default && eq != std::string_view::npos
            && equal_ascii_nocase(trim_blanks(line.body.substr(0, eq)), mime))
        {
            out += entry;
            replaced = true;
        }
        else
            out += line.body;
        out += line.end;
    }
    if (replaced)
        return out;
    if (first_header_end != std::string::npos)
    {
        out.insert(first_header_end, entry + "\n");
        return out;
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    if (!out.empty() && !lines.empty() && !trim_blanks(lines.back().body).empty())
        out += '\n';
    out += default_section;
    out += '\n';
    out += entry;
    out += '\n';
    return out;
}

bool register_torrent_type(const association_paths& paths, const std::string& executable)
{
    const std::optional<std::string> entry = desktop_entry_text(executable);
    if (!entry)
        return false;
    const std::string applications = join_path(paths.data_home, "applications");
    if (!make_folders(applications) || !write_if_changed(join_path(applications, desktop_entry_id), *entry))
        return false;

    if (!make_folders(paths.config_home))
        return false;
    const std::string mimeapps_path = join_path(paths.config_home, "mimeapps.list");
    std::string mimeapps;
    if (!read_whole_file(mimeapps_path, mimeapps, std::size_t{4} << 20))
    {
        // A file that exists but cannot be read is not replaced by one without its lines.
        if (errno != ENOENT)
            return false;
        mimeapps.clear();
    }
    return write_if_changed(
        mimeapps_path, with_default_application(mimeapps, torrent_mime_type, desktop_entry_id));
}

bool RegisterTorrentType()
{
    const std::optional<association_paths> paths = xdg_association_paths();
    if (!paths)
        return false;
    return register_torrent_type(*paths, executable_path());
}

} // namespace torrent
