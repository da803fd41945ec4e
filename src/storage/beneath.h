#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "base/unique_fd.h"

namespace torrent
{

// Files and folders of a torrent are reached only beneath its save folder: every path is
// resolved relative to a descriptor of that folder, and a symbolic link (or "..") that
// would lead out of it makes the call fail with EXDEV instead of being followed. Uses
// openat2(RESOLVE_BENEATH) where the kernel has it, else a walk that opens each component
// with O_NOFOLLOW (which refuses every link on the way).

// Opens `relative` (components joined with '/', never absolute) beneath the folder `root`.
// Returns an invalid descriptor and sets *err (errno) on failure; EXDEV: a link leads out.
[[nodiscard]] unique_fd open_beneath(int root, const std::string& relative, int flags, mode_t mode, int* err);

// Creates every missing folder of `relative` beneath `root` (mode 0755). The folders it
// created are appended to `created` (relative paths, parents first). On failure returns
// false with *err (errno) and the relative path of the folder that failed in *failed.
bool make_folders_beneath(
    int root, const std::string& relative, std::vector<std::string>& created, int* err, std::string* failed);

// The first component path of `relative` below `root` that is a symbolic link ("" when
// none is): names the link that made an open beneath fail with EXDEV.
[[nodiscard]] std::string first_link_beneath(int root, const std::string& relative);

// Creates every missing folder of the absolute or relative `path` (mode 0755), appending
// the folders it created (parents first). False when the path is not a folder afterwards.
bool make_folders_tracked(const std::string& path, std::vector<std::string>& created, int* err);

} // namespace torrent
