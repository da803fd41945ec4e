#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/tick.h"
#include "net/handshake_recognizer.h"

namespace torrent
{

class peer_host;

// Where an incoming peer finds the task of its torrent. Implemented by the engine's task
// pool. Called on the poller thread.
class peer_host_directory
{
public:
    virtual ~peer_host_directory() = default;

    // The task that runs the torrent with this info-hash text, or null.
    [[nodiscard]] virtual peer_host* find_host(std::string_view info_hash) = 0;
};

// Answer of accept_incoming.
enum class accept_result : std::int8_t
{
    refused = -1,
    taken = 1,
};

// Recognizes the BitTorrent handshake on an incoming socket and hands the socket to a
// peer connection of the task named by its info-hash. Bytes the peer sent after its
// handshake go with the socket to the connection, which reads them first.
// Owner: the handshake dispatcher. Runs on: poller thread.
class BitTorrentRecognizer final : public HandshakeRecognizer
{
public:
    explicit BitTorrentRecognizer(peer_host_directory& directory) noexcept
        : m_directory(directory)
    {
    }

    // not_mine for anything that does not start like a handshake; need_more until 68 bytes
    // are queued; then taken or reject (accept_incoming).
    [[nodiscard]] recognize_result recognize(
        std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now) override;

    // Finds the task, checks that it takes this peer (not complete without seeding, not our
    // own id, not an id already connected, a free peer record), then makes or resets the
    // record's connection on the network thread and attaches the socket to it. `peer_id`
    // is the 20 raw id bytes of the handshake.
    [[nodiscard]] accept_result
    accept_incoming(ConnectionRecord& record, std::string_view info_hash, std::span<const std::byte> peer_id);

private:
    peer_host_directory& m_directory;
};

} // namespace torrent
