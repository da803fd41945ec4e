#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "metainfo/file_selection.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/check_progress.h"
#include "storage/mapped_file.h"
#include "storage/piece_buffer.h"

namespace torrent
{

class event;

enum class open_storage_result : std::uint8_t
{
    ok = 0,
    no_space = 1, // the volume has fewer free bytes than the selected files need
    invalid = 2, // the info dictionary is invalid
    cannot_open = 3, // the files cannot be opened, created or sized
};

// How a full check of existing data runs.
struct full_check_options
{
    // Wait on the stop event after each piece that has data: paces the check to about
    // ten pieces a second and is how a stop request is noticed. 0 only polls the event.
    unsigned pause_ms = 100;
    // Held while one piece is read, hashed and recorded (never during the pause), so block
    // writes of the same torrent can go on between pieces.
    std::mutex* guard = nullptr;
    // Threads hashing pieces side by side when the check is not paced (pause_ms 0); the
    // calling thread is one of them. A paced check always runs on the calling thread alone.
    unsigned workers = 1;
};

// A torrent's pieces laid over its files: the file table, the expected digests, the have
// and wanted bitfields and the have counters. Pieces are handed out as lists of mapped
// spans; nothing is copied on the way to or from disk.
// Owner: its torrent_data. Thread: no lock of its own; the torrent data serialises the
// network thread's block operations and the checking worker (see torrent_data).
class torrent_storage
{
public:
    torrent_storage() = default;
    torrent_storage(const torrent_storage&) = delete;
    torrent_storage& operator=(const torrent_storage&) = delete;

    ~torrent_storage() { close_storage(); }

    // Lays out the torrent under save_path (no trailing '/'): parses the info dictionary,
    // reads the file selection from `selection` (all files wanted when null), creates the
    // folders, checks the free space for a new download, creates, opens and sizes the
    // selected files. data_is_new tells whether the content was absent. A failed open
    // leaves everything closed and removes the files this open created.
    [[nodiscard]] open_storage_result open_storage(
        std::shared_ptr<const torrent_metainfo> metainfo,
        const std::string& save_path,
        bool& data_is_new,
        const file_selection_source* selection = nullptr);

    // Closes and forgets every file; the have bitfield becomes empty.
    void close_storage() noexcept;

    // Chooses more files of an open multi-file torrent (the user chose them while it runs):
    // every file that `choice` chooses and that was not chosen is created (or opened),
    // locked and sized, and the pieces it touches become wanted and not present, so they
    // are fetched. A piece it shares with a file chosen before was only taken, never
    // verified, while this file was not chosen: it is fetched again too. Files chosen before
    // stay chosen. `added` lists the files newly chosen. When a file cannot be opened or the
    // volume is too small, nothing changes and the files this call created are removed.
    [[nodiscard]] open_storage_result
    choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added);

    // The piece as spans in file order. With `strict` an index out of range, an unsized
    // file or a short piece raises base_error 7; without it an unsized file gives an empty
    // buffer. `populate` pre-faults the views (for reading the whole piece).
    [[nodiscard]] piece_buffer
    read_piece(std::uint32_t index, bool writable, bool strict, bool populate = false);

    // True when the piece index exists and the offset lies inside that piece.
    [[nodiscard]] bool block_in_range(const block_request& block) const noexcept;

    // Copies a block between `source` (a write) or `destination` (a read) and the piece's
    // spans, skipping spans of unselected files. Returns the block length, or -1 when the
    // request is malformed, the block does not lie wholly inside its piece (nothing is
    // copied then) or the piece cannot be mapped.
    [[nodiscard]] std::int64_t
    transfer_block(block_request& block, const std::byte* source, std::byte* destination) noexcept;

    // transfer_block with a source of exactly block.length bytes; true on success.
    [[nodiscard]] bool write_block(block_request& block, std::span<const std::byte> data) noexcept;

    // transfer_block into a destination of at least block.length bytes.
    [[nodiscard]] std::int64_t read_block(block_request& block, std::span<std::byte> out) noexcept;

    // --- verification ---

    // Sets or clears have bit `index`, keeping the have counters equal to the pieces set.
    // Raises base_error 7 for an index not below piece_count().
    void set_have(std::uint32_t index, bool value);

    // Accepts and records a complete piece: true when it was already present, when it
    // touches an unselected file (not verified), or when its digest matches.
    [[nodiscard]] bool check_piece(piece_buffer& buffer);

    // Hashes every piece in order, rebuilding the have bits and filling `bitmap` (at least
    // have().byte_count() bytes) with the pieces found intact. Returns false when stopped.
    // read_piece and hashing errors propagate as base_error.
    [[nodiscard]] bool full_check(
        const check_progress& progress,
        event& stop,
        std::span<std::uint8_t> bitmap,
        const full_check_options& options = {});

    // --- layout and state ---

    [[nodiscard]] std::uint32_t piece_count() const noexcept { return m_layout.piece_count(); }

    [[nodiscard]] std::uint32_t piece_size(std::uint32_t index) const noexcept
    {
        return m_layout.piece_size(index);
    }

    [[nodiscard]] std::uint32_t piece_length() const noexcept { return m_layout.piece_length; }

    [[nodiscard]] std::uint64_t total_size() const noexcept { return m_layout.total_size; }

    [[nodiscard]] std::uint64_t selected_size() const noexcept { return m_layout.selected_size; }

    [[nodiscard]] const std::string& name() const noexcept { return m_layout.name; }

    [[nodiscard]] bool multi_file() const noexcept { return m_layout.multi_file; }

    [[nodiscard]] const std::string& base_path() const noexcept { return m_base_path; }

    [[nodiscard]] const info_layout& layout() const noexcept { return m_layout; }

    [[nodiscard]] const std::vector<file_entry>& files() const noexcept { return m_layout.files; }

    [[nodiscard]] const MappedFile& mapped_file(std::size_t i) const noexcept { return *m_mapped[i]; }

    // Full path of file i on disk.
    [[nodiscard]] std::string file_path(std::size_t i) const;

    [[nodiscard]] const bitfield& have() const noexcept { return m_have; }

    [[nodiscard]] bitfield& have() noexcept { return m_have; }

    [[nodiscard]] const bitfield& wanted() const noexcept { return m_wanted; }

    [[nodiscard]] bitfield& wanted() noexcept { return m_wanted; }

    // Number and bytes of the pieces whose have bit is set. Safe to read from any thread.
    [[nodiscard]] std::uint32_t have_count() const noexcept
    {
        return m_have_count.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint64_t have_bytes() const noexcept
    {
        return m_have_bytes.load(std::memory_order_relaxed);
    }

    [[nodiscard]] bool is_open() const noexcept { return !m_mapped.empty(); }

private:
    [[nodiscard]] bool full_check_parallel(
        const check_progress& progress,
        event& stop,
        std::span<std::uint8_t> bitmap,
        std::mutex& guard,
        unsigned workers);
    void open_files(std::vector<std::string>& created);
    void size_files();
    void note_have(std::uint32_t bytes) noexcept;

    bool m_writable = true;
    std::shared_ptr<const torrent_metainfo> m_metainfo;
    info_layout m_layout;
    std::vector<std::unique_ptr<MappedFile>> m_mapped;
    bitfield m_have;
    bitfield m_wanted;
    std::atomic<std::uint32_t> m_have_count{0};
    std::atomic<std::uint64_t> m_have_bytes{0};
    std::string m_base_path = ".";
};

} // namespace torrent
