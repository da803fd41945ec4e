#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/check_progress.h"
#include "storage/mapped_file.h"
#include "storage/picker_sink.h"
#include "storage/torrent_storage.h"

namespace torrent
{

class event;

enum class load_result : std::uint8_t
{
    ok = 0,
    state_file_failed = 1, // the piece-state file cannot be opened, created or sized
    needs_check = 2, // data on disk but no saved state: run a full check before use
    no_space = 3,
    invalid = 4,
    cannot_open = 5, // the content files cannot be opened, created or sized
};

enum class write_result : std::uint8_t
{
    nothing_stored = 0, // no data, unknown torrent, or a malformed block
    not_wanted = 1, // piece already present or block already held
    stored = 2, // block stored, piece not yet complete
    piece_done = 3, // piece complete: verified and recorded, or failed and handed back
    torrent_done = 4, // piece verified and every piece of the torrent is now present
    disk_failed = 5, // the disk failed the write, the read-back or the piece-state file:
                     // the torrent holds the fault (fault()) and takes no more blocks
};

enum class block_wanted_result : std::uint8_t
{
    not_wanted = 0,
    wanted = 1,
    out_of_range = 2,
    unknown_torrent = 3,
};

// The result of check_existing_data when the check could not read or hash a piece.
inline constexpr std::int64_t check_failed = -2;
// ... and when it was stopped.
inline constexpr std::int64_t check_stopped = -1;

// One loaded torrent: its storage, its piece-state file (the have bitmap, named by the
// info-hash and mapped for writing, so the saved state is current up to the last verified
// piece), the engine's piece picker and its identity.
//
// Owner: the torrent table (shared, so a caller that found it keeps it alive while it works).
// Threads: the network thread (block writes and reads, bitfields), the checking worker
// (full check) and the task logic (load, close). Every operation below takes the torrent's
// I/O lock; the full check takes it per piece, so block writes and a check of the same
// torrent never touch a piece at the same time.
class torrent_data
{
public:
    torrent_data() = default;
    torrent_data(const torrent_data&) = delete;
    torrent_data& operator=(const torrent_data&) = delete;
    virtual ~torrent_data();

    // Lays out the torrent under save_folder and opens its piece-state file
    // data_folder/info_hash. `selection` supplies the file choice (all files when null).
    // The saved state is trusted except for the pieces of files that had to be created,
    // whose length differs from the torrent's, or that were modified after the piece-state
    // file was last written: those are cleared, and checked again (needs_check) unless
    // their file was created. A failure says why in open_error() and removes the files and
    // folders this load created. A check_only load creates, extends and writes nothing:
    // the piece-state file is a private one in memory, and the result is needs_check.
    [[nodiscard]] load_result load(
        std::shared_ptr<const torrent_metainfo> metainfo,
        const std::string& save_folder,
        const std::string& data_folder,
        const file_selection_source* selection,
        open_mode mode = open_mode::download);

    [[nodiscard]] const storage_error& open_error() const noexcept { return m_open_error; }

    // Closes the storage and then the piece-state file, whose modification time is set
    // last, so that it is not older than any content it describes.
    void close() noexcept;

    // The disk fault that stopped the torrent's block operations (fault none while there is
    // none). Once failed, blocks are neither written nor read and the owner should stop the
    // task and show the fault.
    [[nodiscard]] bool failed() const noexcept { return m_failed.load(std::memory_order_acquire); }

    [[nodiscard]] storage_error fault() const;

    // Pieces the last load found stale and left for check_existing_data (none after it).
    [[nodiscard]] std::uint32_t pieces_to_check() const;

    // The user chose more files while the torrent is loaded: see
    // torrent_storage::choose_more_files. The piece-state file is saved with the pieces
    // that are to be fetched again cleared.
    [[nodiscard]] open_storage_result
    choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added);

    void set_picker(std::unique_ptr<picker_sink> picker);

    // Rebuilds the have bits by hashing every piece (see torrent_storage::full_check), or only
    // the pieces the load found stale, then records the result in the piece-state file.
    // Returns the number of pieces present, check_stopped when the stop event ended it,
    // check_failed on a read error or when a file that cannot be written turns out to be
    // incomplete (fault() says which). `workers` threads share an unpaced check (pause_ms 0).
    [[nodiscard]] std::int64_t check_existing_data(
        const check_progress& progress, event& stop, unsigned pause_ms = 100, unsigned workers = 1) noexcept;

    // Stores a block from `peer` and, when it completes its piece, verifies and records
    // the piece.
    [[nodiscard]] write_result
    write_block_and_verify(peer_key peer, block_request& block, std::span<const std::byte> bytes) noexcept;

    [[nodiscard]] block_wanted_result block_wanted(const block_request& block) const;

    // Reads a block for upload; the block length or -1.
    [[nodiscard]] std::int64_t read_block(block_request& block, std::span<std::byte> out) noexcept;

    void copy_have(bitfield& out) const;
    // The have bits of wanted pieces: what we announce to peers.
    void copy_have_wanted(bitfield& out) const;

    [[nodiscard]] const std::string& info_hash() const noexcept { return m_info_hash; }

    [[nodiscard]] const std::string& save_path() const noexcept { return m_save_path; }

    [[nodiscard]] const std::string& state_path() const noexcept { return m_state_path; }

    // Direct access for callers that hold io_mutex() (or own the object alone).
    [[nodiscard]] torrent_storage& storage() noexcept { return m_storage; }

    [[nodiscard]] const torrent_storage& storage() const noexcept { return m_storage; }

    [[nodiscard]] picker_sink* picker() const noexcept { return m_picker.get(); }

    [[nodiscard]] std::mutex& io_mutex() const noexcept { return m_mutex; }

    // Per-piece availability counters for the picker, zero after load.
    [[nodiscard]] std::vector<std::uint16_t>& availability() noexcept { return m_availability; }

    [[nodiscard]] std::int32_t& availability_extra() noexcept { return m_availability_extra; }

    // The saved have bitmap (what the piece-state file holds), for tests and tools.
    [[nodiscard]] std::span<const std::uint8_t> saved_bitmap() const { return m_saved; }

    // True when the piece-state file cannot be written (a read-only place, or a check_only
    // load): the state lives in memory only.
    [[nodiscard]] bool state_in_memory_only() const noexcept { return m_state_view.empty(); }

private:
    // Caller holds the lock.
    [[nodiscard]] int open_state_file(bool data_is_new, open_mode mode);
    void trust_saved_state(bool state_existed);
    void mark_unselected_files();
    // Writes have AND wanted to the piece-state file: every byte, or only the byte that
    // holds piece `index`. False when the file cannot be written (the fault is recorded).
    bool save_have_state(std::int64_t index = -1);
    bool write_state_bytes(std::size_t from, std::size_t count);
    // The first file that cannot be written although a wanted piece of it is missing, or -1.
    [[nodiscard]] std::int64_t unwritable_incomplete_file() const;
    void set_fault(storage_error e) noexcept;
    // Keeps the piece-state file's time close behind the data's while blocks are written.
    void note_data_written() noexcept;
    [[nodiscard]] bool recheck_blocked(std::uint32_t piece, const std::vector<file_state>& states) const;
    void close_locked_for_failure() noexcept;
    [[nodiscard]] block_wanted_result block_wanted_locked(const block_request& block) const;

    torrent_storage m_storage;
    std::unique_ptr<picker_sink> m_picker;
    MappedFile m_state_file;
    BlockHandle m_state_view; // empty: the state is kept in memory only
    std::vector<std::uint8_t> m_saved; // the piece-state bitmap
    std::int64_t m_state_modified_ns = 0; // the piece-state file's time when it was opened
    std::uint64_t m_state_touched = 0; // when its time was last brought up to date (ms)
    bitfield m_recheck; // pieces the load found stale
    bool m_full_check = false; // no usable saved state: every piece is checked
    open_mode m_mode = open_mode::download;
    std::vector<std::string> m_state_created_folders;
    bool m_state_created = false;
    storage_error m_open_error;
    storage_error m_fault;
    std::atomic<bool> m_failed{false};
    std::vector<std::uint16_t> m_availability;
    std::int32_t m_availability_extra = 0;
    std::string m_save_path;
    std::string m_state_path;
    std::string m_info_hash;
    mutable std::mutex m_mutex;
};

} // namespace torrent
