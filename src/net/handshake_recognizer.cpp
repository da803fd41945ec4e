#include "net/handshake_recognizer.h"

namespace torrent
{

recognize_result HandshakeGuard::recognize(
    std::span<const std::byte> input, ConnectionRecord& /*record*/, tick_t created, tick_t now)
{
    if (input.size() > max_unidentified_bytes || is_due(now, created + max_unidentified_ms))
        return recognize_result::reject;
    return recognize_result::not_mine;
}

} // namespace torrent
