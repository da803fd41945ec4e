// Pieces laid over the files: reading a piece as spans and copying blocks in and out of it.
#include "storage/torrent_storage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "metainfo/base_error.h"
#include "storage/mapped_access.h"

namespace torrent
{

namespace
{

// The first file whose span a piece starting at `start` takes.
std::size_t first_file_of(const std::vector<file_entry>& files, std::uint64_t start)
{
    auto it = std::upper_bound(
        files.begin(), files.end(), start, [](std::uint64_t v, const file_entry& f) { return v < f.offset; });
    return it == files.begin() ? 0 : static_cast<std::size_t>(it - files.begin()) - 1;
}

} // namespace

piece_buffer torrent_storage::read_piece(std::uint32_t index, bool writable, bool strict, bool populate)
{
    if (index >= piece_count())
        throw base_error(err::piece_unavailable);
    piece_buffer buffer(static_cast<std::int32_t>(index));
    const std::uint32_t pl = m_layout.piece_length;
    const std::uint64_t start = std::uint64_t{index} * pl;
    const std::uint64_t end = start + piece_size(index);
    const std::vector<file_entry>& files = m_layout.files;

    for (std::size_t k = first_file_of(files, start); k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (f.size == 0)
            continue;
        if (f.offset >= end)
            break;
        const auto file = static_cast<std::uint32_t>(k);
        if (f.pad)
        {
            // Padding is never on disk: it reads as zeros.
            const std::uint64_t from = std::max(start, f.offset);
            const std::uint64_t to = std::min(end, f.offset + f.size);
            buffer.add(BlockHandle::zeros(static_cast<std::uint32_t>(to - from)), file);
        }
        else
        {
            MappedFile& m = *m_mapped[k];
            // The part of the file this piece needs must be there: the file is sized (or,
            // after a check-only open, long enough on disk).
            const std::uint64_t need = std::min(end, f.offset + f.size) - f.offset;
            if ((m.file_backed() && !m.is_open()) || m.length() < need)
            {
                if (strict)
                    throw base_error(err::piece_unavailable);
                return piece_buffer(static_cast<std::int32_t>(index));
            }
            const auto block = index - static_cast<std::uint32_t>(f.offset / pl);
            try
            {
                buffer.add(m.GetBlock(block, writable, populate), file);
            }
            catch (const base_error&)
            {
                m_fault_file = static_cast<std::int64_t>(k);
                throw;
            }
        }
        if (buffer.length() >= pl)
            break;
    }
    if ((buffer.length() != pl && index + 1 != piece_count()) || buffer.length() == 0)
        throw base_error(err::piece_unavailable);
    return buffer;
}

void torrent_storage::set_idle_views(std::uint32_t count) noexcept
{
    for (const auto& file : m_mapped)
    {
        if (file)
            file->set_idle_views(count);
    }
}

void torrent_storage::release_piece_views(std::uint32_t index) noexcept
{
    if (index >= piece_count())
        return;
    const std::uint32_t pl = m_layout.piece_length;
    const std::uint64_t start = std::uint64_t{index} * pl;
    const std::uint64_t end = start + piece_size(index);
    const std::vector<file_entry>& files = m_layout.files;
    for (std::size_t k = first_file_of(files, start); k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (f.offset >= end)
            break;
        if (f.size != 0 && !f.pad)
            m_mapped[k]->release_idle(index - static_cast<std::uint32_t>(f.offset / pl));
    }
}

bool torrent_storage::piece_on_disk(std::uint32_t index) const noexcept
{
    if (index >= piece_count())
        return false;
    const std::uint64_t start = std::uint64_t{index} * m_layout.piece_length;
    const std::uint64_t end = start + piece_size(index);
    const std::vector<file_entry>& files = m_layout.files;
    for (std::size_t k = first_file_of(files, start); k < files.size(); ++k)
    {
        const file_entry& f = files[k];
        if (f.offset >= end)
            break;
        if (f.size == 0 || f.pad)
            continue;
        const MappedFile& m = *m_mapped[k];
        const std::uint64_t need = std::min(end, f.offset + f.size) - f.offset;
        if ((m.file_backed() && !m.is_open()) || m.length() < need)
            return false;
    }
    return true;
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
            if (span.handle.is_zeros())
            {
                // Padding: reads give zeros, written bytes are dropped.
                if (destination != nullptr)
                    std::memset(destination + pos, 0, n);
                block.bytes_transferred += n;
            }
            else if (!span.handle.is_placeholder())
            {
                std::byte* mapped = span.handle.data() + (at - span.position);
                const bool copied = source != nullptr ? guarded_copy(mapped, source + pos, n)
                                                      : guarded_copy(destination + pos, mapped, n);
                if (!copied)
                {
                    // The file shrank under the mapping or the disk failed: nothing of this
                    // block counts as transferred.
                    m_fault_file = span.file;
                    block.bytes_transferred = 0;
                    return -1;
                }
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

storage_error torrent_storage::io_fault(bool writing) const
{
    storage_error e;
    if (m_fault_file < 0 || static_cast<std::size_t>(m_fault_file) >= m_mapped.size())
        return e;
    const auto k = static_cast<std::size_t>(m_fault_file);
    const file_entry& f = m_layout.files[k];
    const MappedFile& m = *m_mapped[k];
    e.path = file_path(k);
    std::uint64_t on_disk = 0;
    if (m.disk_length(on_disk) && on_disk < f.size)
    {
        e.fault = storage_fault::file_shrunk;
        e.needed = f.size;
        e.available = on_disk;
        return e;
    }
    if (writing && m_states[k].read_only)
    {
        e.fault = storage_fault::read_only_incomplete;
        e.error_number = EACCES;
        return e;
    }
    e.fault = writing ? storage_fault::write_failed : storage_fault::read_failed;
    e.error_number = m.last_error() != 0 ? m.last_error() : EIO;
    return e;
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
