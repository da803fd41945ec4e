// Files chosen while a torrent runs.
#include <exception>
#include <unistd.h>

#include "base/paths.h"
#include "storage/beneath.h"
#include "storage/free_space.h"
#include "storage/torrent_storage.h"

namespace torrent
{

open_storage_result
torrent_storage::choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added)
{
    added.clear();
    if (!is_open() || !m_layout.multi_file)
        return open_storage_result::ok;
    std::uint64_t needed = 0; // bytes of the files that do not exist yet
    for (std::size_t i = 0; i < m_layout.files.size(); ++i)
    {
        const file_entry& f = m_layout.files[i];
        if (f.selected || f.placeholder || f.pad || !choice.is_chosen(i))
            continue;
        added.push_back(static_cast<std::uint32_t>(i));
        if (::access(file_path(i).c_str(), F_OK) != 0)
            needed += f.size;
    }
    if (added.empty())
        return open_storage_result::ok;
    if (needed > 0)
    {
        const auto free = volume_free_bytes(m_base_path);
        if (!free || *free < needed)
        {
            added.clear();
            return open_storage_result::no_space;
        }
    }

    // Open and size everything first; the torrent changes only once every file is ready.
    const std::uint32_t pl = m_layout.piece_length;
    std::vector<std::unique_ptr<MappedFile>> opened;
    std::vector<std::string> created;
    std::vector<std::string> created_folders;
    try
    {
        for (const std::uint32_t i : added)
        {
            const file_entry& f = m_layout.files[i];
            // Beneath the save folder, as at the open.
            const std::string rel = relative_path(i);
            const std::string folder(parent_of(rel));
            int e = 0;
            std::vector<std::string> made;
            const bool folders_ok =
                folder.empty() || make_folders_beneath(m_root.get(), folder, made, &e, nullptr);
            for (const std::string& m : made)
                created_folders.push_back(join_path(m_save_path, m));
            if (!folders_ok)
                throw std::exception();
            const std::string path = file_path(i);
            const bool create = ::access(path.c_str(), F_OK) != 0;
            auto file = std::make_unique<MappedFile>(f.size, true);
            if (!file->Open(
                    m_root.get(), rel, pl, static_cast<std::uint32_t>(f.offset % pl), m_writable, create))
                throw std::exception();
            if (create)
                created.push_back(path);
            if (f.size > 0)
                file->SetLength(f.size);
            opened.push_back(std::move(file));
        }
    }
    catch (const std::exception&)
    {
        for (auto& file : opened)
            file->Close();
        for (const std::string& path : created)
            ::unlink(path.c_str());
        for (auto it = created_folders.rbegin(); it != created_folders.rend(); ++it)
            ::rmdir(it->c_str());
        added.clear();
        return open_storage_result::cannot_open;
    }

    for (std::size_t k = 0; k < added.size(); ++k)
    {
        file_entry& f = m_layout.files[added[k]];
        m_mapped[added[k]] = std::move(opened[k]);
        m_states[added[k]] = file_state{};
        m_states[added[k]].disk_length = f.size;
        f.selected = true;
        m_layout.selected_size += f.size;
        if (f.size == 0)
            continue;
        const auto first = static_cast<std::uint32_t>(f.offset / pl);
        const auto last = static_cast<std::uint32_t>((f.offset + f.size - 1) / pl);
        for (std::uint32_t p = first; p <= last && p < piece_count(); ++p)
        {
            set_have(p, false);
            m_wanted.set(p, true);
        }
    }
    return open_storage_result::ok;
}

} // namespace torrent
