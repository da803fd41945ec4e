// Our have bitfield, the peers' bitfields and the availability counters of PiecePicker.
#include <bit>

#include "engine/piece_picker.h"

namespace torrent
{

namespace
{

// Calls f(piece) for every set bit.
template <class F>
void for_each_set(const piece_bits& bits, F f)
{
    for (std::size_t w = 0; w < bits.word_count(); ++w)
    {
        std::uint64_t v = bits.word(w);
        while (v != 0)
        {
            const auto lead = static_cast<std::uint32_t>(std::countl_zero(v));
            f(static_cast<std::uint32_t>(w * 64) + lead);
            v &= ~piece_bits::mask(lead);
        }
    }
}

} // namespace

// ---- our pieces

void PiecePicker::assign_have(std::span<const std::uint8_t> bytes)
{
    m_have.assign_bytes(bytes);
    m_have_count = m_have.count();
    // Pieces we now hold are no longer downloaded.
    for (std::uint32_t i = 0; i < m_piece_count; ++i)
    {
        if (m_have.test(i) && m_in_progress.test(i))
        {
            remove_entry(i);
            m_complete.reset(i);
            m_in_progress.reset(i);
        }
    }
    for (auto& p : m_peers)
    {
        if (p.has_bitfield)
            p.wanted = p.bits.count_and_not(m_have);
    }
    ++m_candidate_epoch;
}

void PiecePicker::set_have(std::uint32_t piece, bool have)
{
    if (piece >= m_piece_count)
        return;
    if (have && m_in_progress.test(piece))
    {
        remove_entry(piece);
        m_complete.reset(piece);
        m_in_progress.reset(piece);
    }
    if (have == m_have.test(piece))
        return;
    if (have)
    {
        m_have.set(piece);
        ++m_have_count;
    }
    else
    {
        m_have.reset(piece);
        --m_have_count;
        ++m_candidate_epoch;
    }
    for (auto& p : m_peers)
    {
        if (p.has_bitfield && p.bits.test(piece))
            p.wanted = have ? p.wanted - 1 : p.wanted + 1;
    }
}

// ---- peers

const PiecePicker::peer_entry* PiecePicker::find_peer(peer_key key) const noexcept
{
    const peer_slot_t peer = slot_of(key);
    return peer < m_peers.size() && m_peers[peer].present ? &m_peers[peer] : nullptr;
}

PiecePicker::peer_entry& PiecePicker::peer_slot(peer_slot_t peer)
{
    if (peer >= m_peers.size())
        m_peers.resize(std::size_t{peer} + 1);
    peer_entry& p = m_peers[peer];
    if (!p.present)
    {
        p.present = true;
        p.has_bitfield = false;
        p.interested = false;
        p.count = 0;
        p.wanted = 0;
        p.affinity_pieces = 0;
        p.exhausted_at = ~std::uint64_t{0};
    }
    return p;
}

void PiecePicker::forget_availability(const peer_entry& p) noexcept
{
    for_each_set(
        p.bits,
        [this](std::uint32_t i)
        {
            if (m_availability[i] != 0)
                --m_availability[i];
        });
}

bool PiecePicker::set_peer_bitfield(
    peer_key key, std::span<const std::uint8_t> bytes, std::uint32_t bit_count)
{
    const peer_slot_t peer = slot_of(key);
    if (peer == no_slot || bit_count != m_piece_count || bytes.size() != m_have.byte_count())
        return false;
    peer_entry& p = peer_slot(peer);
    if (p.has_bitfield)
        forget_availability(p);
    p.has_bitfield = false;
    p.bits.resize(m_piece_count);
    p.bits.assign_bytes(bytes);
    p.count = p.bits.count();
    p.wanted = p.bits.count_and_not(m_have);
    p.interested = p.wanted != 0;
    p.exhausted_at = ~std::uint64_t{0};
    if (!p.interested && m_have_count == m_piece_count && p.count == m_piece_count)
    {
        // Two complete sides have nothing to exchange; the bitfield is not kept.
        p.bits.clear();
        p.count = 0;
        return false;
    }
    p.has_bitfield = true;
    for_each_set(
        p.bits,
        [this](std::uint32_t i)
        {
            if (m_availability[i] != 0xFFFF)
                ++m_availability[i];
        });
    return p.interested;
}

peer_have_result PiecePicker::peer_has_piece(peer_key key, std::uint32_t piece)
{
    const peer_slot_t peer = slot_of(key);
    if (peer == no_slot || piece >= m_piece_count)
        return peer_have_result::not_interesting;
    peer_entry& p = peer_slot(peer);
    if (!p.has_bitfield)
    {
        // A peer with no pieces may skip its bitfield and announce pieces one by one.
        p.bits.resize(m_piece_count);
        p.count = 0;
        p.wanted = 0;
        p.has_bitfield = true;
    }
    if (!p.bits.test(piece))
    {
        p.bits.set(piece);
        ++p.count;
        if (!m_have.test(piece))
            ++p.wanted;
        if (m_availability[piece] != 0xFFFF)
            ++m_availability[piece];
        p.exhausted_at = ~std::uint64_t{0};
    }
    p.interested = p.wanted != 0;
    const bool complete = p.count == m_piece_count;
    if (p.interested)
        return complete ? peer_have_result::interesting_complete : peer_have_result::interesting;
    return complete ? peer_have_result::not_interesting_complete : peer_have_result::not_interesting;
}

bool PiecePicker::still_interesting(peer_key key)
{
    const peer_slot_t peer = slot_of(key);
    if (peer >= m_peers.size() || !m_peers[peer].present)
        return false;
    peer_entry& p = m_peers[peer];
    p.interested = p.has_bitfield && p.wanted != 0;
    return p.interested;
}

void PiecePicker::peer_gone(peer_key key)
{
    const peer_slot_t peer = slot_of(key);
    if (peer >= m_peers.size() || !m_peers[peer].present)
        return;
    peer_entry& p = m_peers[peer];
    if (p.has_bitfield)
        forget_availability(p);
    // The free blocks kept for this peer go to anyone; a later peer in the same slot must
    // not inherit them.
    for (auto& e : m_pieces)
    {
        if (e.starter != peer)
            continue;
        for (auto& s : e.blocks)
        {
            if (s.state == block_state::free && s.owner == peer)
                s.owner = no_slot;
        }
        e.starter = no_slot;
        e.starter_free = 0;
    }
    p.present = false;
    p.has_bitfield = false;
    p.interested = false;
    p.count = 0;
    p.wanted = 0;
    p.affinity_pieces = 0;
    p.bits.clear();
}

bool PiecePicker::is_interesting(std::span<const std::uint8_t> bytes, std::uint32_t bit_count) const
{
    if (bit_count != m_piece_count || bytes.size() != m_have.byte_count())
        return false;
    for (std::size_t k = 0; k < bytes.size(); ++k)
    {
        std::uint32_t valid = 0xFF;
        if (k + 1 == bytes.size() && (bit_count & 7) != 0)
            valid = (0xFF00U >> (bit_count & 7)) & 0xFF;
        if ((bytes[k] & ~m_have.byte(k) & valid) != 0)
            return true;
    }
    return false;
}

bool PiecePicker::has_bitfield(peer_key peer) const noexcept
{
    const peer_entry* p = find_peer(peer);
    return p != nullptr && p->has_bitfield;
}

bool PiecePicker::peer_complete(peer_key peer) const noexcept
{
    const peer_entry* p = find_peer(peer);
    return p != nullptr && p->has_bitfield && m_piece_count != 0 && p->count == m_piece_count;
}

} // namespace torrent
