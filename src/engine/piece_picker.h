#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/piece_picker_bits.h"
#include "net/peer_have_result.h"
#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/picker_sink.h"

namespace torrent
{

// The engine names each peer of a torrent by its peer record's slot in the task, so the
// picker's peer keys are small and dense (below 65535).
inline constexpr peer_key no_peer = ~peer_key{0};

inline constexpr std::uint32_t picker_block_size = 16384;

enum class block_state : std::uint8_t
{
    free = 0,
    requested = 1,
    received = 2,
};

// How the check of a piece ended, and who sent its blocks (each peer once).
struct piece_verdict
{
    std::uint32_t piece = 0;
    bool passed = false;
    std::vector<peer_key> peers;
};

enum class pick_result : std::uint8_t
{
    no_bitfield = 0, // the peer has sent no bitfield and no have
    picked = 1,
    nothing = 2, // no block can be asked of this peer now
};

// Chooses the blocks each peer is asked for and keeps the state of every block of the
// pieces being downloaded; keeps each peer's bitfield and the availability of every piece.
// One per torrent, owned by its torrent data. Runs on: network thread only.
//
// Our own pieces come from the owner: `assign_have` after load or a full check, and
// `set_have(i, true)` when piece i has been verified, which also ends its download entry.
class PiecePicker final : public picker_sink
{
public:
    // Returns a value below `bound` (bound > 0); used to pick where a piece search starts.
    using random_source = std::function<std::uint32_t(std::uint32_t bound)>;

    PiecePicker(
        std::uint32_t piece_count,
        std::uint32_t piece_length,
        std::uint64_t total_length,
        std::uint64_t seed);

    [[nodiscard]] std::uint32_t piece_count() const noexcept { return m_piece_count; }

    [[nodiscard]] std::uint32_t piece_size(std::uint32_t piece) const noexcept;

    [[nodiscard]] std::uint32_t blocks_in_piece(std::uint32_t piece) const noexcept;

    // The k-th block of a piece: 16384-byte blocks, then the shorter remainder if any.
    [[nodiscard]] block_request block_at(std::uint32_t piece, std::uint32_t k) const noexcept;

    // Replaces the search's random start (tests).
    void set_random_source(random_source source) { m_random = std::move(source); }

    // ---- our pieces
    // The whole have bitfield in wire layout; pieces not yet downloaded are clear.
    void assign_have(std::span<const std::uint8_t> bytes);

    void assign_have(const bitfield& have) { assign_have(have.bytes()); }

    // A piece verified (true) or lost (false). Setting it ends its download entry.
    void set_have(std::uint32_t piece, bool have);

    [[nodiscard]] bool have(std::uint32_t piece) const noexcept { return m_have.test(piece); }

    [[nodiscard]] std::uint32_t have_count() const noexcept { return m_have_count; }

    // ---- peers' bitfields
    // Stores the bitfield a peer sent (wire bytes, bit_count bits). False when the size is
    // not the piece count, or when both sides are complete (then nothing is stored);
    // otherwise whether the peer has a piece we lack (its interested flag).
    bool set_peer_bitfield(peer_key peer, std::span<const std::uint8_t> bytes, std::uint32_t bit_count);

    bool set_peer_bitfield(peer_key peer, const bitfield& bits)
    {
        return set_peer_bitfield(peer, bits.bytes(), bits.bit_count());
    }

    // Records a have message. A peer that sent no bitfield (it had nothing) gets an empty one.
    peer_have_result peer_has_piece(peer_key peer, std::uint32_t piece);
    // Recomputes and returns the peer's interested flag (false for an unknown peer).
    bool still_interesting(peer_key peer);
    // Forgets the peer: its bitfield, its share of the availability and its claim on the
    // free blocks of pieces started for it.
    void peer_gone(peer_key peer);
    // True when the bitfield has a piece we do not have; false on a size mismatch.
    [[nodiscard]] bool is_interesting(std::span<const std::uint8_t> bytes, std::uint32_t bit_count) const;

    [[nodiscard]] bool is_interesting(const bitfield& bits) const
    {
        return is_interesting(bits.bytes(), bits.bit_count());
    }

    [[nodiscard]] bool has_bitfield(peer_key peer) const noexcept;

    [[nodiscard]] bool peer_complete(peer_key peer) const noexcept;

    // Number of peers that have the piece.
    [[nodiscard]] std::uint16_t availability(std::uint32_t piece) const noexcept
    {
        return m_availability[piece];
    }

    // ---- blocks
    // Chooses at most one block for the peer and marks it requested by it. `outstanding` is
    // the peer's list of requests not yet answered; the caller appends the chosen block to it.
    [[nodiscard]] pick_result
    pick_block(peer_key peer, std::span<const block_request> outstanding, block_request& chosen);
    // The same, appending the chosen block to the list. False only when the peer has no
    // bitfield; true also when nothing was chosen.
    bool pick_block(peer_key peer, std::vector<block_request>& outstanding);
    // A block arrived; true when this call completed its piece.
    bool mark_received(peer_key peer, const block_request& block) override;

    [[nodiscard]] bool is_received(const block_request& block) const override;
    // A requested block becomes free again (choke, disconnect, skipped by the peer).
    void release(const block_request& block);
    // The piece failed its check: forget its blocks so it can be started again from scratch.
    // Throws base_error (not available) when the piece is not being downloaded.
    void drop_piece(std::uint32_t piece) override;

    // The piece passed its check and is recorded: set_have(piece, true), and a verdict.
    void piece_passed(std::uint32_t piece) override;

    // Moves the verdicts of the checks since the last call into `out`: the owner judges
    // its peers by them (a peer that only ever sends pieces that fail is dropped). At most
    // max_verdicts wait; older ones are forgotten.
    void take_verdicts(std::vector<piece_verdict>& out);
    static constexpr std::size_t max_verdicts = 64;

    // Pieces started and not yet verified or dropped (including complete ones being checked).
    [[nodiscard]] bool is_in_progress(std::uint32_t piece) const noexcept
    {
        return m_in_progress.test(piece);
    }

    [[nodiscard]] std::size_t partial_piece_count() const noexcept
    {
        return m_pieces.size() - m_dead_entries;
    }

    // State and owner of a block of a piece being downloaded (tests, display).
    [[nodiscard]] block_state state_of(const block_request& block) const noexcept;

    // no_peer for a free block nobody keeps.
    [[nodiscard]] peer_key owner_of(const block_request& block) const noexcept;

private:
    // Inside, peers are 32-bit slot numbers.
    using peer_slot_t = std::uint32_t;
    static constexpr peer_slot_t no_slot = 0xFFFFFFFF;

    struct block_slot
    {
        peer_slot_t owner = no_slot;
        block_state state = block_state::free;
    };

    // A piece with blocks still to come, in the order pieces were started.
    struct piece_entry
    {
        std::uint32_t index = 0;
        peer_slot_t starter = no_slot; // the peer the piece was started for
        std::uint32_t free_count = 0;
        std::uint32_t requested_count = 0;
        std::uint32_t received_count = 0;
        std::uint32_t starter_free = 0; // free blocks still owned by the starter
        std::uint32_t first_free = 0; // no free block lies below this one
        std::vector<block_slot> blocks;
    };

    struct peer_entry
    {
        bool present = false;
        bool has_bitfield = false;
        bool interested = false;
        std::uint32_t count = 0; // pieces the peer has
        std::uint32_t wanted = 0; // pieces the peer has and we lack
        std::uint32_t affinity_pieces = 0; // entries started for it with free blocks of its own
        std::uint64_t exhausted_at = ~std::uint64_t{0}; // candidate epoch of a fruitless search
        piece_bits bits;
    };

    static constexpr std::uint32_t no_entry = 0xFFFFFFFF;
    static constexpr peer_slot_t max_peers = 65535; // keeps the 16-bit availability exact

    // The slot of a peer key, or no_slot for a key beyond the table.
    [[nodiscard]] static peer_slot_t slot_of(peer_key peer) noexcept
    {
        return peer < max_peers ? static_cast<peer_slot_t>(peer) : no_slot;
    }

    [[nodiscard]] const peer_entry* find_peer(peer_key peer) const noexcept;
    peer_entry& peer_slot(peer_slot_t peer);

    bool pick_affinity(
        peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out);
    bool pick_new_piece(peer_slot_t peer, peer_entry& p, block_request& out);
    bool
    pick_fill_in(peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out);
    bool pick_end_game(
        peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out);
    [[nodiscard]] std::uint32_t choose_piece(const piece_bits& bits);
    void take_block(piece_entry& e, std::uint32_t k, peer_slot_t peer, block_request& out);

    [[nodiscard]] std::uint32_t block_index(const block_request& block) const noexcept;
    [[nodiscard]] piece_entry* entry_of(std::uint32_t piece) noexcept;
    [[nodiscard]] const piece_entry* entry_of(std::uint32_t piece) const noexcept;
    void start_piece(std::uint32_t piece, peer_slot_t peer);
    void remove_entry(std::uint32_t piece);
    void sweep_entries();
    void lose_starter_block(piece_entry& e);
    void forget_availability(const peer_entry& p) noexcept;
    // Remembers who sent the blocks of a piece that is complete and about to be checked.
    void note_senders(const piece_entry& e);
    void record_verdict(std::uint32_t piece, bool passed);
    std::uint32_t next_random(std::uint32_t bound);

    std::uint32_t m_piece_count;
    std::uint32_t m_piece_length;
    std::uint32_t m_last_piece_length;

    piece_bits m_have;
    std::uint32_t m_have_count = 0;
    piece_bits m_in_progress; // started and not yet verified or dropped
    piece_bits m_complete; // every block received, waiting for the check
    std::vector<std::uint16_t> m_availability;

    std::vector<piece_entry> m_pieces; // partial pieces in start order, with tombstones
    std::size_t m_dead_entries = 0;
    std::vector<std::uint32_t> m_position; // piece -> index in m_pieces, or no_entry
    std::vector<std::vector<block_slot>> m_spare; // block arrays kept for reuse
    std::uint64_t m_free_total = 0;
    std::uint64_t m_requested_total = 0;

    std::vector<peer_entry> m_peers;

    // Complete pieces waiting for their check, with who sent their blocks; then verdicts.
    struct awaiting_check
    {
        std::uint32_t piece = 0;
        std::vector<peer_key> senders;
    };

    std::vector<awaiting_check> m_awaiting;
    std::vector<piece_verdict> m_verdicts;
    // Grows whenever a piece may have become a candidate again (dropped, or a have bit
    // cleared), so a peer's earlier fruitless search is no longer trusted.
    std::uint64_t m_candidate_epoch = 0;

    std::uint64_t m_random_state;
    random_source m_random;
};

} // namespace torrent
