// One SSDP datagram as a gateway (or anything on the network) may send it: a URL comes
// out only for an HTTP 200 answer, and it is a plain http:// URL of printable bytes.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "upnp/ssdp_search.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const auto url = torrent::parse_ssdp_answer(datagram);
    if (!url)
        return 0;
    if (url->size() <= 7 || url->size() > 1024)
        std::abort();
    constexpr std::string_view scheme = "http://";
    for (std::size_t i = 0; i < scheme.size(); ++i)
    {
        if (std::tolower(static_cast<unsigned char>((*url)[i])) != scheme[i])
            std::abort();
    }
    for (const char c : *url)
    {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F)
            std::abort();
    }
    if (datagram.find(*url) == std::string_view::npos)
        std::abort();
    return 0;
}
