#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/tick.h"

namespace torrent
{

struct ConnectionRecord;

// What a recognizer says about the first bytes of an incoming socket.
enum class recognize_result : std::uint8_t
{
    not_mine = 0, // not this protocol
    need_more = 1, // this protocol, more bytes needed
    taken = 2, // the socket now belongs to the recognizer's side
    reject = 3 // close the socket
};

// Decides from the bytes an incoming socket has sent so far what it is. The dispatcher
// asks its recognizers in turn; the engine registers the BitTorrent one.
// Runs on: poller thread.
class HandshakeRecognizer
{
public:
    virtual ~HandshakeRecognizer() = default;

    // `input`: every byte read from the socket so far; `created`: when the socket was
    // accepted; `now`: the pass's time. A recognizer that answers `taken` has moved
    // `record.socket` out and keeps any bytes past the handshake in `record.carried`.
    [[nodiscard]] virtual recognize_result
    recognize(std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now) = 0;
};

// The guard the dispatcher always asks first: an incoming socket that has queued more than
// 512 bytes, or has been open for more than 60 s, without any recognizer taking it is
// rejected. Otherwise it has no opinion.
class HandshakeGuard final : public HandshakeRecognizer
{
public:
    static constexpr std::size_t max_unidentified_bytes = 512;
    static constexpr tick_t max_unidentified_ms = 60000;

    [[nodiscard]] recognize_result recognize(
        std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now) override;
};

} // namespace torrent
