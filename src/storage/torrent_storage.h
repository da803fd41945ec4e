#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "metainfo/file_selection.h"
#include "metainfo/info_layout.h"
#include "metainfo/torrent_metainfo.h"
#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/check_progress.h"
#include "storage/mapped_file.h"
#include "storage/piece_buffer.h"
#include "storage/storage_error.h"

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

// What an open may do to the disk.
enum class open_mode : std::uint8_t
{
    // Create the folders and files, size them (a new download is allocated in full); a file
    // that cannot be opened for writing is opened read-only (its pieces must all be present).
    download = 0,
    // Read only: create, extend or allocate nothing. Missing and short files are noted (see
    // file_state) and their pieces count as absent.
    check_only = 1,
};

// What an open found of one content file on disk, before it sized anything.
struct file_state
{
    bool created = false; // the open had to create it
    bool missing = false; // absent (check_only)
    bool read_only = false; // opened for reading only: it cannot be written
    std::uint64_t disk_length = 0; // its length on disk when it was opened
    std::int64_t modified_ns = 0; // its modification time (ns since the epoch)
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
    // When set, only these pieces are examined; the have bits and bitmap bits of every other
    // piece are left as they are.
    const bitfield* only = nullptr;
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
    // selected files. data_is_new tells whether the content was absent. Every path is
    // resolved beneath the save folder (a link leading out of it fails the open). A failed
    // open leaves everything closed, removes the files and folders it created, and says
    // why in open_error().
    [[nodiscard]] open_storage_result open_storage(
        std::shared_ptr<const torrent_metainfo> metainfo,
        const std::string& save_path,
        bool& data_is_new,
        const file_selection_source* selection = nullptr,
        open_mode mode = open_mode::download);

    // Why the last open failed (fault none after a successful one).
    [[nodiscard]] const storage_error& open_error() const noexcept { return m_error; }

    // Removes the files and folders the last open created (a later step of the torrent's
    // open failed); nothing afterwards.
    void remove_created() noexcept;

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
    // spans, skipping spans of unselected files (padding reads as zeros). Returns the block
    // length, or -1 when the request is malformed, the block does not lie wholly inside its
    // piece (nothing is copied then), or the disk fails it: a file cannot be mapped, is
    // shorter than the torrent says, or a page faults (then io_fault() tells which file).
    [[nodiscard]] std::int64_t
    transfer_block(block_request& block, const std::byte* source, std::byte* destination) noexcept;

    // Unmaps the views of piece `index` that nothing holds any more (see
    // MappedFile::release_idle): called once the piece is verified.
    void release_piece_views(std::uint32_t index) noexcept;

    // transfer_block with a source of exactly block.length bytes; true on success.
    [[nodiscard]] bool write_block(block_request& block, std::span<const std::byte> data) noexcept;

    // transfer_block into a destination of at least block.length bytes.
    [[nodiscard]] std::int64_t read_block(block_request& block, std::span<std::byte> out) noexcept;

    // The file of the last disk failure of a block operation or a check (-1: none), and
    // what it was. clear_io_fault() forgets it.
    [[nodiscard]] std::int64_t io_fault_file() const noexcept { return m_fault_file; }

    [[nodiscard]] storage_error io_fault(bool writing) const;

    void clear_io_fault() noexcept { m_fault_file = -1; }

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

    // How many views without handles every file keeps mapped (see MappedFile).
    void set_idle_views(std::uint32_t count) noexcept;

    // Full path of file i on disk.
    [[nodiscard]] std::string file_path(std::size_t i) const;

    // File i's path below the save folder (multi-file: the torrent name first).
    [[nodiscard]] std::string relative_path(std::size_t i) const;

    // What the open found of each file on disk (same order as files()).
    [[nodiscard]] const std::vector<file_state>& file_states() const noexcept { return m_states; }

    // A descriptor of the save folder (paths of the torrent are resolved beneath it) while
    // the storage is open; -1 otherwise.
    [[nodiscard]] int save_folder_fd() const noexcept { return m_root.get(); }

    // True when every file the piece touches is on disk far enough to read it (false for a
    // piece of a missing or short file after a check_only open).
    [[nodiscard]] bool piece_on_disk(std::uint32_t index) const noexcept;

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
        const full_check_options& options);
    [[nodiscard]] sha1_digest digest_of(const piece_buffer& piece);
    void open_files(open_mode mode);
    void open_one(std::size_t i, open_mode mode);
    void size_files();
    void check_descriptors();
    void check_path_lengths(const std::string& save);
    [[noreturn]] void fail(
        storage_fault fault,
        std::string path,
        int error_number = 0,
        std::uint64_t needed = 0,
        std::uint64_t available = 0);
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
    std::string m_save_path;
    unique_fd m_root;
    std::vector<file_state> m_states;
    std::vector<std::string> m_created_files; // absolute paths
    std::vector<std::string> m_created_folders; // absolute paths, parents first
    storage_error m_error;
    std::int64_t m_fault_file = -1;
};

} // namespace torrent
