#include "storage/beneath.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/paths.h"

namespace torrent
{
namespace
{

// -1 with errno ENOSYS when the kernel has no openat2.
int openat2_beneath(int root, const char* path, int flags, mode_t mode) noexcept
{
#ifdef SYS_openat2
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (;;)
    {
        const long fd = ::syscall(SYS_openat2, root, path, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN)
            return static_cast<int>(fd);
        // EAGAIN: a rename raced the lookup; try again.
    }
#else
    static_cast<void>(root);
    static_cast<void>(path);
    static_cast<void>(flags);
    static_cast<void>(mode);
    errno = ENOSYS;
    return -1;
#endif
}

// Opens each component with O_NOFOLLOW: a link anywhere on the way fails.
int walk_beneath(int root, const std::string& relative, int flags, mode_t mode) noexcept
{
    unique_fd dir;
    int at = root;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t slash = relative.find('/', start);
        const std::string part = relative.substr(start, slash == std::string::npos ? slash : slash - start);
        if (part == ".." || part.empty())
        {
            errno = EXDEV;
            return -1;
        }
        if (slash == std::string::npos)
            return ::openat(at, part.c_str(), flags | O_NOFOLLOW, mode);
        unique_fd next(::openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
        {
            if (errno == ENOTDIR)
            {
                struct stat st
                {
                };

                if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                    errno = EXDEV;
                else
                    errno = ENOTDIR;
            }
            return -1;
        }
        dir = std::move(next);
        at = dir.get();
        start = slash + 1;
    }
}

bool is_link_at(int root, const std::string& relative) noexcept
{
    struct stat st
    {
    };

    return ::fstatat(root, relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

unique_fd open_beneath(int root, const std::string& relative, int flags, mode_t mode, int* err)
{
    flags |= O_CLOEXEC;
    int fd = openat2_beneath(root, relative.c_str(), flags, mode);
    if (fd < 0 && errno == ENOSYS)
        fd = walk_beneath(root, relative, flags, mode);
    if (fd < 0 && err != nullptr)
        *err = errno;
    return unique_fd(fd);
}

bool make_folders_beneath(
    int root, const std::string& relative, std::vector<std::string>& created, int* err, std::string* failed)
{
    int local_err = 0;
    if (err == nullptr)
        err = &local_err;
    unique_fd parent;
    int at = root;
    std::size_t start = 0;
    while (start < relative.size())
    {
        const std::size_t slash = relative.find('/', start);
        const std::size_t end = slash == std::string::npos ? relative.size() : slash;
        const std::string part = relative.substr(start, end - start);
        const std::string prefix = relative.substr(0, end);
        unique_fd next = open_beneath(root, prefix, O_PATH | O_DIRECTORY, 0, err);
        if (!next && *err == ENOENT)
        {
            if (::mkdirat(at, part.c_str(), 0755) == 0)
                created.push_back(prefix);
            else if (errno != EEXIST)
            {
                *err = errno;
                if (failed != nullptr)
                    *failed = prefix;
                return false;
            }
            next = open_beneath(root, prefix, O_PATH | O_DIRECTORY, 0, err);
        }
        if (!next)
        {
            if (failed != nullptr)
                *failed = prefix;
            return false;
        }
        parent = std::move(next);
        at = parent.get();
        start = end + 1;
    }
    return true;
}

std::string first_link_beneath(int root, const std::string& relative)
{
    std::size_t end = 0;
    while (end != std::string::npos)
    {
        end = relative.find('/', end + 1);
        const std::string prefix = relative.substr(0, end);
        if (is_link_at(root, prefix))
            return prefix;
    }
    return {};
}

bool make_folders_tracked(const std::string& path, std::vector<std::string>& created, int* err)
{
    if (path.empty())
    {
        *err = ENOENT;
        return false;
    }
    if (is_folder(path))
        return true;
    const std::string trimmed = trim_trailing_slashes(path);
    const std::string_view parent = parent_of(trimmed);
    if (!parent.empty() && parent != trimmed && !make_folders_tracked(std::string(parent), created, err))
        return false;
    if (::mkdir(trimmed.c_str(), 0755) == 0)
        created.push_back(trimmed);
    else if (errno != EEXIST)
    {
        *err = errno;
        return false;
    }
    if (!is_folder(trimmed))
    {
        *err = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace torrent
