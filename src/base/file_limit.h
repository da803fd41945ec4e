#pragma once

#include <cstdint>

namespace torrent
{

// Raises the soft limit of open files (RLIMIT_NOFILE) to the hard limit, as desktop
// programs do: every file of a running torrent is held open, and the usual soft limit of
// 1024 is too small for a photo collection. Returns the soft limit in force afterwards
// (0 when it cannot be read). Call once at start, before threads are made.
std::uint64_t raise_open_file_limit() noexcept;

} // namespace torrent
