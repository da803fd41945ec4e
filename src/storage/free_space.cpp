#include "storage/free_space.h"

#include <sys/statvfs.h>

namespace torrent
{

std::optional<std::uint64_t> volume_free_bytes(const std::string& path) noexcept
{
    struct statvfs st
    {
    };

    if (::statvfs(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bfree) * static_cast<std::uint64_t>(st.f_frsize);
}

} // namespace torrent
