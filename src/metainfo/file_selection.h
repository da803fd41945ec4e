#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace torrent
{

// Which files of a torrent the user chose, by file index in metainfo order. A file whose
// index is not below the record's size counts as chosen.
struct file_selection
{
    std::vector<bool> chosen;

    [[nodiscard]] bool is_chosen(std::size_t index) const noexcept
    {
        return index >= chosen.size() || chosen[index];
    }
};

// Finds the file-selection record of a torrent for the metainfo readers. Implemented by the
// storage layer, which knows the record's format and folder.
class file_selection_source
{
public:
    virtual ~file_selection_source() = default;
    // The record of the torrent named torrent_name; nullopt when there is none.
    [[nodiscard]] virtual std::optional<file_selection> load(std::string_view torrent_name) const = 0;
};

} // namespace torrent
