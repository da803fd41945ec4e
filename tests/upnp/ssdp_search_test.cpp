#include "upnp/ssdp_search.h"

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "support/process_env.h"

namespace torrent
{
namespace
{

constexpr const char* igd_answer = "HTTP/1.1 200 OK\r\n"
                                   "CACHE-CONTROL: max-age=120\r\n"
                                   "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                                   "EXT:\r\n"
                                   "SERVER: Linux UPnP/1.1 test/1\r\n"
                                   "LOCATION: http://192.168.1.1:5000/rootDesc.xml\r\n"
                                   "\r\n";

TEST(SsdpAnswer, TakesTheLocationOfAnOkAnswer)
{
    EXPECT_EQ(parse_ssdp_answer(igd_answer), "http://192.168.1.1:5000/rootDesc.xml");
    // Header names are case-insensitive; bare LF line ends and odd spacing occur.
    EXPECT_EQ(
        parse_ssdp_answer("HTTP/1.0 200 OK\nst: x\nlocation:http://10.0.0.1/igd.xml  \n\n"),
        "http://10.0.0.1/igd.xml");
    EXPECT_EQ(parse_ssdp_answer("HTTP/1.1 200 OK\r\nLocation: \tHTTP://10.0.0.1/a\r\n"), "HTTP://10.0.0.1/a");
}

TEST(SsdpAnswer, IgnoresEverythingElse)
{
    const char* rejected[] = {
        "",
        "HTTP/1.1 200 OK",
        "HTTP/1.1 404 Not Found\r\nLOCATION: http://10.0.0.1/a\r\n\r\n",
        "HTTP/1.1 2000 OK\r\nLOCATION: http://10.0.0.1/a\r\n\r\n",
        // Announcements and our own searches looped back on the multicast group.
        "NOTIFY * HTTP/1.1\r\nLOCATION: http://10.0.0.1/a\r\nNTS: ssdp:alive\r\n\r\n",
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n\r\n",
        "HTTP/1.1 200 OK\r\nST: x\r\n\r\n",
        "HTTP/1.1 200 OK\r\nLOCATIONS: http://10.0.0.1/a\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX-LOCATION: http://10.0.0.1/a\r\n\r\n",
        "HTTP/1.1 200 OK\r\nLOCATION: https://10.0.0.1/a\r\n\r\n",
        "HTTP/1.1 200 OK\r\nLOCATION: http://\r\n\r\n",
        "HTTP/1.1 200 OK\r\nLOCATION: http://10.0.0.1/a b\r\n\r\n",
        "HTTP/1.1 200 OK\r\nLOCATION: http://10.0.0.1/\x01\r\n\r\n",
        // A LOCATION after the end of the headers is body, not a header.
        "HTTP/1.1 200 OK\r\nST: x\r\n\r\nLOCATION: http://10.0.0.1/a\r\n",
    };
    for (const char* datagram : rejected)
        EXPECT_EQ(parse_ssdp_answer(datagram), std::nullopt) << datagram;
    EXPECT_EQ(
        parse_ssdp_answer("HTTP/1.1 200 OK\r\nLOCATION: http://" + std::string(1100, 'a') + "\r\n\r\n"),
        std::nullopt);
}

// A gateway stand-in on loopback: searches are sent to it by unicast (unit tests never
// multicast), and it answers from a script.
class loopback_responder
{
public:
    loopback_responder()
        : m_sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_sock.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_sock.get(), reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        timeval limit{5, 0};
        ::setsockopt(m_sock.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }

    [[nodiscard]] ssdp_target target() const { return {INADDR_LOOPBACK, m_port}; }

    // Receives one search; answers each of `answers` to its sender.
    std::string answer(const std::vector<std::string>& answers)
    {
        char buffer[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(m_sock.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0)
            return {};
        for (const std::string& a : answers)
            ::sendto(m_sock.get(), a.data(), a.size(), 0, reinterpret_cast<const sockaddr*>(&from), len);
        return std::string(buffer, static_cast<std::size_t>(n));
    }

private:
    unique_fd m_sock;
    std::uint16_t m_port = 0;
};

long long ms_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

TEST(SsdpSearch, AsksForGatewaysAndCollectsEachDescriptionOnceEndingSoonAfterTheFirstAnswer)
{
    loopback_responder gateway;
    const int fds = test::count_open_fds();
    const auto started = std::chrono::steady_clock::now();
    auto search = std::async(std::launch::async, [&] { return ssdp_search(0, 10000, -1, gateway.target()); });

    const std::string other = "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.2/desc.xml\r\n\r\n";
    const std::string first = gateway.answer({igd_answer, "NOTIFY * HTTP/1.1\r\n\r\n", igd_answer, other});
    EXPECT_EQ(first.rfind("M-SEARCH * HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(first.find("ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"), std::string::npos);
    EXPECT_NE(first.find("MAN: \"ssdp:discover\"\r\n"), std::string::npos);
    EXPECT_NE(first.find("MX: 2\r\n"), std::string::npos);
    EXPECT_EQ(first.substr(first.size() - 4), "\r\n\r\n");
    std::vector<std::string> types;
    types.push_back(first);
    for (int i = 0; i < 3; ++i)
        types.push_back(gateway.answer({}));
    EXPECT_NE(types[2].find("WANIPConnection:1"), std::string::npos);
    EXPECT_NE(types[3].find("WANPPPConnection:1"), std::string::npos);

    const std::vector<std::string> found = search.get();
    const std::vector<std::string> expected = {
        "http://192.168.1.1:5000/rootDesc.xml", "http://192.168.1.2/desc.xml"};
    EXPECT_EQ(found, expected);
    EXPECT_LT(ms_since(started), 3000) << "ends 300 ms after the first answer, not after the window";
    EXPECT_EQ(test::count_open_fds(), fds);
}

TEST(SsdpSearch, WithoutAnswerListensForTheWholeWindow)
{
    loopback_responder silent;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(ssdp_search(0, 300, -1, silent.target()).empty());
    EXPECT_GE(ms_since(started), 300);
}

TEST(SsdpSearch, StopsAtOnceWhenTold)
{
    loopback_responder silent;
    unique_fd stop(::eventfd(0, EFD_CLOEXEC));
    const auto started = std::chrono::steady_clock::now();
    auto search =
        std::async(std::launch::async, [&] { return ssdp_search(0, 20000, stop.get(), silent.target()); });
    EXPECT_FALSE(silent.answer({}).empty()) << "the search went out";
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(stop.get(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_TRUE(search.get().empty());
    EXPECT_LT(ms_since(started), 5000);
}

} // namespace
} // namespace torrent
