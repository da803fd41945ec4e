#include "storage/torrent_storage.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "base/paths.h"
#include "metainfo/base_error.h"
#include "storage/free_space.h"

namespace torrent
{

open_storage_result torrent_storage::open_storage(
    std::shared_ptr<const torrent_metainfo> metainfo,
    const std::string& save_path,
    bool& data_is_new,
    const file_selection_source* selection)
{
    close_storage();
    m_writable = true;
    data_is_new = false;
    if (metainfo == nullptr)
        return open_storage_result::invalid;

    // The layout keeps views into the metainfo (the piece digests): hold it first.
    m_metainfo = std::move(metainfo);
    try
    {
        m_layout = parse_info_layout(m_metainfo->info());
        if (m_layout.multi_file && selection != nullptr)
        {
            if (const auto chosen = selection->load(m_layout.name))
                m_layout.apply_selection(*chosen);
        }
        m_mapped.reserve(m_layout.files.size());
        for (const file_entry& f : m_layout.files)
            m_mapped.push_back(std::make_unique<MappedFile>(f.size, f.selected));
        m_have.resize(m_layout.piece_count());
        m_wanted.resize(m_layout.piece_count());
        m_wanted.set_all();
    }
    catch (const std::exception&)
    {
        close_storage();
        return open_storage_result::invalid;
    }

    const std::string save = save_path.empty() ? std::string(".") : save_path;
    m_base_path = m_layout.multi_file ? join_path(save, m_layout.name) : save;
    data_is_new = m_layout.multi_file ? !is_folder(m_base_path)
                                      : !is_regular_file(join_path(m_base_path, m_layout.name));
    // A folder that cannot be made shows up below as a file that cannot be opened.
    make_folders(m_base_path);

    if (data_is_new)
    {
        const auto free = volume_free_bytes(save);
        if (!free || *free < m_layout.selected_size)
        {
            close_storage();
            return open_storage_result::no_space;
        }
    }

    std::vector<std::string> created;
    try
    {
        open_files(created);
        size_files();
    }
    catch (const std::exception&)
    {
        close_storage();
        // Files this open created hold nothing of the user's: take them away again.
        for (const std::string& path : created)
            ::unlink(path.c_str());
        return open_storage_result::cannot_open;
    }
    return open_storage_result::ok;
}

void torrent_storage::close_storage() noexcept
{
    for (auto& m : m_mapped)
        m->Close();
    m_mapped.clear();
    m_layout = info_layout{};
    m_metainfo.reset();
    m_have.resize(0);
    m_wanted.resize(0);
    m_have_count.store(0, std::memory_order_relaxed);
    m_have_bytes.store(0, std::memory_order_relaxed);
}

std::string torrent_storage::file_path(std::size_t i) const
{
    const std::vector<std::string>& parts = m_layout.files[i].path;
    std::string rel;
    for (std::size_t k = 0; k < parts.size(); ++k)
    {
        if (k != 0)
            rel += '/';
        rel += parts[k];
    }
    return m_base_path.empty() ? rel : join_path(m_base_path, rel);
}

void torrent_storage::open_files(std::vector<std::string>& created)
{
    const std::vector<file_entry>& files = m_layout.files;
    // Folders first, also those of unselected files.
    const std::vector<std::string>* previous = nullptr;
    for (const file_entry& f : files)
    {
        if (f.path.empty())
            throw base_error(err::piece_unavailable);
        if (previous != nullptr && *previous == f.path)
            continue;
        previous = &f.path;
        std::string folder = m_base_path;
        for (std::size_t k = 0; k + 1 < f.path.size(); ++k)
        {
            folder = join_path(folder, f.path[k]);
            make_folders(folder);
        }
    }

    const std::uint32_t pl = m_layout.piece_length;
    for (std::size_t i = 0; i < files.size(); ++i)
    {
        const file_entry& f = files[i];
        MappedFile& m = *m_mapped[i];
        if (f.selected && m.is_open())
            continue;
        if (f.size == 0 && f.placeholder)
            continue;
        const std::string path = file_path(i);
        const bool create = f.selected && ::access(path.c_str(), F_OK) != 0;
        if (!m.Open(path, pl, static_cast<std::uint32_t>(f.offset % pl), m_writable, create))
        {
            m.Close();
            throw base_error(err::mapping_unusable);
        }
        if (create)
            created.push_back(path);
    }
}

void torrent_storage::size_files()
{
    for (std::size_t i = 0; i < m_layout.files.size(); ++i)
    {
        const file_entry& f = m_layout.files[i];
        MappedFile& m = *m_mapped[i];
        if (f.selected && f.size == 0)
            continue;
        if (f.selected && m.file_backed() && !m.is_open())
            throw base_error(err::piece_unavailable);
        m.SetLength(f.size);
    }
}

piece_buffer torrent_storage::read_piece(std::uint32_t index, bool writable, bool strict, bool populate)
{
    if (index >= piece_count())
        throw base_error(err::piece_unavailable);
    piece_buffer buffer(static_cast<std::int32_t>(index));
    const std::uint32_t pl = m_layout.piece_length;
    const std::uint64_t start = std::uint64_t{index} * pl;
    const std::uint64_t end = start + piece_size(index);
    const std::vector<file_entry>& files = m_layout.files;

    // The last file whose first byte is not after the piece's first byte.
    auto it = std::upper_bound(
        files.begin(), files.end(), start, [](std::uint64_t v, const file_entry& f) { return v < f.offset; });
    std::size_t k = it == files.begin() ? 0 : static_cast<std::size_t>(it - files.begin()) - 1;
    for (; k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (f.size == 0)
            continue;
        if (f.offset >= end)
            break;
        MappedFile& m = *m_mapped[k];
        if (m.length() < f.size || (m.file_backed() && !m.is_open()))
        {
            // The file is not sized (or not open) yet.
            if (strict)
                throw base_error(err::piece_unavailable);
            return piece_buffer(static_cast<std::int32_t>(index));
        }
        const auto block = index - static_cast<std::uint32_t>(f.offset / pl);
        buffer.add(m.GetBlock(block, writable, populate));
        if (buffer.length() >= pl)
            break;
    }
    if ((buffer.length() != pl && index + 1 != piece_count()) || buffer.length() == 0)
        throw base_error(err::piece_unavailable);
    return buffer;
}

bool torrent_storage::block_in_range(const block_request& block) const noexcept
{
    return block.index < piece_count() && block.offset < piece_size(block.index);
}

std::int64_t torrent_storage::transfer_block(
    block_request& block, const std::byte* source, std::byte* destination) noexcept
{
    if (block.storage != this || block.length == 0 || (source == nullptr) == (destination == nullptr))
        return -1;
    block.bytes_transferred = 0;
    try
    {
        piece_buffer piece = read_piece(block.index, source != nullptr, true, source != nullptr);
        // A block that does not lie wholly inside its piece is refused before anything is
        // copied, so no part of it lands anywhere.
        if (std::uint64_t{block.offset} + block.length > piece.length())
            return -1;
        const std::uint32_t end = block.offset + block.length;
        std::uint32_t pos = 0;
        while (pos < block.length)
        {
            const std::uint32_t at = block.offset + pos;
            const piece_span& span = piece.span_at(at);
            const std::uint32_t chunk_end = std::min(span.position + span.handle.length(), end);
            if (chunk_end <= at)
                throw base_error(err::empty_chunk);
            const std::uint32_t n = chunk_end - at;
            if (!span.handle.is_placeholder())
            {
                std::byte* mapped = span.handle.data() + (at - span.position);
                if (source != nullptr)
                    std::memcpy(mapped, source + pos, n);
                else
                    std::memcpy(destination + pos, mapped, n);
                block.bytes_transferred += n;
            }
            pos += n;
        }
        return pos;
    }
    catch (const std::exception&)
    {
        return -1;
    }
}

bool torrent_storage::write_block(block_request& block, std::span<const std::byte> data) noexcept
{
    if (data.size() != block.length)
        return false;
    return transfer_block(block, data.data(), nullptr) >= 0;
}

std::int64_t torrent_storage::read_block(block_request& block, std::span<std::byte> out) noexcept
{
    if (out.size() < block.length)
        return -1;
    return transfer_block(block, nullptr, out.data());
}

} // namespace torrent
