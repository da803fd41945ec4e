#include "tracker/http_fetcher.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "scripted_http_server.h"
#include "tracker/http_headers.h"

namespace torrent
{
namespace
{

using test::http_reply;
using test::http_request;
using test::make_reply;
using test::scripted_http_server;

using steady = std::chrono::steady_clock;

long elapsed_ms(steady::time_point since)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - since).count());
}

TEST(HttpFetcherUrl, AcceptsOnlyUrlsBeginningWithLowerCaseHttp)
{
    HttpFetcher f;
    EXPECT_TRUE(f.SetUrl("http://127.0.0.1/announce"));
    EXPECT_TRUE(f.SetUrl("https://127.0.0.1/announce"));
    EXPECT_FALSE(f.SetUrl("HTTP://127.0.0.1/x"));
    EXPECT_FALSE(f.SetUrl("udp://127.0.0.1:6969/announce"));
    EXPECT_FALSE(f.SetUrl("htt"));
    EXPECT_EQ(f.url(), "https://127.0.0.1/announce"); // a refused URL leaves the stored one
}

TEST(HttpHeaders, KeysAreTrimmedLowerCaseAndRepeatsGetUnderscores)
{
    header_map h;
    add_header_line(h, "Content-Type: text/plain\r\n");
    add_header_line(h, "  X-Dup  :  one  \r\n");
    add_header_line(h, "x-dup: two");
    add_header_line(h, "X-DUP:three");
    add_header_line(h, ": no name");
    add_header_line(h, "no colon at all");
    add_header_line(h, "HTTP/1.1 200 OK");
    ASSERT_EQ(h.size(), 4U);
    EXPECT_EQ(h.at("content-type"), "text/plain");
    EXPECT_EQ(h.at("x-dup"), "one");
    EXPECT_EQ(h.at("x-dup_"), "two");
    EXPECT_EQ(h.at("x-dup__"), "three");
}

TEST(HttpHeaders, StatusLineGivesCodeAndReason)
{
    int code = 0;
    std::string reason;
    ASSERT_TRUE(parse_status_line("HTTP/1.1 404 Not Found\r\n", code, reason));
    EXPECT_EQ(code, 404);
    EXPECT_EQ(reason, "Not Found");
    ASSERT_TRUE(parse_status_line("HTTP/1.0 200\r\n", code, reason));
    EXPECT_EQ(code, 200);
    EXPECT_EQ(reason, "");
    ASSERT_TRUE(parse_status_line("HTTP/1.1 200 " + std::string(400, 'r'), code, reason));
    EXPECT_EQ(reason.size(), max_status_text);
    EXPECT_FALSE(parse_status_line("Content-Type: x", code, reason));
    EXPECT_FALSE(parse_status_line("HTTP/1.1 20x OK", code, reason));
    EXPECT_FALSE(parse_status_line("HTTP/1.1 2000 OK", code, reason));
}

TEST(HttpFetcherAnswer, KeepsStatusHeadersAndBodyOfA200)
{
    scripted_http_server server(
        [](const http_request&)
        {
            return make_reply(
                200, "OK", "d8:intervali60ee", "Content-Type: text/plain\r\nX-Dup: a\r\nX-Dup: b\r\n");
        });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce?x=1")));
    f.AddHeader("Accept", "application/x-bittorrent");
    ASSERT_TRUE(f.Fetch());
    EXPECT_EQ(f.status_code(), 200);
    EXPECT_EQ(f.status_text(), "OK");
    ASSERT_TRUE(f.HasBody());
    EXPECT_EQ(*f.Body(), "d8:intervali60ee");
    EXPECT_EQ(f.headers().at("content-type"), "text/plain");
    EXPECT_EQ(f.headers().at("x-dup"), "a");
    EXPECT_EQ(f.headers().at("x-dup_"), "b");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].target, "/announce?x=1");
    EXPECT_NE(requests[0].head.find("\r\nAccept: application/x-bittorrent"), std::string::npos);
    EXPECT_EQ(requests[0].head.find("User-Agent"), std::string::npos);

    f.Reset();
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_FALSE(f.HasBody());
    EXPECT_TRUE(f.headers().empty());
    EXPECT_TRUE(f.url().empty());
    EXPECT_FALSE(f.Fetch()); // no URL any more
}

TEST(HttpFetcherAnswer, FollowsARedirectAndReportsTheFinalPage)
{
    std::string final_url;
    scripted_http_server server(
        [&](const http_request& r)
        {
            if (r.target == "/old")
                return make_reply(302, "Found", "moved", "Location: /new\r\nX-Only-On-Redirect: 1\r\n");
            return make_reply(200, "Fine", "final body");
        });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/old")));
    ASSERT_TRUE(f.Fetch());
    EXPECT_EQ(f.status_code(), 200);
    EXPECT_EQ(f.status_text(), "Fine");
    EXPECT_EQ(*f.Body(), "final body");
    EXPECT_EQ(f.headers().count("x-only-on-redirect"), 0U);
    EXPECT_EQ(f.headers().count("location"), 0U);
    EXPECT_EQ(server.request_count(), 2U);
}

TEST(HttpFetcherAnswer, A404FailsButKeepsItsBody)
{
    scripted_http_server server([](const http_request&)
                                { return make_reply(404, "Not Found", "no such torrent"); });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 404);
    EXPECT_EQ(f.status_text(), "Not Found");
    ASSERT_TRUE(f.HasBody());
    EXPECT_EQ(*f.Body(), "no such torrent");
}

TEST(HttpFetcherFailure, RefusedConnectionHasNoAnswer)
{
    std::uint16_t port = 0;
    {
        scripted_http_server gone([](const http_request&) { return http_reply{}; });
        port = gone.port();
    } // nothing listens there any more
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl("http://127.0.0.1:" + std::to_string(port) + "/announce"));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_FALSE(f.HasBody());
}

TEST(HttpFetcherFailure, ConnectionClosedWithoutAWordHasNoAnswer)
{
    scripted_http_server server(
        [](const http_request&)
        {
            http_reply r;
            r.how = http_reply::mode::close;
            return r;
        });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_FALSE(f.HasBody());
}

TEST(HttpFetcherFailure, BodiesAbove4MiBAreRefusedWithOrWithoutALength)
{
    // Ten MiB streamed without a length: cut off once 4 MiB have arrived.
    scripted_http_server streamed(
        [](const http_request&)
        {
            http_reply r;
            r.raw = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
            r.stream_bytes = std::size_t{10} << 20;
            return r;
        });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(streamed.url("/big")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_FALSE(f.HasBody());

    // Announced as ten MiB: refused before the body is read.
    scripted_http_server announced(
        [](const http_request&)
        {
            http_reply r;
            r.raw = "HTTP/1.1 200 OK\r\nContent-Length: 10485760\r\nConnection: close\r\n\r\n";
            r.stream_bytes = std::size_t{10} << 20;
            return r;
        });
    ASSERT_TRUE(f.SetUrl(announced.url("/big")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 0);

    // Exactly 4 MiB is still fine.
    scripted_http_server limit(
        [](const http_request&)
        {
            http_reply r;
            r.raw = "HTTP/1.1 200 OK\r\nContent-Length: 4194304\r\nConnection: close\r\n\r\n";
            r.stream_bytes = HttpFetcher::max_body_size;
            return r;
        });
    ASSERT_TRUE(f.SetUrl(limit.url("/big")));
    EXPECT_TRUE(f.Fetch());
    EXPECT_EQ(f.Body()->size(), HttpFetcher::max_body_size);
}

TEST(HttpFetcherFailure, AFloodOfHeaderLinesIsRefused)
{
    std::string flood;
    for (int i = 0; i < 3000; ++i)
        flood += "X-Same: " + std::string(20, 'v') + "\r\n"; // about 90 KiB, each a new key_
    scripted_http_server server([&](const http_request&)
                                { return make_reply(200, "OK", "d8:intervali60ee", flood); });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_TRUE(f.headers().empty());
}

TEST(HttpFetcherFailure, ATransferThatBreaksOffIsNotASuccess)
{
    scripted_http_server server(
        [](const http_request&)
        {
            http_reply r;
            r.raw = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nd8:interval";
            return r;
        });
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    EXPECT_FALSE(f.Fetch());
    EXPECT_EQ(f.status_code(), 200); // what the server said is still known
    ASSERT_TRUE(f.HasBody());
    EXPECT_EQ(*f.Body(), "d8:interval");
}

http_reply stall(const http_request&)
{
    http_reply r;
    r.how = http_reply::mode::stall;
    return r;
}

TEST(HttpFetcherStall, AbortFromAnotherThreadEndsTheTransferAtOnce)
{
    scripted_http_server server(stall);
    HttpFetcher f;
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    bool fetched = true;
    const auto start = steady::now();
    std::thread fetcher([&] { fetched = f.Fetch(); });
    ASSERT_TRUE(server.wait_for_requests(1, 5000));
    EXPECT_TRUE(f.busy());
    EXPECT_FALSE(f.SetUrl(server.url("/other"))); // refused while busy
    EXPECT_EQ(f.Body(), nullptr);
    const auto abort_at = steady::now();
    f.Abort();
    fetcher.join();
    EXPECT_LT(elapsed_ms(abort_at), 500);
    EXPECT_LT(elapsed_ms(start), 5000);
    EXPECT_FALSE(fetched);
    EXPECT_EQ(f.status_code(), 0);
    EXPECT_FALSE(f.HasBody());
}

TEST(HttpFetcherStall, CancelCheckEndsTheTransfer)
{
    scripted_http_server server(stall);
    HttpFetcher f;
    std::atomic<bool> cancel{false};
    f.set_cancel_check([&] { return cancel.load(); });
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    std::thread stopper(
        [&]
        {
            server.wait_for_requests(1, 5000);
            cancel = true;
        });
    const auto start = steady::now();
    EXPECT_FALSE(f.Fetch());
    stopper.join();
    EXPECT_LT(elapsed_ms(start), 3000);
    EXPECT_EQ(f.status_code(), 0);
}

TEST(HttpFetcherStall, ATransferWithoutProgressFails)
{
    scripted_http_server server(stall);
    HttpFetcher f;
    f.set_stall_timeout(1); // the real limit is 60 s; one second shows the rule
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    const auto start = steady::now();
    EXPECT_FALSE(f.Fetch());
    EXPECT_GE(elapsed_ms(start), 900);
    EXPECT_LT(elapsed_ms(start), 5000);
    EXPECT_EQ(f.status_code(), 0);
}

TEST(HttpFetcherStall, RequestTimeoutBoundsAWholeRequest)
{
    scripted_http_server server(stall);
    HttpFetcher f;
    f.set_request_timeout(300);
    ASSERT_TRUE(f.SetUrl(server.url("/announce")));
    const auto start = steady::now();
    EXPECT_FALSE(f.Fetch());
    EXPECT_LT(elapsed_ms(start), 2000);
}

} // namespace
} // namespace torrent
