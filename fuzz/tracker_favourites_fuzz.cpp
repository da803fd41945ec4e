// The favourites file as the loader splits it: every URL it yields is 4 to 269 bytes long
// and holds no line end.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tracker/tracker_favourites.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t total = 0;
    for (const std::string& url : parse_favourites(text))
    {
        if (url.size() <= 3 || url.size() > max_favourite_line)
            std::abort();
        if (url.find('\n') != std::string::npos || url.back() == '\r')
            std::abort();
        total += url.size();
    }
    if (total > size)
        std::abort();
    return 0;
}
