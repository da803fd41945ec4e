#pragma once

#include <functional>
#include <optional>
#include <string>

namespace torrent
{

// Reads one environment variable (nullopt when unset); tests pass their own.
using env_reader = std::function<std::optional<std::string>(const char*)>;

[[nodiscard]] env_reader process_environment();

// Whether a window can be shown, decided before the toolkit starts (the toolkit aborts the
// process when its platform cannot connect). nullopt when a display answers, or when the
// platform named by QT_QPA_PLATFORM needs none (offscreen, vnc, ...); otherwise the reason
// in a few words, for the one line the program prints before it ends.
//
// An X display is tried for real: its local socket (abstract or in /tmp/.X11-unix) or, for
// "host:N", a TCP connection to port 6000 + N with a short time-out. A Wayland display is
// its socket in $XDG_RUNTIME_DIR.
[[nodiscard]] std::optional<std::string> missing_display_reason(const env_reader& env);

} // namespace torrent
