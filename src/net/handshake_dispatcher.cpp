#include "net/handshake_dispatcher.h"

namespace torrent
{

HandshakeDispatcher::HandshakeDispatcher() = default;

HandshakeDispatcher::~HandshakeDispatcher() = default;

void HandshakeDispatcher::add(std::unique_ptr<HandshakeRecognizer> recognizer)
{
    if (recognizer)
        m_recognizers.push_back(std::move(recognizer));
}

recognize_result HandshakeDispatcher::dispatch(
    std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now)
{
    bool wants_more = false;
    for (const auto& recognizer : m_recognizers)
    {
        const recognize_result r = recognizer->recognize(input, record, created, now);
        if (r == recognize_result::reject || r == recognize_result::taken)
            return r;
        if (r == recognize_result::need_more)
            wants_more = true;
    }
    // The guard comes last: a handshake that arrived together with what the peer sent right
    // after it (a bitfield easily passes 512 bytes) is recognised, not closed for its size.
    const recognize_result guard = m_guard.recognize(input, record, created, now);
    if (guard == recognize_result::reject)
        return guard;
    return wants_more ? recognize_result::need_more : recognize_result::reject;
}

} // namespace torrent
