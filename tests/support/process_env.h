#pragma once

#include <optional>
#include <string>

namespace torrent::test
{

// Sets (or unsets, with nullopt) an environment variable for the life of the object and
// restores the previous value afterwards.
class scoped_env
{
public:
    scoped_env(std::string name, const std::optional<std::string>& value);
    ~scoped_env();
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Number of open file descriptors of this process (for leak checks).
[[nodiscard]] int count_open_fds();

// Folder of the test material (tests/data: the .torrent corpus), or $ZORVIK_TESTDATA.
[[nodiscard]] std::string testdata_folder();

} // namespace torrent::test
