#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace torrent::test
{

// One request as the server saw it.
struct http_request
{
    std::string target; // path and query, as sent
    std::string head; // the whole request head (request line and header lines)
};

// What the server does with a request.
struct http_reply
{
    enum class mode : std::uint8_t
    {
        respond, // send `raw`, then `stream_bytes` filler bytes, then close
        stall, // keep the connection open and say nothing until the server stops
        close, // close at once without a word
    };

    mode how = mode::respond;
    std::string raw;
    std::size_t stream_bytes = 0;
};

// A complete response with Content-Length and Connection: close.
[[nodiscard]] http_reply
make_reply(int code, std::string_view reason, std::string_view body, std::string_view extra_headers = {});

// A tiny HTTP/1.1 server on 127.0.0.1 (an ephemeral port) whose answers a test scripts.
// Serves one connection at a time on its own thread; stalled connections stay open until
// the server is destroyed.
class scripted_http_server
{
public:
    using handler = std::function<http_reply(const http_request&)>;

    explicit scripted_http_server(handler h);
    ~scripted_http_server();
    scripted_http_server(const scripted_http_server&) = delete;
    scripted_http_server& operator=(const scripted_http_server&) = delete;

    [[nodiscard]] std::uint16_t port() const noexcept { return m_port; }

    // "http://127.0.0.1:<port><path>"
    [[nodiscard]] std::string url(std::string_view path) const;

    [[nodiscard]] std::vector<http_request> requests() const;
    [[nodiscard]] std::size_t request_count() const;

    // Waits (real time) until at least n requests have arrived.
    bool wait_for_requests(std::size_t n, unsigned ms);

private:
    void serve();
    void handle(unique_fd conn);

    handler m_handler;
    unique_fd m_listener;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<http_request> m_requests;
    std::vector<unique_fd> m_stalled;
    std::thread m_thread;
};

} // namespace torrent::test
