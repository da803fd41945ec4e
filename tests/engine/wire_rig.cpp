#include "wire_rig.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/event.h"
#include "net/bittorrent_recognizer.h"
#include "net/connection_record.h"
#include "net/peer_wire.h"

namespace torrent::test
{

namespace
{

std::pair<unique_fd, unique_fd> socket_pair()
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return {};
    return {unique_fd(fds[0]), unique_fd(fds[1])};
}

std::span<const std::byte> bytes_of(std::string_view s)
{
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

} // namespace

std::string handshake_text(std::string_view info_hash_text, std::string_view peer_id)
{
    std::string out(wire::handshake_size, '\0');
    const wire::info_hash_bytes hash = wire::hash_bytes_of(info_hash_text);
    wire::write_handshake(
        std::span<std::byte, wire::handshake_size>(
            reinterpret_cast<std::byte*>(out.data()), wire::handshake_size),
        hash,
        peer_id);
    return out;
}

std::uint32_t u32_at(const std::string& s, std::size_t at)
{
    return wire::get_u32(reinterpret_cast<const std::byte*>(s.data() + at));
}

std::string all_pieces_bitfield(std::uint32_t pieces)
{
    std::string bits((pieces + 7) / 8, '\0');
    for (std::uint32_t i = 0; i < pieces; ++i)
        bits[i / 8] = static_cast<char>(bits[i / 8] | (0x80 >> (i % 8)));
    return bits;
}

void serve_requests(
    scripted_peer& peer,
    const made_torrent& t,
    const std::vector<wire_message>& ms,
    bool corrupt,
    std::size_t most)
{
    std::size_t served = 0;
    for (const wire_message& m : ms)
    {
        if (m.id != wire::request)
            continue;
        if (served++ == most)
            break;
        const std::uint32_t index = u32_at(m.payload, 0);
        const std::uint32_t begin = u32_at(m.payload, 4);
        const std::uint32_t length = u32_at(m.payload, 8);
        std::string block = t.payload.substr(std::size_t{index} * t.piece_length + begin, length);
        if (corrupt)
            block[0] = static_cast<char>(block[0] ^ 1);
        peer.send_message(wire::piece, u32(index) + u32(begin) + block);
    }
}

std::string u32(std::uint32_t v)
{
    std::string s(4, '\0');
    wire::put_u32(reinterpret_cast<std::byte*>(s.data()), v);
    return s;
}

std::string request_payload(std::uint32_t index, std::uint32_t begin, std::uint32_t length)
{
    return u32(index) + u32(begin) + u32(length);
}

std::string other_id(int n)
{
    std::string id = "-LT2080-000000000000";
    const std::string digits = std::to_string(n);
    id.replace(id.size() - digits.size(), digits.size(), digits);
    return id;
}

void scripted_peer::send(std::string_view bytes)
{
    std::size_t sent = 0;
    int waits = 0;
    while (sent < bytes.size())
    {
        const ssize_t n = ::send(m_fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
        {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN && ++waits < 200)
        {
            // The connection reads only when its loop runs.
            if (m_on_blocked)
                m_on_blocked();
            pollfd p{m_fd.get(), POLLOUT, 0};
            ::poll(&p, 1, 5);
            continue;
        }
        return; // closed
    }
}

void scripted_peer::send_message(std::uint8_t id, std::string_view payload)
{
    std::string m = u32(static_cast<std::uint32_t>(payload.size() + 1));
    m.push_back(static_cast<char>(id));
    m.append(payload);
    send(m);
}

void scripted_peer::send_length(std::uint32_t length)
{
    send(u32(length));
}

void scripted_peer::send_handshake(std::string_view info_hash_text, std::string_view peer_id)
{
    send(handshake_text(info_hash_text, peer_id));
}

void scripted_peer::receive()
{
    char buf[65536];
    for (;;)
    {
        const ssize_t n = ::recv(m_fd.get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
        {
            m_inbox.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            m_closed = true;
        break;
    }
    if (!m_had_handshake && m_inbox.size() >= wire::handshake_size)
    {
        m_handshake = m_inbox.substr(0, wire::handshake_size);
        m_inbox.erase(0, wire::handshake_size);
        m_had_handshake = true;
    }
}

std::vector<wire_message> scripted_peer::messages()
{
    receive();
    std::vector<wire_message> out;
    if (!m_had_handshake)
        return out;
    std::size_t pos = 0;
    while (m_inbox.size() - pos >= 4)
    {
        const std::uint32_t length = wire::get_u32(reinterpret_cast<const std::byte*>(m_inbox.data() + pos));
        if (m_inbox.size() - pos - 4 < length)
            break;
        wire_message m;
        if (length == 0)
        {
            m.id = wire::keep_alive;
        }
        else
        {
            m.id = static_cast<std::uint8_t>(m_inbox[pos + 4]);
            m.payload = m_inbox.substr(pos + 5, length - 1);
        }
        out.push_back(std::move(m));
        pos += 4 + length;
    }
    m_inbox.erase(0, pos);
    return out;
}

bool scripted_peer::closed()
{
    receive();
    return m_closed;
}

wire_rig::wire_rig(rig_options options)
    : home("ZORVIK_HOME", dir.path() + "/home/")
    , loop(clock, event_loop::options{false})
{
    torrent = make_single_file("payload.bin", pattern_bytes(options.size, 7), options.piece_length);
    save = dir / "save";
    if (options.seeding)
    {
        // The payload and a piece-state file that says every piece is present (trusted
        // at open, so no check runs).
        write_payload(save, {payload_file{{"payload.bin"}, torrent.payload}});
        std::string bitmap((torrent.piece_count + 7) / 8, '\0');
        for (std::uint32_t i = 0; i < torrent.piece_count; ++i)
            bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (0x80 >> (i % 8)));
        dir.write("home/" + torrent.info_hash, bitmap);
    }
    pool = std::make_unique<TaskPool>(options.slots);
    pool->set_data_folder(dir.path() + "/home/");
    pool->configure_slots(options.peers_per_task, upload, download);
    task_network net;
    net.loop = &loop;
    net.own_peer_id = std::string(own_id);
    net.time = &clock;
    pool->use_network(net);
    task = open(torrent, "t.torrent");
}

wire_rig::~wire_rig()
{
    pool.reset();
}

Task* wire_rig::open(const made_torrent& t, const std::string& name)
{
    open_task_result result{};
    Task* opened = pool->OpenTask(announcer, dir.write(name, t.bytes), save, result);
    EXPECT_NE(opened, nullptr) << static_cast<int>(result);
    if (opened != nullptr && result == open_task_result::needs_check)
    {
        event stop;
        EXPECT_GT(opened->check_existing_data(stop), 0);
    }
    return opened;
}

std::optional<scripted_peer> wire_rig::incoming(std::string_view peer_id, std::string_view extra)
{
    return incoming_for(*task, torrent.info_hash, peer_id, extra);
}

std::optional<scripted_peer> wire_rig::incoming_for(
    Task& target, std::string_view info_hash, std::string_view peer_id, std::string_view extra)
{
    return incoming_from(target, info_hash, peer_id, extra, 0x7F000001 + (m_next_port - 40000U));
}

std::optional<scripted_peer> wire_rig::incoming_at(std::uint32_t ip, std::string_view peer_id)
{
    return incoming_from(*task, torrent.info_hash, peer_id, {}, ip);
}

std::optional<scripted_peer> wire_rig::incoming_from(
    Task& target,
    std::string_view info_hash,
    std::string_view peer_id,
    std::string_view extra,
    std::uint32_t ip)
{
    auto [ours, theirs] = socket_pair();
    BitTorrentRecognizer recognizer(*pool);
    ConnectionRecord record;
    record.endpoint.ip = ip;
    record.endpoint.port = m_next_port++;
    record.live = 1;
    record.socket = std::move(ours);
    const std::string bytes = handshake_text(info_hash, peer_id) + std::string(extra);
    if (recognizer.recognize(bytes_of(bytes), record, 0, 0) != recognize_result::taken)
        return std::nullopt;
    for (std::size_t i = 0; i < target.record_count(); ++i)
    {
        if (target.record(i).endpoint.port == record.endpoint.port)
            m_last_record = i;
    }
    pump();
    return scripted_peer(std::move(theirs), [this] { pump(2); });
}

scripted_peer wire_rig::outgoing(std::uint16_t port)
{
    auto [ours, theirs] = socket_pair();
    PeerEndpoint ep;
    ep.ip = 0x7F000001 + 0x100U * m_outgoing++; // 127.0.0.1 first, then a host of its own each
    ep.port = port;
    peer_slot* slot = task->take_peer_slot(ep);
    EXPECT_NE(slot, nullptr);
    for (std::size_t i = 0; i < task->record_count(); ++i)
    {
        if (&task->record(i) == slot)
            m_last_record = i;
    }
    PeerConnection& c = PeerConnection::ready_for(*task, *slot);
    slot->outgoing.store(true);
    c.attach(std::move(ours), PeerConnection::socket_mask);
    pump();
    return scripted_peer(std::move(theirs), [this] { pump(2); });
}

void wire_rig::pump(int turns)
{
    for (int i = 0; i < turns; ++i)
        loop.run_once(0);
}

void wire_rig::ticks(int n)
{
    for (int i = 0; i < n; ++i)
    {
        clock.advance(event_loop::tick_period_ms);
        loop.tick();
        pump();
    }
}

PeerConnection* wire_rig::connection(std::size_t record_index) const
{
    return task->record(record_index).connection.get();
}

PeerConnection* wire_rig::last_connection() const
{
    return connection(m_last_record);
}

} // namespace torrent::test
