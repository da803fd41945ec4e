#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "base/tick.h"
#include "net/handshake_recognizer.h"

namespace torrent
{

// Classifies incoming sockets by their first bytes: an ordered list of recognizers, then
// the guard, which closes a socket that stays unidentified too long or sends too much
// without a handshake. Owns its recognizers.
// Owner: NetworkContext. Runs on: poller thread (registration happens at start-up).
class HandshakeDispatcher
{
public:
    HandshakeDispatcher();
    HandshakeDispatcher(const HandshakeDispatcher&) = delete;
    HandshakeDispatcher& operator=(const HandshakeDispatcher&) = delete;
    ~HandshakeDispatcher();

    // Appends a recognizer after those already registered (null is ignored).
    void add(std::unique_ptr<HandshakeRecognizer> recognizer);

    // Asks each recognizer in order; `reject` or `taken` is answered at once. Then the guard
    // may reject. Otherwise `need_more` when any recognizer wanted more bytes, else `reject`.
    [[nodiscard]] recognize_result
    dispatch(std::span<const std::byte> input, ConnectionRecord& record, tick_t created, tick_t now);

    // The number of recognizers, the guard included.
    [[nodiscard]] std::size_t size() const noexcept { return m_recognizers.size() + 1; }

private:
    std::vector<std::unique_ptr<HandshakeRecognizer>> m_recognizers;
    HandshakeGuard m_guard;
};

} // namespace torrent
