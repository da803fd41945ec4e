#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/tick.h"
#include "net/connect_owner.h"
#include "net/peer_have_result.h"
#include "net/peer_link.h"
#include "net/task_state.h"
#include "storage/bitfield.h"
#include "storage/block_request.h"
#include "storage/picker_sink.h"
#include "storage/torrent_data.h"

namespace torrent
{

class PeerConnection;
class event_loop;

// The part of a task's peer record that the handshake and the peer connection work with.
// The engine's PeerRecord derives from it. The counters are read by the window without a
// lock; everything else is written under the task's state lock or on the network thread.
struct peer_slot : peer_link
{
    // The record's connection, made on first use and reused (reset) afterwards. Created,
    // reset and destroyed on the network thread only.
    std::unique_ptr<PeerConnection> connection;
    std::atomic<std::uint32_t> have_count{0}; // have messages (and bitfield bits) received
    std::atomic<std::uint64_t> uploaded{0}; // block bytes sent to the peer
    std::atomic<std::uint64_t> downloaded{0}; // block bytes received from it
    std::atomic<bool> outgoing{false};
    // The peer id was registered on the task by this record's handshake, so closing the
    // record unregisters it (a refused duplicate must not unregister the id it collided with).
    std::atomic<bool> id_registered{false};
    // The record's index in its task: the piece picker's key for this peer.
    peer_key key = 0;

    peer_slot();
    peer_slot(const peer_slot&) = delete;
    peer_slot& operator=(const peer_slot&) = delete;

protected:
    ~peer_slot();
};

// What a peer connection and the handshake need from the task they serve: its identity and
// state, its peer bookkeeping, its torrent's piece picker, its counters and rate meters.
// Implemented by the engine's Task.
//
// Threads: state, generation and the counters may be read anywhere; the peer bookkeeping
// (is_peer_id_unwelcome .. set_alternate_address) takes the task's locks and is called from
// the poller and network threads; everything else is network-thread only.
class peer_host : public connect_owner
{
public:
    // ---- identity and state
    [[nodiscard]] virtual task_state state() const = 0;
    // Bytes held cover the total length.
    [[nodiscard]] virtual bool IsComplete() const = 0;
    [[nodiscard]] virtual std::string_view info_hash() const = 0;
    [[nodiscard]] virtual std::string_view own_peer_id() const = 0;
    [[nodiscard]] virtual event_loop& network_loop() = 0;
    // The torrent's storage, or null once the task has let it go.
    [[nodiscard]] virtual torrent_data* torrent() = 0;

    // ---- peers (task locks; poller and network threads)
    // True (refuse) for our own id, a free task, a complete task that is not seeding, or an
    // id already known; otherwise false, remembering a 20-byte id when asked.
    [[nodiscard]] virtual bool is_peer_id_unwelcome(std::string_view peer_id, bool remember) = 0;
    // A free record set up for the endpoint, or null.
    [[nodiscard]] virtual peer_slot* take_peer_slot(const PeerEndpoint& endpoint) = 0;
    virtual void forget_peer(std::uint64_t address_key, std::string_view peer_id) = 0;
    // A peer of ours told us its internal address: gather it for the announcer.
    virtual void set_alternate_address(
        std::uint32_t decoded_ip,
        std::uint16_t decoded_port,
        std::uint32_t ip_in_use,
        std::uint16_t port_in_use) = 0;
    // The record behind a poller link, when it is one of this task's; else null.
    [[nodiscard]] virtual peer_slot* slot_of(const peer_link* link) = 0;
    // Keeps the peer's 20 id bytes in the record and its client text (recognised).
    virtual void set_peer_id(peer_slot& slot, std::span<const std::byte> id) = 0;

    // ---- pieces (network thread)
    [[nodiscard]] virtual std::uint32_t piece_count() const = 0;
    [[nodiscard]] virtual std::uint32_t piece_size(std::uint32_t index) const = 0;
    // The piece is verified here and may be served.
    [[nodiscard]] virtual bool have_piece(std::uint32_t index) const = 0;
    // Appends at most one block to ask the peer for; false when the picker cannot pick for
    // this peer at all (no torrent or no bitfield).
    virtual bool pick_block(peer_key peer, std::vector<block_request>& outstanding) = 0;
    virtual void release_block(const block_request& block) = 0;
    // Stores the peer's bitfield; answers whether it has a piece we lack.
    virtual bool set_peer_bitfield(peer_key peer, const bitfield& bits) = 0;
    // A have message: whether the peer now has a piece we lack, and whether it has them all.
    virtual peer_have_result peer_has_piece(peer_key peer, std::uint32_t index) = 0;
    virtual bool still_interesting(peer_key peer) = 0;
    [[nodiscard]] virtual bool peer_complete(peer_key peer) const = 0;
    virtual void peer_gone(peer_key peer) = 0;

    // ---- transfers (network thread)
    [[nodiscard]] virtual bool download_over_limit(tick_t now) const = 0;
    [[nodiscard]] virtual bool upload_over_limit(tick_t now) const = 0;
    // Block bytes moved: the meter, the task's total and the peer's.
    virtual void count_received(peer_slot& slot, std::uint32_t bytes, tick_t now) = 0;
    virtual void count_sent(peer_slot& slot, std::uint32_t bytes, tick_t now) = 0;
    // What storing a received block gave: held bytes, a finished piece announced to every
    // connection of the task (have), the task complete.
    virtual void block_stored(const block_request& block, write_result result) = 0;

protected:
    ~peer_host() override = default;
};

} // namespace torrent
