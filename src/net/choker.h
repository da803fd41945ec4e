#pragma once

#include <cstdint>
#include <optional>

#include "net/peer_wire.h"

namespace torrent
{

// Whether we choke one peer, and the rule that decides it: the peer's interest alone. A
// peer that says interested is unchoked, one that says not interested is choked; there is
// no periodic recalculation, no optimistic unchoke and no slot count, so every interested
// peer is served, limited only by the upload meter.
// Owned by its peer connection. Runs on: network thread.
class choker
{
public:
    // A fresh connection chokes its peer and believes it is not interested.
    void reset() noexcept
    {
        m_choking = true;
        m_pending = false;
        m_peer_interested = false;
    }

    [[nodiscard]] bool choking() const noexcept { return m_choking; }

    [[nodiscard]] bool peer_interested() const noexcept { return m_peer_interested; }

    [[nodiscard]] bool change_pending() const noexcept { return m_pending; }

    // The peer's interested / not interested messages. True when our choke state changed;
    // the connection then marks itself active and composes soon.
    bool on_interested() noexcept;
    bool on_not_interested() noexcept;

    // Changes the choke state; the matching message goes out first on the next compose.
    // False (and nothing scheduled) when the state is already the one asked for.
    bool set_choke(bool choke) noexcept;

    // Requests that arrive while we choke the peer are dropped, not kept for later.
    [[nodiscard]] bool accepts_request() const noexcept { return !m_choking; }

    // Block data goes out only to an unchoked peer that has been told so.
    [[nodiscard]] bool may_send_block() const noexcept { return !m_choking && !m_pending; }

    // Compose: the choke or unchoke id to queue first, once per change. After a choke the
    // connection empties the peer's upload queue.
    [[nodiscard]] std::optional<std::uint8_t> take_message() noexcept;

private:
    bool m_choking = true;
    bool m_pending = false;
    bool m_peer_interested = false;
};

} // namespace torrent
