#pragma once

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
    nothing_stored = 0, // no data, unknown torrent, or the write failed
    not_wanted = 1, // piece already present or block already held
    stored = 2, // block stored, piece not yet complete
    piece_done = 3, // piece complete: verified and recorded, or failed and handed back
    torrent_done = 4, // piece verified and every piece of the torrent is now present
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
    [[nodiscard]] load_result load(
        std::shared_ptr<const torrent_metainfo> metainfo,
        const std::string& save_folder,
        const std::string& data_folder,
        const file_selection_source* selection);

    // Closes the piece-state file and the storage.
    void close() noexcept;

    // The user chose more files while the torrent is loaded: see
    // torrent_storage::choose_more_files. The piece-state file is saved with the pieces
    // that are to be fetched again cleared.
    [[nodiscard]] open_storage_result
    choose_more_files(const file_selection& choice, std::vector<std::uint32_t>& added);

    void set_picker(std::unique_ptr<picker_sink> picker);

    // Rebuilds the have bits by hashing every piece (see torrent_storage::full_check), then
    // records the result in the piece-state file. Returns the number of pieces found
    // intact, check_stopped when the stop event ended it, check_failed on a read error.
    // `workers` threads share an unpaced check (pause_ms 0).
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

    // The saved have bitmap (the mapped piece-state file), for tests and tools.
    [[nodiscard]] std::span<const std::uint8_t> saved_bitmap() const;

private:
    // Caller holds the lock.
    [[nodiscard]] int open_state_file(bool data_is_new);
    void mark_unselected_files();
    void save_have_state();
    [[nodiscard]] block_wanted_result block_wanted_locked(const block_request& block) const;

    torrent_storage m_storage;
    std::unique_ptr<picker_sink> m_picker;
    MappedFile m_state_file;
    BlockHandle m_state_view;
    std::vector<std::uint16_t> m_availability;
    std::int32_t m_availability_extra = 0;
    std::string m_save_path;
    std::string m_state_path;
    std::string m_info_hash;
    mutable std::mutex m_mutex;
};

} // namespace torrent
