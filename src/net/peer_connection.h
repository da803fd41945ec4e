#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "base/tick.h"
#include "base/unique_fd.h"
#include "net/choker.h"
#include "net/net_handler.h"
#include "net/peer_host.h"
#include "net/peer_wire.h"
#include "net/receive_state.h"
#include "net/send_state.h"
#include "storage/bitfield.h"
#include "storage/block_request.h"

namespace torrent
{

// How a connection ended, for tests and the display of the last failure.
enum class close_reason : std::uint8_t
{
    none = 0,
    socket = 1, // the peer closed, a read or write failed
    bad_length = 2, // a message length that does not fit its id (or the receive buffer)
    unknown_id = 3,
    bad_have = 5, // a have beyond the piece count
    unrequested_piece = 6, // block data while nothing is outstanding
    compose_failed = 7,
    both_complete = 8, // two seeds
    inactive = 9, // nothing from the peer, and no block data either way, for too long
    bad_handshake = 10, // wrong protocol string, or a handshake for another torrent
    unwelcome = 11, // our own peer id, or one already connected to the task
    task_stopped = 12,
    no_torrent = 13,
    requested = 14, // closed from outside (the task stops)
    corrupt_data = 15, // the task dropped the peer: it sent only pieces that fail their check
};

// One BitTorrent peer wire connection after the TCP connect: the handshake, then choke and
// interest in both directions, requests chosen by the piece picker, blocks stored through
// the torrent's mapped files and blocks served from them, keep-alives and the inactivity
// rule. Two channels (send and receive) each run a small state machine (send_state.h,
// receive_state.h) over a 512-byte buffer; block data moves through one buffer of exactly
// the block's size.
//
// Owner: its peer record (reused through reset when the record is used again). Runs on:
// network thread (construction, reset and destruction included).
class PeerConnection final : public NetHandler
{
public:
    static constexpr std::uint32_t buffer_size = 512;
    // Requests kept outstanding with a peer: at least 16, and as many as the peer's measured
    // rate delivers in 2.5 s (a peer that answers in bursts, or over a long round trip, is
    // not capped at 16 blocks per round), up to 250 blocks (4 MiB in flight), a depth every
    // client takes from a peer that does not say how many it accepts.
    static constexpr std::size_t min_pipeline = 16;
    static constexpr std::size_t max_pipeline = 250;
    static constexpr std::uint64_t pipeline_time_ms = 2500;
    // Blocks one readable report may store; bytes read ahead past them wait for the next.
    static constexpr std::uint32_t max_blocks_per_run = 4;
    // A peer may queue this many requests with us (libtorrent's seeders take 2000). While
    // the queue is full nothing more is read from the peer: its further requests wait in
    // the socket, none is lost, and reading goes on once the queue is down to three
    // quarters.
    static constexpr std::size_t max_upload_queue = 2048;
    static constexpr std::size_t upload_queue_resume = max_upload_queue * 3 / 4;
    static constexpr std::uint32_t tick_divider = 5;
    static constexpr tick_t keep_alive_ms = 10000;
    static constexpr tick_t inactivity_ms = 180000;
    static constexpr std::uint32_t socket_mask = 0x23; // read, write, close

    PeerConnection(event_loop& loop, peer_host& host, peer_slot& slot);
    ~PeerConnection() override;
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    // The record's connection, made when it has none and reset otherwise (network thread).
    static PeerConnection& ready_for(peer_host& host, peer_slot& slot);

    // Clears both channels and every flag; both machines start at the handshake.
    void reset();
    // An incoming connection: its handshake was read by the poller, the next bytes are a
    // message length. `carried` are the bytes read together with the handshake; they are
    // consumed before anything is read from the socket.
    void prepare_incoming(std::vector<std::byte> carried);
    // Sends the handshake over `socket` and starts the connection (or closes it at once when
    // the task is stopping).
    void attach(unique_fd sock, std::uint32_t mask) override;

    int on_closed(int error) override;
    void on_readable(int error) override;
    void on_writable(int error) override;
    void on_tick() override;

    // A piece was verified: announce it, drop requests for it, and re-think our interest.
    void queue_have(std::uint32_t index, bool torrent_complete);
    // We want more than before (files chosen while the task runs): become interested when
    // the peer has a piece we now want.
    void rethink_interest();
    // Changes whether we choke the peer; the message goes out first on the next compose.
    void set_choke(bool choke);
    // The task drops the peer (network thread): the connection closes for `why` and gives
    // its record back. Nothing happens when it is closed already.
    void drop(close_reason why);

    // ---- state, for the task and tests
    [[nodiscard]] bool is_open() const noexcept { return m_open; }

    [[nodiscard]] receive_state receive_machine() const noexcept { return m_recv_state; }

    [[nodiscard]] send_state send_machine() const noexcept { return m_send_state; }

    [[nodiscard]] bool choking_peer() const noexcept { return m_choker.choking(); }

    [[nodiscard]] bool peer_choking() const noexcept { return m_recv.choking; }

    [[nodiscard]] bool interested_in_peer() const noexcept { return m_send.interested; }

    [[nodiscard]] bool peer_interested() const noexcept { return m_choker.peer_interested(); }

    [[nodiscard]] const std::vector<block_request>& outstanding() const noexcept { return m_outstanding; }

    // How many requests we keep outstanding with this peer now.
    [[nodiscard]] std::size_t pipeline() const noexcept { return m_pipeline; }

    // Requests sent together when a stored block frees a slot of the pipeline: an eighth
    // of it, 1 to 16 (16 requests fill 272 of the send buffer's 512 bytes).
    [[nodiscard]] std::size_t refill_step() const noexcept
    {
        return std::clamp<std::size_t>(m_pipeline / 8, 1, 16);
    }

    // The peer's block data rate as last measured (bytes per second).
    [[nodiscard]] std::uint64_t download_rate() const noexcept { return m_rate; }

    [[nodiscard]] const std::deque<block_request>& upload_queue() const noexcept { return m_uploads; }

    [[nodiscard]] close_reason last_close() const noexcept { return m_close_reason; }

    [[nodiscard]] peer_slot& slot() const noexcept { return m_slot; }

    // Compose right after a block has been stored, when a request slot is free and the peer
    // does not choke us (instead of waiting for the next tick). On by default; tests of the
    // tick-only timing turn it off.
    void set_eager_requests(bool on) noexcept { m_eager = on; }

    // The eager setting every connection starts with after a reset (any thread).
    static void set_eager_default(bool on) noexcept;

private:
    struct channel
    {
        std::array<std::byte, buffer_size> buffer{};
        std::uint32_t done = 0;
        std::uint32_t length = 0;
        std::uint32_t message_length = 0; // receive only
        std::uint8_t last_id = wire::none;
        // Receive channel: the peer chokes us; send channel: we are interested in the peer.
        // (Whether we choke the peer, and its interest in us, are the choker's.)
        bool choking = true;
        bool interested = false;
        block_request current; // the block being sent or received
        std::unique_ptr<std::byte[]> block; // exactly current.length bytes (or block_capacity)
        std::uint32_t block_capacity = 0;

        void clear() noexcept;
        // A buffer of exactly n bytes; a held buffer of another length is replaced.
        std::byte* block_buffer(std::uint32_t n);
        void free_block() noexcept;
    };

    // How a step of a machine ended.
    enum class step : std::uint8_t
    {
        next, // go on with the new state
        wait, // wait for the next readable or writable event (or tick)
        stop, // done for this event
        closed, // the connection was closed (nothing more may touch it)
    };

    // receive machine (peer_connection_receive.cpp)
    void run_receive();
    step receive_step();
    // With `ahead`, the call that ends the transfer also reads the first bytes of the next
    // message into the header buffer (block data: saves a call per block).
    step read_into(std::byte* base, std::uint32_t total, std::uint32_t& done, bool ahead = false);

    // Bytes already read from the socket and not yet consumed by the machine.
    [[nodiscard]] bool has_buffered() const noexcept
    {
        return m_carried_pos < m_carried.size() || m_header_pos < m_header_len;
    }

    step read_header_ahead();
    step on_message_id();
    step handle_message();
    step on_piece_header();
    step receive_block();
    step discard_block();
    step receive_bitfield();
    step read_handshake(); // peer_connection_handshake.cpp

    // send machine (peer_connection_send.cpp)
    // `eager` sends what compose produced at once instead of on the next run.
    void run_send(bool eager);
    step send_step(bool& eager);
    step write_from(const std::byte* base, std::uint32_t total, std::uint32_t& done);
    // The send buffer ending in a piece header, and the block behind it, in one call.
    step write_buffer_and_block();
    int compose();
    bool queue_header(std::uint8_t id, std::uint32_t length, std::uint32_t reserve);
    bool put_u32(std::uint32_t v);
    bool prepare_upload();
    step send_handshake(); // peer_connection_handshake.cpp

    // The request message handling (peer_connection_receive.cpp).
    void on_request(const block_request& r);
    void on_cancel(const block_request& r);
    void become_interested(bool interested);

    // An eager run may start now: past the quiet first ticks, the socket takes more, and the
    // send machine is idle or holds composed bytes that wait for the next run (which would
    // otherwise hold every later request back until a tick).
    [[nodiscard]] bool may_send_now() const noexcept
    {
        return m_eager && m_tick_count >= m_tick_divider && !m_send_blocked
            && (m_send_state == send_state::idle || m_send_state == send_state::buffer);
    }

    // Our handshake is out on an outgoing connection and the peer's is not yet accepted.
    [[nodiscard]] bool awaiting_handshake() const noexcept
    {
        return (m_recv_state == receive_state::handshake || m_recv_state == receive_state::dead)
            && m_slot.outgoing.load(std::memory_order_relaxed);
    }

    void mark_active();
    // Reading paused for a full upload queue goes on once it has gone down (called where
    // no receive run is under way: the tick and the writable report).
    void resume_requests();
    // Once a second: the peer's rate, and the pipeline that follows it.
    void measure_rate(tick_t now);
    // Block bytes went out: the counters, and the peer is active.
    void count_sent(std::uint32_t bytes, tick_t now);
    // Closes with a reason (request_close with notify); answers step::closed.
    step close(close_reason why);

    peer_host& m_host;
    peer_slot& m_slot;
    bool m_open = false; // attached and not yet closed
    bool m_claimed = false; // holds its record: on_closed gives it back (once)
    bool m_eager = true;
    tick_t m_next_keep_alive = 0;
    tick_t m_last_block_time = 0; // block data received (the keep-alive rule)
    // The peer was last heard from (a message other than a keep-alive, or block data) or
    // took block data from us: the inactivity rule.
    tick_t m_last_activity = 0;
    channel m_send;
    send_state m_send_state = send_state::handshake;
    std::uint32_t m_write_pos = 0; // where put_u32 writes in the send buffer
    channel m_recv;
    receive_state m_recv_state = receive_state::handshake;
    bool m_send_blocked = false;
    bool m_upload_paused = false; // waiting for the upload meter
    bool m_download_paused = false; // waiting for the download meter
    bool m_requests_paused = false; // waiting for the upload queue to go down
    std::uint32_t m_blocks_this_run = 0; // blocks stored by the current run_receive
    choker m_choker;
    bool m_interest_pending = false;
    bool m_changed = false;
    std::uint32_t m_tick_count = 0;
    std::uint32_t m_tick_divider = tick_divider;
    std::deque<std::uint32_t> m_have_queue;
    std::vector<block_request> m_outstanding; // our requests, oldest first
    std::size_t m_pipeline = min_pipeline;
    tick_t m_rate_since = 0; // start of the current rate window
    std::uint64_t m_rate_base = 0; // the peer's downloaded total then
    std::uint64_t m_rate = 0; // bytes per second
    // The requests the peer's last choke voided: a peer that unchokes us soon after may
    // still serve them (they crossed its choke on the wire), which is no fault.
    std::vector<block_request> m_voided;
    std::deque<block_request> m_uploads; // the peer's requests waiting to be served
    std::vector<std::byte> m_carried; // bytes read with the handshake, not yet consumed
    std::size_t m_carried_pos = 0;
    // The next message's first bytes, read in one step at a message boundary: at most the
    // 13 header bytes of a piece message, so never block data.
    std::array<std::byte, 4 + wire::request_length> m_header{};
    std::uint32_t m_header_pos = 0;
    std::uint32_t m_header_len = 0;
    std::vector<std::uint8_t> m_bitfield_in; // the peer's bitfield being received
    std::vector<std::uint8_t> m_bitfield_out; // our bitfield being sent
    wire::info_hash_bytes m_hash{};
    close_reason m_close_reason = close_reason::none;
};

} // namespace torrent
