#include "base/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"

namespace torrent
{

std::string trim_trailing_slashes(std::string_view folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    return std::string(folder);
}

std::string join_path(std::string_view folder, std::string_view name)
{
    std::string out = trim_trailing_slashes(folder);
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    if (out.empty())
        return std::string(name);
    if (out.back() != '/')
        out += '/';
    out += name;
    return out;
}

std::string_view file_name_of(std::string_view path) noexcept
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parent_of(std::string_view path) noexcept
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool is_regular_file(const std::string& path) noexcept
{
    struct stat st
    {
    };

    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_folder(const std::string& path) noexcept
{
    struct stat st
    {
    };

    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_folders(const std::string& path) noexcept
{
    if (path.empty())
        return false;
    if (is_folder(path))
        return true;
    const std::string trimmed = trim_trailing_slashes(path);
    const std::string_view parent = parent_of(trimmed);
    if (!parent.empty() && parent != trimmed && !make_folders(std::string(parent)))
        return false;
    return ::mkdir(trimmed.c_str(), 0755) == 0 || errno == EEXIST ? is_folder(trimmed) : false;
}

bool read_whole_file(const std::string& path, std::string& out, std::size_t limit)
{
    out.clear();
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    char buf[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (out.size() + static_cast<std::size_t>(n) > limit)
        {
            errno = EFBIG;
            return false;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

bool write_file_atomically(const std::string& path, std::string_view data)
{
    const std::string tmp = path + ".tmp";
    {
        unique_fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd)
            return false;
        std::size_t done = 0;
        while (done < data.size())
        {
            const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
            {
                ::unlink(tmp.c_str());
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0)
    {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace torrent
