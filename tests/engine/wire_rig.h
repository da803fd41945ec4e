#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "engine/rate_meter.h"
#include "engine/task_announcer.h"
#include "engine/task_pool.h"
#include "net/event_loop.h"
#include "net/peer_connection.h"
#include "support/process_env.h"
#include "support/temp_dir.h"
#include "torrent_maker.h"

namespace torrent::test
{

// A message as the scripted peer saw it: id (keep_alive for a zero length) and payload.
struct wire_message
{
    std::uint8_t id = 0;
    std::string payload;
};

// The far end of a peer connection, played by the test over a socket pair: it writes
// whatever bytes the test wants and reads what the connection sends.
class scripted_peer
{
public:
    // `on_blocked` runs while a send waits for room (the rig pumps its loop there).
    explicit scripted_peer(unique_fd fd, std::function<void()> on_blocked = {})
        : m_fd(std::move(fd))
        , m_on_blocked(std::move(on_blocked))
    {
    }

    void send(std::string_view bytes);
    void send_message(std::uint8_t id, std::string_view payload = {});
    void send_length(std::uint32_t length); // a bare length prefix
    void send_handshake(std::string_view info_hash_text, std::string_view peer_id);

    // Reads what has arrived. The first 68 bytes are the connection's handshake.
    void receive();

    [[nodiscard]] bool handshake_received() const { return m_inbox.size() >= 68 || m_had_handshake; }

    [[nodiscard]] std::string handshake() const { return m_handshake; }

    // Every complete message after the handshake (taken out of the inbox).
    std::vector<wire_message> messages();
    // True once the connection closed its end.
    [[nodiscard]] bool closed();

    [[nodiscard]] int fd() const noexcept { return m_fd.get(); }

private:
    unique_fd m_fd;
    std::function<void()> m_on_blocked;
    std::string m_inbox;
    std::string m_handshake;
    bool m_had_handshake = false;
    bool m_closed = false;
};

// The 68-byte handshake a peer sends for the torrent.
std::string handshake_text(std::string_view info_hash_text, std::string_view peer_id);

// The 4-byte big-endian integer at `at`.
std::uint32_t u32_at(const std::string& s, std::size_t at);
// A bitfield payload with every piece set.
std::string all_pieces_bitfield(std::uint32_t pieces);
// Answers every request among the messages with the right block (or a corrupted one), at
// most `most` of them.
void serve_requests(
    scripted_peer& peer,
    const made_torrent& t,
    const std::vector<wire_message>& ms,
    bool corrupt = false,
    std::size_t most = 1000);

// Helpers for message payloads.
std::string u32(std::uint32_t v);
std::string request_payload(std::uint32_t index, std::uint32_t begin, std::uint32_t length);

// A stand-in announcer: remembers what opening told it.
class stub_announcer final : public task_announcer
{
public:
    void bind_task(announce_sink&, std::span<const std::string> trackers, bool) override
    {
        bound = true;
        tracker_count = trackers.size();
    }

    void set_check_first(bool check) override { check_first = check; }

    bool bound = false;
    bool check_first = false;
    std::size_t tracker_count = 0;
};

struct rig_options
{
    std::uint32_t piece_length = 32768;
    std::size_t size = 8 * 32768 + 1000; // 9 pieces, the last one short
    bool seeding = false; // the payload is on disk and checked: the task seeds
    std::uint8_t slots = 2;
    std::uint16_t peers_per_task = 4;
};

// A task pool with one torrent open, its connections on a loop the test drives itself with
// a manual clock (no periodic tick, no threads).
class wire_rig
{
public:
    explicit wire_rig(rig_options options = {});
    ~wire_rig();
    wire_rig(const wire_rig&) = delete;
    wire_rig& operator=(const wire_rig&) = delete;

    // An incoming peer: its handshake (and any bytes sent right after it) goes through the
    // BitTorrent recognizer. Empty when the recognizer did not take the socket.
    std::optional<scripted_peer> incoming(std::string_view peer_id, std::string_view extra = {});
    std::optional<scripted_peer> incoming_for(
        Task& task, std::string_view info_hash, std::string_view peer_id, std::string_view extra = {});
    // An incoming peer from the given address (host order; each other helper gives every
    // peer an address of its own).
    std::optional<scripted_peer> incoming_at(std::uint32_t ip, std::string_view peer_id);
    // An outgoing connection to a scripted peer; it sends its handshake first.
    scripted_peer outgoing(std::uint16_t port = 7000);

    // Runs the loop's ready work; then `n` ticks of 50 ms.
    void pump(int turns = 8);
    void ticks(int n);

    // The connection of the record that was taken last.
    [[nodiscard]] PeerConnection* connection(std::size_t record_index) const;
    [[nodiscard]] PeerConnection* last_connection() const;

    // Opens another torrent in the pool (for tests of several tasks).
    Task* open(const made_torrent& t, const std::string& name);

    temp_dir dir;
    scoped_env home;
    manual_clock clock{1000};
    event_loop loop;
    RateMeter upload;
    RateMeter download;
    std::unique_ptr<TaskPool> pool;
    made_torrent torrent;
    stub_announcer announcer;
    Task* task = nullptr;
    std::string save;
    static constexpr std::string_view own_id = "ZRV\x05\xff\xff\x0a\xde\xb2"
                                               "ABCDEFGHIJK";

private:
    // Each scripted peer is a host of its own unless told (a task takes one connection
    // per address).
    std::optional<scripted_peer> incoming_from(
        Task& task,
        std::string_view info_hash,
        std::string_view peer_id,
        std::string_view extra,
        std::uint32_t ip);

    std::uint16_t m_next_port = 40000;
    std::uint32_t m_outgoing = 0;
    std::size_t m_last_record = 0;
};

// A peer id of another client, unique per number.
std::string other_id(int n);

} // namespace torrent::test
