#include "tracker/http_fetcher.h"

#include <curl/curl.h>

namespace torrent
{

namespace
{

// curl_global_init exactly once per process, thread-safely (a function-local static).
bool curl_ready() noexcept
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct easy_deleter
{
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};

struct multi_deleter
{
    void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};

struct slist_deleter
{
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

using easy_ptr = std::unique_ptr<CURL, easy_deleter>;
using multi_ptr = std::unique_ptr<CURLM, multi_deleter>;
using slist_ptr = std::unique_ptr<curl_slist, slist_deleter>;

// One easy handle attached to its own multi handle; detached and freed in the right order.
class curl_session
{
public:
    curl_session()
        : m_multi(curl_multi_init())
        , m_easy(curl_easy_init())
    {
    }

    ~curl_session()
    {
        if (m_attached)
            curl_multi_remove_handle(m_multi.get(), m_easy.get());
    }

    curl_session(const curl_session&) = delete;
    curl_session& operator=(const curl_session&) = delete;

    [[nodiscard]] bool valid() const noexcept { return m_multi && m_easy; }

    [[nodiscard]] CURL* easy() const noexcept { return m_easy.get(); }

    [[nodiscard]] CURLM* multi() const noexcept { return m_multi.get(); }

    bool attach() noexcept
    {
        m_attached = curl_multi_add_handle(m_multi.get(), m_easy.get()) == CURLM_OK;
        return m_attached;
    }

private:
    multi_ptr m_multi; // declared first: destroyed last
    easy_ptr m_easy;
    bool m_attached = false;
};

bool starts_with_http(std::string_view url) noexcept
{
    return url.size() >= 4 && url.substr(0, 4) == "http";
}

} // namespace

// What the curl callbacks collect during one transfer. Only the final response's status line
// and header lines are kept: every status line (a redirect, a 100 Continue) starts over.
struct HttpFetcher::transfer
{
    std::string body;
    bool oversize = false;
    std::vector<std::string> header_lines;
    std::size_t header_bytes = 0;
    bool headers_too_big = false;
    bool have_status = false;
    int code = 0;
    std::string reason;

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) noexcept
    {
        auto* self = static_cast<transfer*>(user);
        const std::size_t n = size * count;
        if (n > max_body_size - self->body.size())
        {
            self->oversize = true;
            return 0; // any count other than n fails the transfer
        }
        try
        {
            self->body.append(data, n);
        }
        catch (...)
        {
            self->oversize = true;
            return 0;
        }
        return n;
    }

    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) noexcept
    {
        auto* self = static_cast<transfer*>(user);
        const std::size_t n = size * count;
        const std::string_view line(data, n);
        try
        {
            int code = 0;
            std::string reason;
            if (parse_status_line(line, code, reason))
            {
                self->have_status = true;
                self->code = code;
                self->reason = std::move(reason);
                self->header_lines.clear();
                self->header_bytes = 0;
                self->body.clear();
                return n;
            }
            self->header_bytes += n;
            if (self->header_bytes > max_header_bytes)
            {
                self->headers_too_big = true;
                return 0;
            }
            if (line.find(':') != std::string_view::npos)
                self->header_lines.emplace_back(line);
        }
        catch (...)
        {
            return 0;
        }
        return n;
    }
};

HttpFetcher::HttpFetcher() = default;

HttpFetcher::~HttpFetcher()
{
    Reset();
}

bool HttpFetcher::SetUrl(std::string_view url)
{
    if (busy() || !starts_with_http(url))
        return false;
    m_url.assign(url);
    return true;
}

void HttpFetcher::AddHeader(std::string_view name, std::string_view value)
{
    if (busy())
        return;
    std::string line;
    line.reserve(name.size() + value.size() + 2);
    line.append(name).append(": ").append(value);
    m_request_headers.push_back(std::move(line));
}

bool HttpFetcher::Fetch()
{
    if (busy())
        return false;
    Abort();
    clear_answer();
    m_busy.store(true, std::memory_order_release);
    perform();
    m_busy.store(false, std::memory_order_release);
    return m_complete && m_status_code >= 200 && m_status_code <= 299;
}

bool HttpFetcher::HasBody() const
{
    return !busy() && m_body != nullptr;
}

const std::string* HttpFetcher::Body() const
{
    return busy() ? nullptr : m_body.get();
}

void HttpFetcher::Abort()
{
    m_abort.store(true, std::memory_order_release);
    std::lock_guard lock(m_lock);
    if (m_active_multi != nullptr)
        curl_multi_wakeup(static_cast<CURLM*>(m_active_multi));
}

void HttpFetcher::Reset()
{
    Abort();
    if (busy())
        return; // another thread is inside Fetch; its own end clears the answer
    m_url.clear();
    m_request_headers.clear();
    clear_answer();
}

void HttpFetcher::clear_answer()
{
    m_status_code = 0;
    m_complete = false;
    m_status_text.clear();
    m_headers.clear();
    m_body.reset();
}

void HttpFetcher::perform()
{
    if (!curl_ready() || m_url.empty())
        return;
    curl_session session;
    if (!session.valid())
        return;

    slist_ptr request_headers;
    for (const std::string& line : m_request_headers)
    {
        curl_slist* grown = curl_slist_append(request_headers.get(), line.c_str());
        if (grown == nullptr)
            return;
        static_cast<void>(request_headers.release());
        request_headers.reset(grown);
    }

    transfer t;
    CURL* easy = session.easy();
    curl_easy_setopt(easy, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PROXY, ""); // direct connection, whatever the environment says
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_stall_seconds));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_body_size));
    if (m_request_timeout_ms != 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(m_request_timeout_ms));
    if (request_headers)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request_headers.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &transfer::on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &transfer::on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    if (!session.attach())
        return;

    {
        std::lock_guard lock(m_lock);
        m_abort.store(false, std::memory_order_relaxed);
        m_active_multi = session.multi();
    }

    bool cancelled = false;
    bool finished = false;
    CURLcode result = CURLE_OK;
    for (;;)
    {
        int running = 0;
        if (curl_multi_perform(session.multi(), &running) != CURLM_OK)
            break;
        if (running == 0)
        {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(session.multi(), &left))
            {
                if (msg->msg == CURLMSG_DONE)
                {
                    result = msg->data.result;
                    finished = true;
                }
            }
            break;
        }
        if (m_abort.load(std::memory_order_acquire) || (m_cancel_check && m_cancel_check()))
        {
            cancelled = true;
            break;
        }
        if (curl_multi_poll(session.multi(), nullptr, 0, 100, nullptr) != CURLM_OK)
            break;
    }

    {
        std::lock_guard lock(m_lock);
        m_active_multi = nullptr;
        if (m_abort.load(std::memory_order_acquire))
            cancelled = true;
    }

    if (cancelled || !finished || !t.have_status || t.oversize || t.headers_too_big
        || result == CURLE_FILESIZE_EXCEEDED || result == CURLE_OPERATION_TIMEDOUT)
        return; // no answer: status 0, no body

    long code = 0;
    if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code == 0)
        code = t.code;
    m_status_code = static_cast<int>(code);
    m_status_text = std::move(t.reason);
    for (const std::string& line : t.header_lines)
        add_header_line(m_headers, line);
    m_body = std::make_unique<std::string>(std::move(t.body));
    // A transfer that broke off keeps its partial body and status, but is not a success.
    m_complete = result == CURLE_OK;
}

} // namespace torrent
