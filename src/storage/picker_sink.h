#pragma once

#include <cstdint>

#include "storage/block_request.h"

namespace torrent
{

// Who sent a block: an opaque key the download engine gives each peer record.
using peer_key = std::uintptr_t;

// What block writes need from the download engine's piece picker: which blocks of the
// pieces in progress are already held, and whether a piece is complete. The engine's
// PiecePicker implements it; the torrent data owns one per torrent.
// Runs on: the network thread, with the torrent's I/O lock held (see torrent_data), so an
// implementation must not call back into the torrent data's locking operations.
class picker_sink
{
public:
    virtual ~picker_sink() = default;

    // Records the block as received from `peer`; true when this completed its piece.
    virtual bool mark_received(peer_key peer, const block_request& block) = 0;

    // True when the block has already been received.
    [[nodiscard]] virtual bool is_received(const block_request& block) const = 0;

    // Forgets the piece (its hash check failed) so it can be started again from scratch.
    virtual void drop_piece(std::uint32_t index) = 0;

    // The piece passed its hash check and is recorded; nothing more will arrive for it.
    virtual void piece_passed(std::uint32_t /*index*/) {}
};

} // namespace torrent
