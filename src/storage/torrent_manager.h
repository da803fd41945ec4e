#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/picker_sink.h"
#include "storage/torrent_data.h"
#include "storage/torrent_table.h"

namespace torrent
{

enum class add_result : std::uint8_t
{
    added = 1,
    invalid = 2, // invalid torrent
    unreadable = 3, // the .torrent file cannot be opened
    duplicate = 4, // a torrent with the same info-hash is already loaded
    no_space = 5, // not enough free disk space
    cannot_open = 6, // files or the piece-state file cannot be opened or created
    needs_check = 7, // added; existing data must be fully checked before use
};

// The engine's operations on loaded torrents, each naming the torrent by its info-hash
// text, over the torrent table it owns.
// Owner: the network root object. Thread-safe (see torrent_table and torrent_data).
class torrent_manager
{
public:
    // Makes the engine's piece picker for a freshly loaded torrent.
    using picker_factory = std::function<std::unique_ptr<picker_sink>(torrent_data&)>;

    // `selection_folder` is the data folder where file-selection records of torrents
    // without a content folder live (the process's data folder when empty).
    explicit torrent_manager(picker_factory make_picker = {}, std::string selection_folder = {});

    // Loads a .torrent: lays out and opens its files under save_folder, maps its
    // piece-state file data_folder/info_hash, and enters it in the table. Fills info_hash
    // and appends the tracker URLs (announce first). When `why` is given, a failure says
    // there what failed (the file, the system's reason, the sizes). A check_only add
    // creates, extends and writes nothing (see torrent_data::load).
    [[nodiscard]] add_result add_torrent(
        const std::string& torrent_path,
        const std::string& data_folder,
        const std::string& save_folder,
        std::string& info_hash,
        std::vector<std::string>& trackers,
        storage_error* why = nullptr,
        open_mode mode = open_mode::download);

    // Closes the torrent's files and forgets it; nothing happens for an unknown hash.
    void remove_torrent(std::string_view info_hash);

    [[nodiscard]] std::shared_ptr<torrent_data> find_torrent(std::string_view info_hash) const;

    // False for an unknown torrent.
    bool copy_have(std::string_view info_hash, bitfield& out) const;
    bool copy_have_wanted(std::string_view info_hash, bitfield& out) const;

    [[nodiscard]] write_result write_block_and_verify(
        std::string_view info_hash, peer_key peer, block_request& block, std::span<const std::byte> bytes);

    [[nodiscard]] block_wanted_result
    block_wanted(std::string_view info_hash, const block_request& block) const;

    // Reads a block for upload: its length, or -1 (also for an unknown torrent).
    [[nodiscard]] std::int64_t
    read_block(std::string_view info_hash, block_request& block, std::span<std::byte> out);

    [[nodiscard]] torrent_table& table() noexcept { return m_table; }

    [[nodiscard]] const std::string& selection_folder() const noexcept { return m_selection_folder; }

private:
    picker_factory m_make_picker;
    std::string m_selection_folder;
    torrent_table m_table;
};

} // namespace torrent
