// Network thread figures: the synchronous request round trip, many loopback connections
// echoing through AsyncSocket, ByteQueue append/consume, and the memory of an idle
// connection. Run from a Release build:
//   net_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "net/byte_queue.h"
#include "net/net_handler.h"
#include "net/net_ui_thread.h"

namespace torrent
{
namespace
{

using namespace std::chrono_literals;

constexpr std::uint32_t all_events = net_event_read | net_event_write | net_event_close;

double cpu_seconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t)
    {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long rss_kib()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
    {
        if (word == "VmRSS:")
        {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

// n connected TCP pairs on 127.0.0.1 (client, server).
std::vector<std::pair<unique_fd, unique_fd>> loopback_pairs(std::size_t n)
{
    unique_fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    std::vector<std::pair<unique_fd, unique_fd>> pairs;
    if (::bind(listener.get(), raw, length) != 0 || ::listen(listener.get(), 4096) != 0
        || ::getsockname(listener.get(), raw, &length) != 0)
        return pairs;
    for (std::size_t i = 0; i < n; ++i)
    {
        unique_fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(client.get(), raw, length) != 0)
            break;
        unique_fd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        pairs.emplace_back(std::move(client), std::move(server));
    }
    return pairs;
}

void BM_CallRoundTrip(benchmark::State& state)
{
    NetUIThread thread;
    if (!thread.start())
    {
        state.SkipWithError("loop did not start");
        return;
    }
    event_loop& loop = thread.loop();
    for (auto _ : state)
        benchmark::DoNotOptimize(loop.call([] { return 1; }));
    thread.stop();
}

BENCHMARK(BM_CallRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Echoes whatever arrives; stops reading while its copy back is blocked.
class echo_handler final : public NetHandler
{
public:
    using NetHandler::NetHandler;

    void on_readable(int) override { pump(); }

    void on_writable(int) override { pump(); }

    int on_closed(int) override { return 0; }

private:
    void pump()
    {
        for (;;)
        {
            if (m_sent < m_have)
            {
                const io_result r = write_some(m_buffer + m_sent, m_have, m_sent);
                if (r != io_result::complete)
                    return; // blocked: wait for the writable report
                m_sent = m_have = 0;
            }
            std::uint32_t got = 0;
            const io_result r = read_some(m_buffer, sizeof m_buffer, got);
            if (got == 0)
            {
                if (r == io_result::closed && socket() != nullptr)
                    socket()->request_close(false);
                return;
            }
            m_have = got;
        }
    }

    char m_buffer[max_transfer];
    std::uint32_t m_have = 0;
    std::uint32_t m_sent = 0;
};

// Sends `total` bytes and counts the echo; done when all came back.
class echo_client final : public NetHandler
{
public:
    echo_client(event_loop& loop, const char* payload, std::size_t total, std::atomic<std::size_t>& finished)
        : NetHandler(loop)
        , m_payload(payload)
        , m_total(total)
        , m_finished(finished)
    {
    }

    void on_writable(int) override { send(); }

    void on_readable(int) override
    {
        for (;;)
        {
            std::uint32_t got = 0;
            read_some(m_scratch, sizeof m_scratch, got);
            if (got == 0)
                break;
            m_received += got;
        }
        if (m_received >= m_total && socket() != nullptr && socket()->is_open())
        {
            socket()->request_close(false);
            m_finished.fetch_add(1, std::memory_order_release);
            return;
        }
        send();
    }

    int on_closed(int) override { return 0; }

private:
    void send()
    {
        while (m_offset < m_total && socket() != nullptr && socket()->is_open())
        {
            const auto chunk =
                static_cast<std::uint32_t>(std::min<std::size_t>(max_transfer, m_total - m_offset));
            std::uint32_t done = 0;
            write_some(m_payload + m_offset, chunk, done);
            m_offset += done;
            if (done < chunk)
                return;
        }
    }

    const char* m_payload;
    std::size_t m_total;
    std::size_t m_offset = 0;
    std::size_t m_received = 0;
    std::atomic<std::size_t>& m_finished;
    char m_scratch[max_transfer];
};

// `connections` loopback connections each echo `bytes` through AsyncSocket: the clients
// on one network thread, the echoing side on another.
void BM_LoopbackEcho(benchmark::State& state)
{
    const auto connections = static_cast<std::size_t>(state.range(0));
    const std::size_t bytes = std::size_t{1} << 20;
    const std::string payload(bytes, 'p');
    for (auto _ : state)
    {
        state.PauseTiming();
        auto pairs = loopback_pairs(connections);
        if (pairs.size() != connections)
        {
            state.SkipWithError("could not open the connections (fd limit?)");
            return;
        }
        NetUIThread server_thread, client_thread;
        if (!server_thread.start() || !client_thread.start())
        {
            state.SkipWithError("loop did not start");
            return;
        }
        std::atomic<std::size_t> finished{0};
        std::vector<std::unique_ptr<echo_handler>> servers;
        std::vector<std::unique_ptr<echo_client>> clients;
        for (auto& [client_fd, server_fd] : pairs)
        {
            servers.push_back(std::make_unique<echo_handler>(server_thread.loop()));
            server_thread.loop().attach(*servers.back(), std::move(server_fd), all_events);
        }
        const double cpu_before = cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        state.ResumeTiming();

        for (auto& [client_fd, server_fd] : pairs)
        {
            clients.push_back(
                std::make_unique<echo_client>(client_thread.loop(), payload.data(), bytes, finished));
            client_thread.loop().attach(*clients.back(), std::move(client_fd), all_events);
        }
        while (finished.load(std::memory_order_acquire) < connections)
            std::this_thread::sleep_for(1ms);

        state.PauseTiming();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpu_seconds() - cpu_before;
        client_thread.stop(0ms);
        server_thread.stop(0ms);
        clients.clear(); // handlers go after their loops stopped (nothing is dispatched any more)
        servers.clear();
        const double mib = static_cast<double>(connections * bytes) / double(1 << 20);
        state.counters["echoed_MiB_per_s"] = mib / wall;
        state.counters["cpu_s"] = cpu;
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.ResumeTiming();
    }
}

BENCHMARK(BM_LoopbackEcho)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Heap and resident memory one idle attached connection costs (handler, AsyncSocket and
// the socket-map slot; kernel socket buffers are not counted).
void BM_IdleConnectionMemory(benchmark::State& state)
{
    const auto connections = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
    {
        auto pairs = loopback_pairs(connections);
        NetUIThread thread;
        if (pairs.size() != connections || !thread.start())
        {
            state.SkipWithError("setup failed");
            return;
        }
        ::malloc_trim(0);
        const auto heap_before = ::mallinfo2().uordblks;
        const long rss_before = rss_kib();
        std::vector<std::unique_ptr<NetHandler>> handlers;
        handlers.reserve(connections);
        for (auto& [client_fd, server_fd] : pairs)
        {
            handlers.push_back(std::make_unique<NetHandler>(thread.loop()));
            thread.loop().attach(*handlers.back(), std::move(server_fd), net_event_read | net_event_close);
        }
        const auto heap_after = ::mallinfo2().uordblks;
        const long rss_after = rss_kib();
        state.counters["heap_bytes_per_conn"] =
            static_cast<double>(heap_after - heap_before) / double(connections);
        state.counters["rss_bytes_per_conn"] =
            static_cast<double>(rss_after - rss_before) * 1024.0 / double(connections);
        state.counters["sizeof_handler_plus_socket"] =
            static_cast<double>(sizeof(NetHandler) + sizeof(AsyncSocket));
        thread.stop(0ms);
        handlers.clear();
    }
}

BENCHMARK(BM_IdleConnectionMemory)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ByteQueueAppendConsume(benchmark::State& state)
{
    const std::string block(16 * 1024 + 13, 'b');
    ByteQueue queue;
    for (auto _ : state)
    {
        queue.append(block.data(), block.size());
        queue.append(block.data(), 68);
        queue.consume(block.size());
        queue.consume(68);
        benchmark::DoNotOptimize(queue.data());
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(block.size() + 68));
}

BENCHMARK(BM_ByteQueueAppendConsume);

} // namespace
} // namespace torrent
