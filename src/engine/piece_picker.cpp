#include "engine/piece_picker.h"

#include <bit>
#include <utility>

#include "base/assert.h"
#include "metainfo/base_error.h"

namespace torrent
{

namespace
{

bool in_list(std::span<const block_request> list, const block_request& b) noexcept
{
    for (const auto& r : list)
    {
        if (r == b)
            return true;
    }
    return false;
}

} // namespace

PiecePicker::PiecePicker(
    std::uint32_t piece_count, std::uint32_t piece_length, std::uint64_t total_length, std::uint64_t seed)
    : m_piece_count(piece_length != 0 ? piece_count : 0) // no blocks to cut: nothing to pick
    , m_piece_length(piece_length)
    , m_last_piece_length(piece_length)
    , m_have(m_piece_count)
    , m_in_progress(m_piece_count)
    , m_complete(m_piece_count)
    , m_availability(m_piece_count, 0)
    , m_position(m_piece_count, no_entry)
    , m_random_state(seed != 0 ? seed : 0x9E3779B97F4A7C15ULL)
{
    if (m_piece_count != 0)
    {
        const std::uint64_t before_last = std::uint64_t{piece_count - 1} * piece_length;
        if (total_length > before_last && total_length - before_last <= piece_length)
            m_last_piece_length = static_cast<std::uint32_t>(total_length - before_last);
    }
}

std::uint32_t PiecePicker::piece_size(std::uint32_t piece) const noexcept
{
    if (piece >= m_piece_count)
        return 0;
    return piece + 1 == m_piece_count ? m_last_piece_length : m_piece_length;
}

std::uint32_t PiecePicker::blocks_in_piece(std::uint32_t piece) const noexcept
{
    return (piece_size(piece) + picker_block_size - 1) / picker_block_size;
}

block_request PiecePicker::block_at(std::uint32_t piece, std::uint32_t k) const noexcept
{
    const std::uint32_t begin = k * picker_block_size;
    const std::uint32_t size = piece_size(piece);
    const std::uint32_t rest = size - begin;
    block_request b;
    b.index = piece;
    b.offset = begin;
    b.length = rest < picker_block_size ? rest : picker_block_size;
    return b;
}

std::uint32_t PiecePicker::block_index(const block_request& block) const noexcept
{
    if (block.index >= m_piece_count || block.offset % picker_block_size != 0)
        return no_entry;
    const std::uint32_t k = block.offset / picker_block_size;
    if (k >= blocks_in_piece(block.index) || block_at(block.index, k).length != block.length)
        return no_entry;
    return k;
}

PiecePicker::piece_entry* PiecePicker::entry_of(std::uint32_t piece) noexcept
{
    if (piece >= m_piece_count || m_position[piece] == no_entry)
        return nullptr;
    return &m_pieces[m_position[piece]];
}

const PiecePicker::piece_entry* PiecePicker::entry_of(std::uint32_t piece) const noexcept
{
    if (piece >= m_piece_count || m_position[piece] == no_entry)
        return nullptr;
    return &m_pieces[m_position[piece]];
}

std::uint32_t PiecePicker::next_random(std::uint32_t bound)
{
    if (m_random)
    {
        const std::uint32_t r = m_random(bound);
        return r < bound ? r : r % bound;
    }
    // xorshift64*: cheap and plenty for spreading the search start over the bitfield.
    m_random_state ^= m_random_state >> 12;
    m_random_state ^= m_random_state << 25;
    m_random_state ^= m_random_state >> 27;
    const std::uint64_t r = (m_random_state * 0x2545F4914F6CDD1DULL) >> 32;
    return static_cast<std::uint32_t>((r * bound) >> 32);
}

// ---- piece choice

// Starts at a random byte of the candidates (pieces the peer has, we lack and nobody is
// downloading) and takes the first byte holding one, wrapping round. Within that byte the
// piece whose availability is nearest to 1 (only the asking peer has it) wins, the most
// significant bit on ties. Looking at one byte keeps the choice cheap on large torrents.
std::uint32_t PiecePicker::choose_piece(const piece_bits& bits)
{
    const std::size_t words = m_have.word_count();
    if (words == 0)
        return no_entry;
    const std::uint32_t start = next_random(m_have.byte_count());
    const std::size_t start_word = start >> 3;
    const std::uint64_t head = ~std::uint64_t{0} >> (8 * (start & 7)); // bytes from the start on

    std::size_t w = start_word;
    std::uint64_t c = 0;
    for (std::size_t i = 0; i <= words && c == 0; ++i)
    {
        w = start_word + i < words ? start_word + i : start_word + i - words;
        const std::uint64_t mask = i == 0 ? head : (i == words ? ~head : ~std::uint64_t{0});
        c = bits.word(w) & ~m_have.word(w) & ~m_in_progress.word(w) & mask;
    }
    if (c == 0)
        return no_entry;

    const auto in_word = static_cast<std::uint32_t>(std::countl_zero(c)) / 8;
    const auto byte = static_cast<std::uint32_t>(c >> (56 - 8 * in_word)) & 0xFF;
    const auto base = static_cast<std::uint32_t>((w * 8 + in_word) * 8);
    std::uint32_t best = no_entry;
    int best_key = 0;
    for (std::uint32_t j = 0; j < 8; ++j)
    {
        if ((byte & (0x80U >> j)) == 0)
            continue;
        const std::uint32_t piece = base + j;
        const int a = m_availability[piece] - 1;
        const int key = a < 0 ? -a : a;
        if (best == no_entry || key < best_key)
        {
            best = piece;
            best_key = key;
            if (key == 0)
                break;
        }
    }
    return best;
}

pick_result
PiecePicker::pick_block(peer_key key, std::span<const block_request> outstanding, block_request& chosen)
{
    const peer_slot_t peer = slot_of(key);
    if (peer >= m_peers.size() || !m_peers[peer].has_bitfield)
        return pick_result::no_bitfield;
    peer_entry& p = m_peers[peer];

    if (p.affinity_pieces != 0 && pick_affinity(peer, p, outstanding, chosen))
        return pick_result::picked;
    if (pick_new_piece(peer, p, chosen))
        return pick_result::picked;
    if (m_free_total != 0 && pick_fill_in(peer, p, outstanding, chosen))
        return pick_result::picked;
    if (m_requested_total != 0 && pick_end_game(peer, p, outstanding, chosen))
        return pick_result::picked;
    return pick_result::nothing;
}

bool PiecePicker::pick_block(peer_key peer, std::vector<block_request>& outstanding)
{
    block_request chosen;
    const pick_result r = pick_block(peer, outstanding, chosen);
    if (r == pick_result::picked)
        outstanding.push_back(chosen);
    return r != pick_result::no_bitfield;
}

// Blocks of pieces started for this peer that nobody has taken yet.
bool PiecePicker::pick_affinity(
    peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out)
{
    for (auto& e : m_pieces)
    {
        if (e.starter != peer || e.starter_free == 0 || !p.bits.test(e.index))
            continue;
        const auto n = static_cast<std::uint32_t>(e.blocks.size());
        for (std::uint32_t k = e.first_free; k < n; ++k)
        {
            const block_slot& s = e.blocks[k];
            if (s.state == block_state::free && s.owner == peer && !in_list(l, block_at(e.index, k)))
            {
                take_block(e, k, peer, out);
                return true;
            }
        }
    }
    return false;
}

bool PiecePicker::pick_new_piece(peer_slot_t peer, peer_entry& p, block_request& out)
{
    // A peer with nothing we lack, or whose last search found nothing and nothing has
    // become a candidate since, is not searched again.
    if (p.wanted == 0 || p.exhausted_at == m_candidate_epoch)
        return false;
    const std::uint32_t piece = choose_piece(p.bits);
    if (piece == no_entry)
    {
        p.exhausted_at = m_candidate_epoch;
        return false;
    }
    ZV_ASSERT(!m_in_progress.test(piece));
    start_piece(piece, peer);
    take_block(m_pieces.back(), 0, peer, out);
    return true;
}

// Free blocks of any partial piece the peer has.
bool PiecePicker::pick_fill_in(
    peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out)
{
    for (auto& e : m_pieces)
    {
        if (e.free_count == 0 || !p.bits.test(e.index))
            continue;
        const auto n = static_cast<std::uint32_t>(e.blocks.size());
        bool first = true;
        for (std::uint32_t k = e.first_free; k < n; ++k)
        {
            if (e.blocks[k].state != block_state::free)
                continue;
            if (first)
            {
                e.first_free = k;
                first = false;
            }
            if (!in_list(l, block_at(e.index, k)))
            {
                take_block(e, k, peer, out);
                return true;
            }
        }
    }
    return false;
}

// Nothing is free: ask this peer too for a block another peer was asked for.
bool PiecePicker::pick_end_game(
    peer_slot_t peer, const peer_entry& p, std::span<const block_request> l, block_request& out)
{
    piece_entry* last_own = nullptr;
    std::uint32_t last_own_block = 0;
    for (auto& e : m_pieces)
    {
        if (e.requested_count == 0 || !p.bits.test(e.index))
            continue;
        const auto n = static_cast<std::uint32_t>(e.blocks.size());
        for (std::uint32_t k = 0; k < n; ++k)
        {
            const block_slot& s = e.blocks[k];
            if (s.state != block_state::requested || in_list(l, block_at(e.index, k)))
                continue;
            if (s.owner != peer)
            {
                take_block(e, k, peer, out);
                return true;
            }
            last_own = &e;
            last_own_block = k;
        }
    }
    if (last_own == nullptr)
        return false;
    take_block(*last_own, last_own_block, peer, out);
    return true;
}

void PiecePicker::take_block(piece_entry& e, std::uint32_t k, peer_slot_t peer, block_request& out)
{
    block_slot& s = e.blocks[k];
    if (s.state == block_state::free)
    {
        if (s.owner == e.starter && e.starter != no_slot)
            lose_starter_block(e);
        --e.free_count;
        ++e.requested_count;
        --m_free_total;
        ++m_requested_total;
        if (k == e.first_free)
            ++e.first_free;
    }
    s.owner = peer;
    s.state = block_state::requested;
    out = block_at(e.index, k);
}

void PiecePicker::lose_starter_block(piece_entry& e)
{
    if (--e.starter_free == 0 && e.starter < m_peers.size() && m_peers[e.starter].affinity_pieces != 0)
        --m_peers[e.starter].affinity_pieces;
}

void PiecePicker::start_piece(std::uint32_t piece, peer_slot_t peer)
{
    piece_entry e;
    e.index = piece;
    e.starter = peer;
    if (!m_spare.empty())
    {
        e.blocks = std::move(m_spare.back());
        m_spare.pop_back();
    }
    const std::uint32_t n = blocks_in_piece(piece);
    e.blocks.assign(n, block_slot{peer, block_state::free});
    e.free_count = n;
    e.starter_free = n;
    m_free_total += n;
    m_position[piece] = static_cast<std::uint32_t>(m_pieces.size());
    m_pieces.push_back(std::move(e));
    m_in_progress.set(piece);
    ++m_peers[peer].affinity_pieces;
}

// The entry stays in place as an empty tombstone, which every walk skips (no free or
// requested blocks, no starter), so ending a piece costs no shifting; tombstones are swept
// out in one pass once they outnumber the live entries.
void PiecePicker::remove_entry(std::uint32_t piece)
{
    const std::uint32_t pos = m_position[piece];
    if (pos == no_entry)
        return;
    piece_entry& e = m_pieces[pos];
    m_free_total -= e.free_count;
    m_requested_total -= e.requested_count;
    if (e.starter_free != 0 && e.starter < m_peers.size() && m_peers[e.starter].affinity_pieces != 0)
        --m_peers[e.starter].affinity_pieces;
    e.blocks.clear();
    m_spare.push_back(std::move(e.blocks));
    e = piece_entry{};
    e.index = no_entry;
    m_position[piece] = no_entry;
    if (++m_dead_entries > 16 && m_dead_entries * 2 > m_pieces.size())
        sweep_entries();
}

void PiecePicker::sweep_entries()
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < m_pieces.size(); ++i)
    {
        if (m_pieces[i].index == no_entry)
            continue;
        if (out != i)
            m_pieces[out] = std::move(m_pieces[i]);
        m_position[m_pieces[out].index] = static_cast<std::uint32_t>(out);
        ++out;
    }
    m_pieces.resize(out);
    m_dead_entries = 0;
}

// ---- block results

bool PiecePicker::mark_received(peer_key peer, const block_request& block)
{
    const std::uint32_t k = block_index(block);
    piece_entry* e = k == no_entry ? nullptr : entry_of(block.index);
    if (e == nullptr)
        return false;
    block_slot& s = e->blocks[k];
    if (s.state == block_state::received)
        return false;
    if (s.state == block_state::free)
    {
        if (s.owner == e->starter && e->starter != no_slot)
            lose_starter_block(*e);
        --e->free_count;
        --m_free_total;
    }
    else
    {
        --e->requested_count;
        --m_requested_total;
    }
    s.state = block_state::received;
    s.owner = slot_of(peer);
    if (++e->received_count < e->blocks.size())
        return false;

    // Every block is here: the entry goes; the piece stays started until it is checked.
    note_senders(*e);
    m_complete.set(block.index);
    remove_entry(block.index);
    return true;
}

bool PiecePicker::is_received(const block_request& block) const
{
    return state_of(block) == block_state::received;
}

block_state PiecePicker::state_of(const block_request& block) const noexcept
{
    const std::uint32_t k = block_index(block);
    if (k == no_entry)
        return block_state::free;
    if (m_complete.test(block.index))
        return block_state::received;
    const piece_entry* e = entry_of(block.index);
    return e == nullptr ? block_state::free : e->blocks[k].state;
}

peer_key PiecePicker::owner_of(const block_request& block) const noexcept
{
    const std::uint32_t k = block_index(block);
    const piece_entry* e = k == no_entry ? nullptr : entry_of(block.index);
    return e == nullptr || e->blocks[k].owner == no_slot ? no_peer : peer_key{e->blocks[k].owner};
}

void PiecePicker::release(const block_request& block)
{
    const std::uint32_t k = block_index(block);
    piece_entry* e = k == no_entry ? nullptr : entry_of(block.index);
    if (e == nullptr)
        return;
    block_slot& s = e->blocks[k];
    if (s.state == block_state::received)
        return;
    if (s.state == block_state::requested)
    {
        --e->requested_count;
        ++e->free_count;
        --m_requested_total;
        ++m_free_total;
    }
    else if (s.owner == e->starter && e->starter != no_slot)
    {
        lose_starter_block(*e);
    }
    s.state = block_state::free;
    s.owner = no_slot;
    if (k < e->first_free)
        e->first_free = k;
}

void PiecePicker::drop_piece(std::uint32_t piece)
{
    if (piece >= m_piece_count || !m_in_progress.test(piece))
        throw base_error(err::not_available);
    remove_entry(piece);
    m_complete.reset(piece);
    m_in_progress.reset(piece);
    ++m_candidate_epoch;
    record_verdict(piece, false);
}

} // namespace torrent
