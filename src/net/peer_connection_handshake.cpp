// The handshake steps of a peer connection: sending ours and reading the peer's on an
// outgoing connection.
#include <cstring>

#include "net/peer_connection.h"
#include "net/peer_id.h"

namespace torrent
{

PeerConnection::step PeerConnection::send_handshake()
{
    const step s = write_from(m_send.buffer.data(), m_send.length, m_send.done);
    if (s != step::next)
        return s;

    // Our handshake is out: the bitfield follows when we have anything to announce.
    m_send.buffer.fill(std::byte{0});
    m_send.done = 0;
    m_send.length = 0;
    m_send_state = send_state::idle;
    torrent_data* torrent = m_host.torrent();
    if (torrent == nullptr)
        return close(close_reason::no_torrent);
    bitfield bits;
    torrent->copy_have_wanted(bits);
    if (!bits.none())
    {
        const auto bytes = bits.bytes();
        m_bitfield_out.assign(bytes.begin(), bytes.end());
        queue_header(wire::bitfield, static_cast<std::uint32_t>(bytes.size() + 1), 1);
        m_send_state = send_state::buffer;
    }
    // An outgoing connection waits for the peer's handshake before it says more.
    return awaiting_handshake() ? step::stop : step::next;
}

PeerConnection::step PeerConnection::read_handshake()
{
    constexpr auto size = static_cast<std::uint32_t>(wire::handshake_size);
    if (m_recv.done == 0)
    {
        // The length byte first, then the rest, whatever the length byte said.
        const step s = read_into(m_recv.buffer.data(), 1, m_recv.done);
        if (s != step::next)
            return s;
    }
    const step s = read_into(m_recv.buffer.data(), size, m_recv.done);
    if (s != step::next)
        return s;
    m_recv.done = 0;

    const std::span<const std::byte, wire::handshake_size> hs(m_recv.buffer.data(), wire::handshake_size);
    m_host.set_peer_id(m_slot, hs.subspan(wire::peer_id_offset, wire::peer_id_size));
    const std::string_view id = wire::peer_id_text_of(hs);

    // A peer of ours carries its own address in its id: a second way to reach it.
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    const PeerEndpoint& ep = m_slot.endpoint;
    if (id.size() == wire::peer_id_size && ep.alt_ip == 0 && decode_peer_id(id, ip, port))
        m_host.set_alternate_address(ip, port, ep.ip_in_use(), ep.port_in_use());

    if (std::to_integer<std::uint8_t>(hs[0]) != wire::protocol.size()
        || std::memcmp(hs.data() + 1, wire::protocol.data(), wire::protocol.size()) != 0)
        return close(close_reason::bad_handshake);

    const std::span<const std::byte> hash = hs.subspan(wire::info_hash_offset, 20);
    if (std::memcmp(hash.data(), m_hash.data(), m_hash.size()) != 0)
    {
        // Another torrent: nothing more is read as messages; the next readable event (or
        // the inactivity rule) ends the connection.
        m_close_reason = close_reason::bad_handshake;
        m_recv_state = receive_state::dead;
        return step::stop;
    }

    // Ourselves, or a peer already connected to this task (perhaps over an incoming
    // connection): one connection per peer is enough.
    if (m_host.is_peer_id_unwelcome(id, true))
        return close(close_reason::unwelcome);
    m_slot.id_registered.store(id.size() == wire::peer_id_size);

    m_recv_state = receive_state::next_message;
    mark_active();
    // What waited for the peer's handshake (our bitfield) goes now.
    run_send(false);
    return m_open ? step::next : step::closed;
}

} // namespace torrent
