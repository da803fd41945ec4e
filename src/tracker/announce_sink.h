#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/event.h"
#include "net/peer_endpoint.h"
#include "net/task_state.h"
#include "tracker/peer_candidate.h"

namespace torrent
{

// How the task answered a peer address handed to it.
enum class connect_answer : std::uint8_t
{
    connected = 0, // a peer record was taken and the connect queued
    full = 1, // every peer record is in use (no reason given)
    refused = 6, // pending-connect limit reached, or no free record
    known = 7, // the address is already connected or being connected to
};

// What a tracker announcer needs from its task. Implemented by the engine's Task; tests use
// a stand-in. Everything here is called from the announcer's thread: the counters are read
// without the task's locks, connect() takes the task's state lock, and
// take_gathered_addresses() its task lock.
class announce_sink
{
public:
    virtual ~announce_sink() = default;

    // 40 upper-case hexadecimal digits of the torrent's info-hash.
    [[nodiscard]] virtual std::string info_hash_text() const = 0;

    // Stamp that changes whenever the slot is reset or closed; a different stamp means the
    // slot no longer holds the announcer's torrent.
    [[nodiscard]] virtual std::uint64_t generation() const = 0;
    [[nodiscard]] virtual task_state state() const = 0;

    // Counters for the request: bytes sent to peers, bytes of piece data held, total length.
    [[nodiscard]] virtual std::uint64_t uploaded() const = 0;
    [[nodiscard]] virtual std::uint64_t held() const = 0;
    [[nodiscard]] virtual std::uint64_t total_length() const = 0;

    // Checks the data already on disk before the first announce. Answers the number of
    // pieces found present, or a negative number when the check was stopped (through
    // `stop`) or failed. Zero pieces present is a fresh download, not a failure: the task
    // then goes on downloading (and leaves its checking state).
    virtual int check_existing_data(event& stop) = 0;

    // Hands one peer address to the task. The endpoint carries the address to try and, for
    // a peer whose internal address is known, the alternate pair; the answer's code is also
    // left in its result byte.
    virtual connect_answer Connect(PeerEndpoint& endpoint) = 0;

    // Moves the addresses the task's connections gathered from peer ids of ours into `out`
    // and clears the task's list (under the task lock).
    virtual void take_gathered_addresses(std::vector<PeerCandidate>& out) = 0;

    // The number of peer addresses learned from trackers, for the task's display.
    virtual void set_tracker_peer_count(std::size_t count) = 0;

    // A tracker refused the announce with a reason of its own (already made safe to show),
    // or, with an empty reason, accepted one again after refusing: for the task's display.
    virtual void set_tracker_failure(const std::string& url, const std::string& reason) = 0;

    // Set when the announcer ends while the task is still its own and active, so the window
    // stops the task.
    virtual void set_announcer_ended() = 0;
};

} // namespace torrent
