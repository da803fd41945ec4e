// Who sent the blocks of each checked piece: the verdicts the task judges its peers by.
#include <algorithm>

#include "engine/piece_picker.h"

namespace torrent
{

void PiecePicker::note_senders(const piece_entry& e)
{
    awaiting_check a;
    a.piece = e.index;
    for (const block_slot& s : e.blocks)
    {
        if (s.owner == no_slot)
            continue;
        const peer_key peer{s.owner};
        if (std::find(a.senders.begin(), a.senders.end(), peer) == a.senders.end())
            a.senders.push_back(peer);
    }
    // A check follows at once (the block write runs it); a piece whose check never came
    // (its bits set by a full check instead) must not pile up.
    std::erase_if(m_awaiting, [&](const awaiting_check& w) { return w.piece == a.piece; });
    if (m_awaiting.size() >= max_verdicts)
        m_awaiting.erase(m_awaiting.begin());
    m_awaiting.push_back(std::move(a));
}

void PiecePicker::record_verdict(std::uint32_t piece, bool passed)
{
    const auto found = std::find_if(
        m_awaiting.begin(), m_awaiting.end(), [piece](const awaiting_check& w) { return w.piece == piece; });
    if (found == m_awaiting.end())
        return;
    if (m_verdicts.size() >= max_verdicts)
        m_verdicts.erase(m_verdicts.begin());
    m_verdicts.push_back(piece_verdict{piece, passed, std::move(found->senders)});
    m_awaiting.erase(found);
}

void PiecePicker::piece_passed(std::uint32_t piece)
{
    set_have(piece, true);
    record_verdict(piece, true);
}

void PiecePicker::take_verdicts(std::vector<piece_verdict>& out)
{
    for (piece_verdict& v : m_verdicts)
        out.push_back(std::move(v));
    m_verdicts.clear();
}

} // namespace torrent
