#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/tick.h"
#include "engine/peer_record.h"
#include "engine/piece_picker.h"
#include "metainfo/file_selection.h"
#include "net/peer_host.h"
#include "storage/torrent_storage.h"
#include "tracker/announce_sink.h"
#include "tracker/peer_candidate.h"

namespace torrent
{

class ConnectionPoller;
class PiecePicker;
class RateMeter;
class event_loop;
class torrent_data;
class torrent_manager;
struct TaskView;
struct pending_connect_limit;

// What a task reaches of the network: the network thread's loop (connections live there),
// the poller (outgoing connects queue there), the process-wide pending-connect limit, our
// peer id and the torrent table. A task without a loop or poller refuses to connect.
struct task_network
{
    event_loop* loop = nullptr;
    ConnectionPoller* poller = nullptr;
    const pending_connect_limit* connect_limit = nullptr;
    std::string own_peer_id;
    torrent_manager* torrents = nullptr;
    clock* time = nullptr; // null: the system clock
};

// One slot of the engine's fixed task table: everything the engine knows about one torrent
// being downloaded or seeded, its counters, its state, its peer records and the sets that
// keep peers and addresses unique. Slots are reset when a torrent is opened in them and
// freed when it is closed; the generation stamp (a counter that never repeats in a run)
// tells a holder of a slot reference that the slot has been given to another torrent.
//
// Locks: the state lock guards the state changes, the peer records and the known address
// and peer id sets; the task lock guards the gathered addresses. They are never held
// together and never while a request goes to the network thread. The counters are atomics
// read without a lock by the announcer and the window.
//
// Owner: the TaskPool. Runs on: opened, closed and displayed on the window's thread;
// Connect and the check on the announcer's thread; the peer bookkeeping on the poller and
// network threads; the transfer calls (peer_host) on the network thread.
class Task final
    : public peer_host
    , public announce_sink
{
public:
    static constexpr std::uint16_t default_slot_count = 10;
    static constexpr std::size_t max_gathered = 1024;
    // A peer address that took part in this many pieces that failed their check, and in no
    // verified one, is dropped and not connected again while the task runs. One or two
    // failures are what an honest peer suffers when it shares a piece with a liar (or
    // meets a bit flip); three with nothing good at all is a pattern, and costs at most
    // three pieces of wasted download.
    static constexpr std::uint16_t ban_after_failed_pieces = 3;
    // Peer scores are kept for at most this many addresses.
    static constexpr std::size_t max_scored_addresses = 4096;

    Task();
    ~Task() override;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // ---- lifecycle
    // Under the state lock: a new generation, counters and identity cleared, the sets
    // emptied, the given state.
    void Reset(task_state state);
    void SetState(task_state state);
    // Only while free: replaces the peer records by `slot_count` free ones (10 for 0) and
    // sets the shared meters. False (nothing changes) for a task that is not free.
    bool Configure(std::uint16_t slot_count, RateMeter& upload, RateMeter& download);
    void set_network(task_network network);
    // Held bytes cover the total length.
    [[nodiscard]] bool IsComplete() const noexcept override;
    // Closes every connection, forgets the peers, removes the torrent and frees the slot.
    void Close();

    // Binds the opened torrent: identity, counters and its storage (the task pool's open).
    void bind_torrent(
        std::string info_hash,
        std::string name,
        std::string save_folder,
        std::string torrent_path,
        std::uint32_t piece_length,
        std::uint64_t total,
        std::uint64_t held);

    // ---- peers
    // True when the address key is known; otherwise remembers it when asked (not for a free
    // task or one that completed outside state 1).
    bool IsKnownAddress(std::uint64_t key, bool remember);
    // The address sent only corrupt pieces: it is not connected again while the task runs.
    [[nodiscard]] bool is_banned(std::uint32_t ip) const;

    // Records that incoming connections leave to outgoing dials (an eighth of them), so a
    // crowd of incoming peers never keeps the task from trying the candidates it learns.
    [[nodiscard]] std::uint16_t outgoing_reserve() const noexcept
    {
        return static_cast<std::uint16_t>(m_slot_count / 8);
    }

    // Announces a verified piece on every connection of the task (network thread).
    void piece_done(std::uint32_t index, bool complete);
    // The user chose more files while the task runs (window thread): the torrent opens them
    // and the task downloads their pieces from then on, from the peers it has and those it
    // meets; a task that was seeding downloads again. Files chosen before stay chosen.
    // no_space / cannot_open when the new files cannot be made; nothing changes then.
    [[nodiscard]] open_storage_result choose_more_files(const file_selection& choice);

    // ---- display
    void FillView(TaskView& view) const;
    // The window's periodic copy: counters, rates and per-peer figures (at most once a
    // second; rates are per whole second elapsed).
    void RefreshView(TaskView& view, tick_t now, bool with_peers) const;

    // ---- accessors (any thread)
    [[nodiscard]] std::uint64_t downloaded() const noexcept
    {
        return m_downloaded.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint16_t connected_count() const noexcept
    {
        return m_connected.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint16_t slot_count() const noexcept { return m_slot_count; }

    [[nodiscard]] bool announcer_ended() const noexcept
    {
        return m_announcer_ended.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint32_t piece_length() const noexcept { return m_piece_length; }

    [[nodiscard]] std::string name() const;
    [[nodiscard]] bool has_info_hash(std::string_view info_hash) const;

    // Peer record i (for tests and the display; the record's fields follow their own rules).
    [[nodiscard]] PeerRecord& record(std::size_t i) { return *m_records[i]; }

    [[nodiscard]] std::size_t record_count() const noexcept { return m_records.size(); }

    // ---- announce_sink (announcer thread)
    [[nodiscard]] std::string info_hash_text() const override;

    [[nodiscard]] std::uint64_t generation() const override
    {
        return m_generation.load(std::memory_order_acquire);
    }

    // The slot's state (for the announcer, the handshake and the connections alike).
    [[nodiscard]] task_state state() const noexcept override
    {
        return m_state.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint64_t uploaded() const override
    {
        return m_uploaded.load(std::memory_order_relaxed);
    }

    [[nodiscard]] std::uint64_t held() const override { return m_held.load(std::memory_order_relaxed); }

    [[nodiscard]] std::uint64_t total_length() const override
    {
        return m_total.load(std::memory_order_relaxed);
    }

    // The check of existing data: pieces found present, or -1 when stopped or failed.
    int check_existing_data(event& stop) override;
    // Queues an outgoing connect to the endpoint on the poller (connected), or answers why
    // not, also in endpoint.result: refused (6: pending-connect limit or no free record),
    // known (7: address known), full (every record in use; no reason in the result byte).
    connect_answer Connect(PeerEndpoint& endpoint) override;
    void take_gathered_addresses(std::vector<PeerCandidate>& out) override;
    void set_tracker_peer_count(std::size_t count) override;
    void set_tracker_failure(const std::string& url, const std::string& reason) override;
    void set_announcer_ended() override;

    // ---- peer_host: identity and peers (any thread)
    [[nodiscard]] std::string_view info_hash() const override { return m_info_hash; }

    [[nodiscard]] std::string_view own_peer_id() const override { return m_network.own_peer_id; }

    [[nodiscard]] event_loop& network_loop() override { return *m_network.loop; }

    [[nodiscard]] torrent_data* torrent() override
    {
        assert_network_thread();
        return m_torrent.get();
    }

    [[nodiscard]] bool is_peer_id_unwelcome(std::string_view peer_id, bool remember) override;
    [[nodiscard]] peer_slot* take_peer_slot(const PeerEndpoint& endpoint) override;
    void forget_peer(std::uint64_t address_key, std::string_view peer_id) override;
    void set_alternate_address(
        std::uint32_t decoded_ip,
        std::uint16_t decoded_port,
        std::uint32_t ip_in_use,
        std::uint16_t port_in_use) override;
    [[nodiscard]] peer_slot* slot_of(const peer_link* link) override;
    void set_peer_id(peer_slot& slot, std::span<const std::byte> id) override;
    void peer_connect_failed(peer_link& record) override;

    // ---- peer_host: pieces and transfers (network thread)
    [[nodiscard]] std::uint32_t piece_count() const override;
    [[nodiscard]] std::uint32_t piece_size(std::uint32_t index) const override;
    [[nodiscard]] bool have_piece(std::uint32_t index) const override;
    bool pick_block(peer_key peer, std::vector<block_request>& outstanding) override;
    void release_block(const block_request& block) override;
    bool set_peer_bitfield(peer_key peer, const bitfield& bits) override;
    peer_have_result peer_has_piece(peer_key peer, std::uint32_t index) override;
    bool still_interesting(peer_key peer) override;
    [[nodiscard]] bool peer_complete(peer_key peer) const override;
    void peer_gone(peer_key peer) override;
    [[nodiscard]] bool download_over_limit(tick_t now) const override;
    [[nodiscard]] bool upload_over_limit(tick_t now) const override;
    void count_received(peer_slot& slot, std::uint32_t bytes, tick_t now) override;
    void count_sent(peer_slot& slot, std::uint32_t bytes, tick_t now) override;
    void block_stored(const block_request& block, write_result result) override;

private:
    [[nodiscard]] tick_t now() const noexcept;
    // Aborts (in builds with assertions) unless called on the network thread, or once that
    // thread has ended.
    void assert_network_thread() const noexcept;
    [[nodiscard]] bool complete_outside_seeding() const noexcept;
    // Runs f on the network thread (inline when there is none any more).
    template <class F>
    void on_network_thread(F f);
    void destroy_connections();
    void forget_locked(std::uint64_t key, std::string_view peer_id);

    // Why a record could not be taken.
    enum class slot_refusal : std::uint8_t
    {
        none,
        closed, // free, checking, or complete outside seeding
        banned, // the address sent only corrupt pieces
        address_held, // the address already holds a connection of this task
        reserved, // the free records are kept for outgoing dials
        full, // no free record
    };
    // Takes a free record for the endpoint under the state lock, applying the address
    // rules: no banned address; an incoming connection only from an address that holds no
    // connection yet (a peer of ours on a LAN address excepted; dials still under way do
    // not count), and only while outgoing_reserve() records stay free.
    PeerRecord* take_record(const PeerEndpoint& endpoint, bool outgoing, slot_refusal& why);
    [[nodiscard]] bool address_held_locked(std::uint32_t ip) const;
    [[nodiscard]] std::uint16_t incoming_held_locked() const;
    // After a checked piece (network thread): the verdicts count for the addresses that
    // sent its blocks; an address with only failed pieces is banned and its connections go.
    void judge_peers();
    void copy_tracker_failure(TaskView& view) const;

    mutable std::mutex m_task_lock;
    std::vector<PeerCandidate> m_gathered;
    // The last tracker refusal (url, the tracker's reason) and a counter of changes, so the
    // display copies the texts only when they changed. Texts under the task lock.
    std::string m_tracker_failure_url;
    std::string m_tracker_failure;
    std::atomic<std::uint32_t> m_tracker_failure_serial{0};

    std::string m_info_hash;
    std::string m_name;
    std::string m_save_folder;
    std::string m_torrent_path;
    std::uint32_t m_piece_length = 0;
    std::atomic<std::uint64_t> m_total{0};
    std::atomic<std::uint64_t> m_uploaded{0};
    std::atomic<std::uint64_t> m_held{0};
    std::atomic<task_state> m_state{task_state::free_slot};
    std::atomic<std::uint16_t> m_connected{0};
    std::uint16_t m_slot_count = 0;
    std::vector<std::unique_ptr<PeerRecord>> m_records;
    RateMeter* m_upload_meter = nullptr;
    RateMeter* m_download_meter = nullptr;
    std::atomic<std::uint64_t> m_downloaded{0};
    std::atomic<bool> m_announcer_ended{false};
    mutable std::mutex m_state_lock;
    std::atomic<std::uint64_t> m_generation{0};
    std::uint16_t m_last_slot = 0;
    std::set<std::uint64_t> m_known_addresses;
    std::set<std::string, std::less<>> m_known_peer_ids;

    std::atomic<std::size_t> m_tracker_peers{0};

    struct peer_score
    {
        std::uint16_t failed = 0;
        std::uint16_t verified = 0;
    };

    std::unordered_map<std::uint32_t, peer_score> m_scores; // by address; network thread
    std::vector<piece_verdict> m_verdicts; // reused buffer; network thread
    std::set<std::uint32_t> m_banned; // addresses; under the state lock
    task_network m_network;
    std::shared_ptr<torrent_data> m_torrent; // set at open, dropped at close
    PiecePicker* m_picker = nullptr; // the torrent's picker (owned by its torrent data)
};

} // namespace torrent
