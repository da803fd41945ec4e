#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tracker/http_headers.h"

namespace torrent
{

// One blocking HTTP GET at a time, keeping the whole answer: status code, reason phrase,
// the header fields of the final response and the body. Built on libcurl: every request
// gets its own easy handle on its own multi handle, so Abort can wake the transfer from
// another thread (curl_multi_wakeup) and make it return at once.
//
// Limits of every request: 1000 ms to connect, redirects followed (http and https only),
// no proxy, HTTP/1.1; a body above max_body_size or a transfer that makes no progress for
// the stall time (60 s) ends the request as a failure, so a hostile or stuck server can
// neither exhaust memory nor hold the caller for ever.
//
// Owner: the tracker announcer (which derives from it). Runs on: the caller's thread for
// Fetch; Abort may come from any thread.
class HttpFetcher
{
public:
    static constexpr std::size_t max_body_size = std::size_t{4} << 20;
    static constexpr std::size_t max_header_bytes = std::size_t{64} << 10;
    static constexpr unsigned connect_timeout_ms = 1000;
    static constexpr unsigned default_stall_seconds = 60;

    HttpFetcher();
    virtual ~HttpFetcher();
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    // Refused while busy, and for any URL whose first four bytes are not "http"
    // (case-sensitive); the stored URL is then unchanged.
    bool SetUrl(std::string_view url);

    // Adds a request header line (ignored while busy).
    void AddHeader(std::string_view name, std::string_view value);

    // Performs the request on the calling thread. False at once when busy. True exactly when
    // the transfer completed and the final status code is 2xx. A redirect that is followed
    // reports the final page. Aborted, oversized, stalled or unconnectable requests report
    // status 0 and no body.
    bool Fetch();

    // True when idle and the last request produced a body (possibly empty).
    [[nodiscard]] bool HasBody() const;

    // The last body when idle, null while busy or when there is none.
    [[nodiscard]] const std::string* Body() const;

    // Ends a request in progress at once (from any thread); its status becomes 0.
    void Abort();

    // Abort, then forget the URL, the request headers and the whole answer.
    void Reset();

    [[nodiscard]] bool busy() const noexcept { return m_busy.load(std::memory_order_acquire); }

    [[nodiscard]] const std::string& url() const noexcept { return m_url; }

    [[nodiscard]] int status_code() const noexcept { return m_status_code; }

    [[nodiscard]] const std::string& status_text() const noexcept { return m_status_text; }

    [[nodiscard]] const header_map& headers() const noexcept { return m_headers; }

    // Polled about every 100 ms during a transfer (on the fetching thread); answering true
    // ends the request as an abort. Lets the announcer notice its stop event mid-request.
    void set_cancel_check(std::function<bool()> check) { m_cancel_check = std::move(check); }

    // Bound on a whole request in milliseconds (0 = none, the default).
    void set_request_timeout(unsigned ms) noexcept { m_request_timeout_ms = ms; }

    // Seconds without any received byte after which a transfer fails (default 60).
    void set_stall_timeout(unsigned seconds) noexcept { m_stall_seconds = seconds; }

private:
    struct transfer;

    void clear_answer();
    void perform();

    mutable std::mutex m_lock;
    void* m_active_multi = nullptr; // the CURLM of the request in flight; guarded by m_lock
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_abort{false};

    std::string m_url;
    std::vector<std::string> m_request_headers;
    int m_status_code = 0;
    bool m_complete = false; // the last transfer ran to its end
    std::string m_status_text;
    std::unique_ptr<std::string> m_body;
    header_map m_headers;

    std::function<bool()> m_cancel_check;
    unsigned m_request_timeout_ms = 0;
    unsigned m_stall_seconds = default_stall_seconds;
};

} // namespace torrent
