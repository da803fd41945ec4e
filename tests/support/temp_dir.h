#pragma once

#include <string>
#include <string_view>

namespace torrent::test
{

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when destroyed.
class temp_dir
{
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    [[nodiscard]] const std::string& path() const noexcept { return m_path; }

    // path()/name
    [[nodiscard]] std::string operator/(std::string_view name) const;

    // Writes `data` to path()/name (creating parent folders) and returns the full path.
    std::string write(std::string_view name, std::string_view data) const;

    // Reads path()/name whole ("" when missing).
    [[nodiscard]] std::string read(std::string_view name) const;

private:
    std::string m_path;
};

// Removes a file or folder tree; quiet when it does not exist.
void remove_tree(const std::string& path);

} // namespace torrent::test
