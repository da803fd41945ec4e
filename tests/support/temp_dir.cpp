#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "base/paths.h"

namespace torrent::test
{

temp_dir::temp_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = join_path(base != nullptr && *base != '\0' ? base : "/tmp", "zorvik-test-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

temp_dir::~temp_dir()
{
    remove_tree(m_path);
}

std::string temp_dir::operator/(std::string_view name) const
{
    return join_path(m_path, name);
}

std::string temp_dir::write(std::string_view name, std::string_view data) const
{
    const std::string full = *this / name;
    make_folders(std::string(parent_of(full)));
    if (!write_file_atomically(full, data))
        throw std::runtime_error("cannot write " + full);
    return full;
}

std::string temp_dir::read(std::string_view name) const
{
    std::string out;
    read_whole_file(*this / name, out);
    return out;
}

void remove_tree(const std::string& path)
{
    std::error_code ec;
    // Make read-only folders made by tests removable again.
    if (std::filesystem::exists(path, ec))
    {
        for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator();
             it.increment(ec))
        {
            if (it->is_directory(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, ec);
        }
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    }
    std::filesystem::remove_all(path, ec);
}

} // namespace torrent::test
