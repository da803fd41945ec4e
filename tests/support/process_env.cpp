#include "support/process_env.h"

#include <cstdlib>
#include <dirent.h>

namespace torrent::test
{

scoped_env::scoped_env(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name))
{
    if (const char* old = std::getenv(m_name.c_str()))
        m_old = old;
    if (value)
        ::setenv(m_name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

scoped_env::~scoped_env()
{
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

int count_open_fds()
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd"))
    {
        while (const dirent* entry = ::readdir(dir))
        {
            if (entry->d_name[0] != '.')
                ++count;
        }
        ::closedir(dir);
        --count; // the descriptor of the listing itself
    }
    return count;
}

std::string testdata_folder()
{
    const char* v = std::getenv("ZORVIK_TESTDATA");
    return v != nullptr ? std::string(v) : std::string(ZORVIK_TESTDATA_DEFAULT);
}

} // namespace torrent::test
