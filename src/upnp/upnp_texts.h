#pragma once

namespace torrent
{

// The status lines of the port mapping (UTF-8). The window may map them to its text
// table; the engine shows them as they stand.
inline constexpr const char* upnp_failed_text = "UPnP失败!";
inline constexpr const char* upnp_created_text = "UPnP创建成功!";
// Filled with the created text, the external address and the external port.
inline constexpr const char* upnp_created_format = "%s,%s, port = %d";

} // namespace torrent
