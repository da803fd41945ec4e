// What a task's connections ask of it on the network thread: the torrent's piece picker,
// the byte counters and rate meters, and the consequences of a stored block.
#include "engine/piece_picker.h"
#include "engine/rate_meter.h"
#include "engine/task.h"
#include "net/event_loop.h"

namespace torrent
{

void Task::assert_network_thread() const noexcept
{
    if (m_network.loop != nullptr)
        m_network.loop->assert_in_loop_thread();
}

std::uint32_t Task::piece_count() const
{
    assert_network_thread();
    return m_picker != nullptr ? m_picker->piece_count() : 0;
}

std::uint32_t Task::piece_size(std::uint32_t index) const
{
    assert_network_thread();
    return m_picker != nullptr ? m_picker->piece_size(index) : 0;
}

bool Task::have_piece(std::uint32_t index) const
{
    assert_network_thread();
    return m_picker != nullptr && index < m_picker->piece_count() && m_picker->have(index);
}

bool Task::pick_block(peer_key peer, std::vector<block_request>& outstanding)
{
    assert_network_thread();
    return m_picker != nullptr && m_picker->pick_block(peer, outstanding);
}

void Task::release_block(const block_request& block)
{
    assert_network_thread();
    if (m_picker != nullptr)
        m_picker->release(block);
}

bool Task::set_peer_bitfield(peer_key peer, const bitfield& bits)
{
    assert_network_thread();
    return m_picker != nullptr && m_picker->set_peer_bitfield(peer, bits);
}

peer_have_result Task::peer_has_piece(peer_key peer, std::uint32_t index)
{
    assert_network_thread();
    if (m_picker == nullptr)
        return peer_have_result::not_interesting;
    return m_picker->peer_has_piece(peer, index);
}

bool Task::still_interesting(peer_key peer)
{
    assert_network_thread();
    return m_picker != nullptr && m_picker->still_interesting(peer);
}

bool Task::peer_complete(peer_key peer) const
{
    assert_network_thread();
    return m_picker != nullptr && m_picker->peer_complete(peer);
}

void Task::peer_gone(peer_key peer)
{
    assert_network_thread();
    if (m_picker != nullptr)
        m_picker->peer_gone(peer);
}

bool Task::download_over_limit(tick_t at) const
{
    assert_network_thread();
    return m_download_meter != nullptr && m_download_meter->over_limit(at);
}

bool Task::upload_over_limit(tick_t at) const
{
    assert_network_thread();
    return m_upload_meter != nullptr && m_upload_meter->over_limit(at);
}

void Task::count_received(peer_slot& slot, std::uint32_t bytes, tick_t at)
{
    assert_network_thread();
    if (m_download_meter != nullptr)
        m_download_meter->account(bytes, at);
    m_downloaded.fetch_add(bytes, std::memory_order_relaxed);
    slot.downloaded.fetch_add(bytes, std::memory_order_relaxed);
}

void Task::count_sent(peer_slot& slot, std::uint32_t bytes, tick_t at)
{
    assert_network_thread();
    if (m_upload_meter != nullptr)
        m_upload_meter->account(bytes, at);
    m_uploaded.fetch_add(bytes, std::memory_order_relaxed);
    slot.uploaded.fetch_add(bytes, std::memory_order_relaxed);
}

void Task::block_stored(const block_request& block, write_result result)
{
    assert_network_thread();
    // A checked piece (passed or failed) tells about the peers that sent its blocks.
    if (result == write_result::piece_done || result == write_result::torrent_done)
        judge_peers();
    // Held counts verified pieces only: a piece that fails its check, or a block that is
    // stored but never completes a piece, must not make the task look complete.
    switch (result)
    {
    case write_result::piece_done:
        // A piece that failed its check is back with the picker and is not announced.
        if (have_piece(block.index))
        {
            m_held.fetch_add(piece_size(block.index), std::memory_order_relaxed);
            piece_done(block.index, false);
        }
        break;
    case write_result::torrent_done:
        m_held.fetch_add(piece_size(block.index), std::memory_order_relaxed);
        SetState(task_state::complete);
        piece_done(block.index, true);
        break;
    case write_result::disk_failed:
        // The torrent keeps the fault and takes no more blocks; whoever runs the task
        // (the window) sees torrent_data::failed() and stops it with the fault's message.
    case write_result::nothing_stored:
    case write_result::not_wanted:
    case write_result::stored:
        break;
    }
}

} // namespace torrent
