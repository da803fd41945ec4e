#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torrent
{

// Makes the program the desktop's handler of .torrent files, the freedesktop way: a
// desktop entry "zorvik.desktop" whose Exec line passes the opened file's path, and that
// entry as the default application for application/x-bittorrent in the user's
// mimeapps.list. Runs at every start on the main thread; every failure is silent.

inline constexpr std::string_view torrent_mime_type = "application/x-bittorrent";
inline constexpr std::string_view desktop_entry_id = "zorvik.desktop";

// Where the two files go: $XDG_DATA_HOME/applications/ and $XDG_CONFIG_HOME/.
struct association_paths
{
    std::string data_home; // ~/.local/share by default
    std::string config_home; // ~/.config by default
};

// The folders from the environment. An unset, empty or relative XDG variable gives its
// default under $HOME; nullopt when $HOME is needed and not set.
[[nodiscard]] std::optional<association_paths> xdg_association_paths();

// The text of the desktop entry for the executable at `executable` (an absolute path);
// nullopt when the path cannot be written into an Exec line (it holds a control
// character such as a line end).
[[nodiscard]] std::optional<std::string> desktop_entry_text(std::string_view executable);

// `mimeapps` with `desktop_id` as the default for `mime` under [Default Applications]:
// every line of that key in that section is replaced, or one line is added to the first
// such section, or the section is appended. All other lines stay as they are.
[[nodiscard]] std::string
with_default_application(std::string_view mimeapps, std::string_view mime, std::string_view desktop_id);

// Writes the desktop entry for `executable` and makes it the default handler. Files are
// replaced atomically and only when their content changes; when the entry cannot be
// written, mimeapps.list is left alone. True when both are in place.
bool register_torrent_type(const association_paths& paths, const std::string& executable);

// register_torrent_type for the running executable and the XDG folders of the environment.
bool RegisterTorrentType();

} // namespace torrent
