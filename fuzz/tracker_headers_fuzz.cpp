// Raw response header lines as curl hands them over: the status line parser and the header
// map. Keys come out lower-case, trimmed and unique; reason phrases stay within 255 bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tracker/http_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    header_map headers;
    std::size_t lines = 0;
    while (!text.empty())
    {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        ++lines;
        int code = -1;
        std::string reason;
        if (parse_status_line(line, code, reason))
        {
            if (code < 0 || code > 999 || reason.size() > max_status_text)
                std::abort();
            continue;
        }
        add_header_line(headers, line);
    }
    if (headers.size() > lines)
        std::abort();
    for (const auto& [key, value] : headers)
    {
        if (key.empty() || key.front() == ' ' || key.front() == '\t')
            std::abort();
        for (const char c : key)
        {
            if (c >= 'A' && c <= 'Z')
                std::abort();
        }
        if (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
            std::abort();
    }
    return 0;
}
