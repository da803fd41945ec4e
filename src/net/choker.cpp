#include "net/choker.h"

namespace torrent
{

bool choker::on_interested() noexcept
{
    m_peer_interested = true;
    return m_choking && set_choke(false);
}

bool choker::on_not_interested() noexcept
{
    m_peer_interested = false;
    return !m_choking && set_choke(true);
}

bool choker::set_choke(bool choke) noexcept
{
    if (choke == m_choking)
        return false;
    m_choking = choke;
    m_pending = true;
    return true;
}

std::optional<std::uint8_t> choker::take_message() noexcept
{
    if (!m_pending)
        return std::nullopt;
    m_pending = false;
    return m_choking ? wire::choke : wire::unchoke;
}

} // namespace torrent
