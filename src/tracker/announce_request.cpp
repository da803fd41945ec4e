#include "tracker/announce_request.h"

#include <charconv>

#include "metainfo/sha1.h"

namespace torrent
{

namespace
{

constexpr char hex_digits[] = "0123456789ABCDEF";

bool is_plain(unsigned char c) noexcept
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void append_number(std::string& out, std::uint64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The address text is ours (dotted IPv4) but may come from a router; escape anything that
// could break the query.
void append_ip_text(std::string& out, std::string_view text)
{
    for (const char c : text)
    {
        const auto u = static_cast<unsigned char>(c);
        if (is_plain(u) || c == '.' || c == '-' || c == '_' || c == ':')
        {
            out.push_back(c);
        }
        else
        {
            out.push_back('%');
            out.push_back(hex_digits[u >> 4U]);
            out.push_back(hex_digits[u & 0x0FU]);
        }
    }
}

std::string_view event_name(announce_event e) noexcept
{
    switch (e)
    {
    case announce_event::started:
        return "started";
    case announce_event::completed:
        return "completed";
    case announce_event::stopped:
        return "stopped";
    case announce_event::none:
        break;
    }
    return {};
}

} // namespace

bool decode_info_hash(std::string_view text, info_hash_bytes& out) noexcept
{
    return hex_to_digest(text, out);
}

std::string escape_query_bytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes)
    {
        const auto u = static_cast<unsigned char>(c);
        if (is_plain(u))
        {
            out.push_back(c);
        }
        else
        {
            out.push_back('%');
            out.push_back(hex_digits[u >> 4U]);
            out.push_back(hex_digits[u & 0x0FU]);
        }
    }
    return out;
}

std::string format_announce_url(const announce_values& v)
{
    std::string url;
    url.reserve(v.tracker_url.size() + 256);
    url.append(v.tracker_url);
    url.push_back(v.tracker_url.find('?') == std::string_view::npos ? '?' : '&');
    url.append("info_hash=");
    url.append(escape_query_bytes(
        std::string_view(reinterpret_cast<const char*>(v.info_hash.data()), v.info_hash.size())));
    url.append("&peer_id=");
    url.append(escape_query_bytes(v.peer_id));
    url.append("&port=");
    append_number(url, v.port);
    url.append("&uploaded=");
    append_number(url, v.uploaded);
    url.append("&downloaded=");
    append_number(url, v.downloaded);
    url.append("&left=");
    append_number(url, v.left);
    url.append("&compact=1&ip=");
    append_ip_text(url, v.ip_text);
    const std::string_view name = event_name(v.event);
    if (!name.empty())
        url.append("&event=").append(name);
    return url;
}

} // namespace torrent
