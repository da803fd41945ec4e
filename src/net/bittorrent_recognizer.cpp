#include "net/bittorrent_recognizer.h"

#include <algorithm>

#include "net/connection_record.h"
#include "net/event_loop.h"
#include "net/peer_connection.h"
#include "net/peer_wire.h"

namespace torrent
{

recognize_result BitTorrentRecognizer::recognize(
    std::span<const std::byte> input, ConnectionRecord& record, tick_t /*created*/, tick_t /*now*/)
{
    if (record.endpoint.result != 0)
        return recognize_result::reject;
    if (!wire::protocol_prefix_matches(input.first(std::min<std::size_t>(input.size(), 20))))
        return recognize_result::not_mine;
    if (input.size() < wire::handshake_size)
        return recognize_result::need_more;

    const std::string hash = wire::hash_text_of(input.subspan(wire::info_hash_offset, 20));
    ConnectionRecord copy;
    copy.endpoint = record.endpoint;
    copy.live = record.live;
    copy.socket = std::move(record.socket);
    copy.owner = record.owner;
    copy.carry_after(input, wire::handshake_size);
    const accept_result r =
        accept_incoming(copy, hash, input.subspan(wire::peer_id_offset, wire::peer_id_size));
    // A socket not taken goes back to the poller's object, which closes it.
    record.socket = std::move(copy.socket);
    return r == accept_result::taken ? recognize_result::taken : recognize_result::reject;
}

accept_result BitTorrentRecognizer::accept_incoming(
    ConnectionRecord& record, std::string_view info_hash, std::span<const std::byte> peer_id)
{
    peer_host* host = m_directory.find_host(info_hash);
    if (host == nullptr)
        return accept_result::refused;
    // A task that has everything only takes peers while it seeds.
    if (host->IsComplete() && host->state() != task_state::complete)
        return accept_result::refused;

    std::size_t n = 0;
    while (n < peer_id.size() && n < wire::peer_id_size && peer_id[n] != std::byte{0})
        ++n;
    const std::string_view id_text(reinterpret_cast<const char*>(peer_id.data()), n);
    if (host->is_peer_id_unwelcome(id_text, true))
        return accept_result::refused;

    // The id goes with the endpoint: the task lets a peer of ours on a LAN address share
    // an address with another connection.
    record.endpoint.set_peer_id(peer_id.data(), peer_id.size());
    peer_slot* slot = host->take_peer_slot(record.endpoint);
    if (slot == nullptr)
    {
        host->forget_peer(0, id_text);
        return accept_result::refused;
    }
    slot->id_registered.store(id_text.size() == wire::peer_id_size);
    slot->outgoing.store(false);

    std::vector<std::byte> carried = std::move(record.carried);
    // The call waits for its answer, so the socket is moved out of the record only when
    // the network thread runs it.
    const int taken = host->network_loop().call(
        [host, slot, &record, peer_id, &carried]() -> int
        {
            PeerConnection& connection = PeerConnection::ready_for(*host, *slot);
            // The poller read the handshake: the next bytes are a message length.
            connection.prepare_incoming(std::move(carried));
            host->set_peer_id(*slot, peer_id);
            connection.attach(std::move(record.socket), PeerConnection::socket_mask);
            return 1;
        });
    if (taken != 1)
    {
        // The network thread is gone: the socket stays with the poller, which closes it.
        host->peer_connect_failed(*slot);
        return accept_result::refused;
    }
    return accept_result::taken;
}

} // namespace torrent
