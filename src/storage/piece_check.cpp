// Piece verification: the have bookkeeping, the check of one piece and the full check of
// existing data.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/event.h"
#include "metainfo/base_error.h"
#include "storage/torrent_storage.h"

namespace torrent
{

sha1_digest torrent_storage::digest_of(const piece_buffer& piece)
{
    try
    {
        return piece.digest();
    }
    catch (const base_error& e)
    {
        if (e.code() == err::mapped_fault)
            m_fault_file = piece.faulted_file();
        throw;
    }
}

void torrent_storage::note_have(std::uint32_t bytes) noexcept
{
    m_have_count.fetch_add(1, std::memory_order_relaxed);
    m_have_bytes.fetch_add(bytes, std::memory_order_relaxed);
}

void torrent_storage::set_have(std::uint32_t index, bool value)
{
    if (index >= piece_count())
        throw base_error(err::piece_unavailable);
    // The counters follow the bits exactly: a piece set twice (saved state, then a check
    // or a block write) is still one piece, so completion and held bytes stay true.
    const bool was = m_have.test(index);
    if (was == value)
        return;
    m_have.set(index, value);
    if (value)
    {
        note_have(piece_size(index));
    }
    else
    {
        m_have_count.fetch_sub(1, std::memory_order_relaxed);
        m_have_bytes.fetch_sub(piece_size(index), std::memory_order_relaxed);
    }
}

bool torrent_storage::check_piece(piece_buffer& buffer)
{
    const std::int32_t index = buffer.index();
    if (index < 0 || static_cast<std::uint32_t>(index) >= piece_count())
        return false;
    const auto i = static_cast<std::uint32_t>(index);
    if (i < m_have.bit_count() && m_have.test(i))
        return true;
    // A piece that touches an unselected file has no data to verify and is taken as is.
    if (!buffer.no_data())
    {
        if (buffer.spans().empty())
            return false;
        if (digest_of(buffer) != m_layout.piece_digest(i))
            return false;
    }
    m_have.set(i, true);
    note_have(buffer.length());
    buffer.release();
    return true;
}

bool torrent_storage::full_check(
    const check_progress& progress,
    event& stop,
    std::span<std::uint8_t> bitmap,
    const full_check_options& options)
{
    const std::size_t used = m_have.byte_count();
    if (bitmap.size() < used)
        throw base_error(err::bitfield_size_mismatch);
    const std::uint32_t n = piece_count();
    if (options.only != nullptr && options.only->bit_count() != n)
        throw base_error(err::bitfield_size_mismatch);
    {
        std::unique_lock<std::mutex> lock;
        if (options.guard != nullptr)
            lock = std::unique_lock<std::mutex>(*options.guard);
        if (options.only == nullptr)
            std::fill_n(bitmap.begin(), used, std::uint8_t{0});
        else
        {
            for (std::uint32_t i = 0; i < n; ++i)
            {
                if (options.only->test(i))
                    bitmap[i / 8] &= static_cast<std::uint8_t>(~(0x80u >> (i % 8)));
            }
        }
    }
    if (options.pause_ms == 0 && options.workers > 1)
    {
        std::mutex own;
        return full_check_parallel(
            progress, stop, bitmap, options.guard != nullptr ? *options.guard : own, options);
    }
    for (std::uint32_t i = 0; i < n; ++i)
    {
        if (options.only != nullptr && !options.only->test(i))
            continue;
        bool has_data = false;
        {
            std::unique_lock<std::mutex> lock;
            if (options.guard != nullptr)
                lock = std::unique_lock<std::mutex>(*options.guard);
            // A piece of a file that is missing or short on disk is absent (a check that
            // may create nothing finds such files).
            if (!piece_on_disk(i))
            {
                set_have(i, false);
                continue;
            }
            // Pre-fault the views: the whole piece is read at once.
            piece_buffer piece = read_piece(i, false, true, true);
            has_data = !piece.no_data();
            const bool ok = has_data && digest_of(piece) == m_layout.piece_digest(i);
            if (ok)
                bitmap[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
            set_have(i, ok);
        }
        if (has_data)
        {
            progress.add(m_layout.piece_length);
            if (stop.wait_for(options.pause_ms) != wait_result::timed_out)
                return false;
        }
    }
    return true;
}

bool torrent_storage::full_check_parallel(
    const check_progress& progress,
    event& stop,
    std::span<std::uint8_t> bitmap,
    std::mutex& guard,
    const full_check_options& options)
{
    const std::uint32_t n = piece_count();
    const unsigned workers = options.workers;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> stopped{false};
    std::mutex error_mutex;
    std::exception_ptr error;

    // Mapping and recording happen under the guard (the mapped blocks are not thread-safe);
    // hashing, the bulk of the work, runs outside it.
    auto work = [&]
    {
        try
        {
            while (!stopped.load(std::memory_order_relaxed))
            {
                const std::uint32_t i = next.fetch_add(1, std::memory_order_relaxed);
                if (i >= n)
                    return;
                if (options.only != nullptr && !options.only->test(i))
                    continue;
                piece_buffer piece;
                {
                    const std::lock_guard lock(guard);
                    if (!piece_on_disk(i))
                    {
                        set_have(i, false);
                        continue;
                    }
                    piece = read_piece(i, false, true, true);
                }
                const bool has_data = !piece.no_data();
                bool ok = false;
                try
                {
                    ok = has_data && piece.digest() == m_layout.piece_digest(i);
                }
                catch (const base_error& e)
                {
                    const std::lock_guard lock(guard);
                    if (e.code() == err::mapped_fault)
                        m_fault_file = piece.faulted_file();
                    piece.release();
                    throw;
                }
                catch (...)
                {
                    const std::lock_guard lock(guard);
                    piece.release();
                    throw;
                }
                {
                    const std::lock_guard lock(guard);
                    if (ok)
                        bitmap[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
                    set_have(i, ok);
                    piece.release();
                }
                if (has_data)
                {
                    progress.add(m_layout.piece_length);
                    if (stop.wait_for(0) != wait_result::timed_out)
                        stopped.store(true);
                }
            }
        }
        catch (...)
        {
            const std::lock_guard lock(error_mutex);
            if (!error)
                error = std::current_exception();
            stopped.store(true);
        }
    };

    std::vector<std::thread> threads;
    for (unsigned k = 1; k < workers; ++k)
    {
        try
        {
            threads.emplace_back(work);
        }
        catch (const std::system_error&)
        {
            break; // fewer threads then
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
    if (error)
        std::rethrow_exception(error);
    return next.load() >= n && !stopped.load();
}

} // namespace torrent
