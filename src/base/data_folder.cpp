#include "base/data_folder.h"

#include <cstdlib>
#include <unistd.h>

#include "base/paths.h"

namespace torrent
{

namespace
{

std::string env_or_empty(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

std::string with_slash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// Reads KEY="$HOME/..." (XDG_DOCUMENTS_DIR, XDG_DOWNLOAD_DIR) from user-dirs.dirs.
std::string from_user_dirs(const std::string& home, const std::string& name)
{
    std::string config = env_or_empty("XDG_CONFIG_HOME");
    if (config.empty())
        config = join_path(home, ".config");
    std::string text;
    if (!read_whole_file(join_path(config, "user-dirs.dirs"), text, 1 << 16))
        return {};
    const std::string key = name + "=\"";
    const auto at = text.find(key);
    if (at == std::string::npos)
        return {};
    const auto start = at + key.size();
    const auto end = text.find('"', start);
    if (end == std::string::npos)
        return {};
    std::string value = text.substr(start, end - start);
    if (value.rfind("$HOME", 0) == 0)
        value = home + value.substr(5);
    return value;
}

} // namespace

std::string executable_path()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string executable_folder()
{
    const std::string exe = executable_path();
    if (exe.empty())
        return {};
    return with_slash(std::string(parent_of(exe)));
}

std::string data_folder()
{
    if (std::string home = env_or_empty("ZORVIK_HOME"); !home.empty())
        return with_slash(trim_trailing_slashes(home));

    if (const std::string beside = executable_folder(); !beside.empty() && is_folder(beside + "My Zorvik"))
        return beside + "My Zorvik/";

    const std::string home = env_or_empty("HOME");
    std::string documents = env_or_empty("XDG_DOCUMENTS_DIR");
    if (documents.empty() && !home.empty())
        documents = from_user_dirs(home, "XDG_DOCUMENTS_DIR");
    if (documents.empty() && !home.empty())
        documents = join_path(home, "Documents");
    if (!documents.empty() && is_folder(documents))
        return with_slash(join_path(documents, "My Zorvik"));
    return with_slash(join_path(home.empty() ? std::string("/tmp") : home, "My Zorvik"));
}

std::string download_folder()
{
    const std::string home = env_or_empty("HOME");
    std::string folder = env_or_empty("XDG_DOWNLOAD_DIR");
    if (folder.empty() && !home.empty())
        folder = from_user_dirs(home, "XDG_DOWNLOAD_DIR");
    if (!folder.empty() && is_folder(folder))
        return trim_trailing_slashes(folder);
    if (!home.empty() && is_folder(join_path(home, "Downloads")))
        return join_path(home, "Downloads");
    return home;
}

} // namespace torrent
