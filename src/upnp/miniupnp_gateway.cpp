#include "upnp/miniupnp_gateway.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <netinet/in.h>
#include <string>

#include "upnp/ssdp_search.h"

namespace torrent
{
namespace
{

constexpr int search_window_ms = 2000;

// miniupnpc answers UPnP errors as positive codes; ours are all negative.
int as_result(int code) noexcept
{
    return code > 0 ? -code : code;
}

// The gateway's first WAN connection service (WANIPConnection or WANPPPConnection).
class miniupnp_gateway final : public gateway_client
{
public:
    miniupnp_gateway() = default;
    miniupnp_gateway(const miniupnp_gateway&) = delete;
    miniupnp_gateway& operator=(const miniupnp_gateway&) = delete;

    ~miniupnp_gateway() override { FreeUPNPUrls(&m_urls); }

    // True when `url` describes a gateway with a WAN connection service.
    bool open_url(const char* url)
    {
        char lan[64] = {};
        return UPNP_GetIGDFromUrl(url, &m_urls, &m_data, lan, sizeof lan) == 1 && has_service();
    }

    // True when the gateway's WAN connection reports itself up.
    bool connected() { return UPNPIGD_IsConnected(&m_urls, &m_data) == 1; }

    int add_port_mapping(const mapping_request& request) override
    {
        const std::string external = std::to_string(request.external_port);
        const std::string internal = std::to_string(request.internal_port);
        return as_result(UPNP_AddPortMapping(
            m_urls.controlURL,
            m_data.first.servicetype,
            external.c_str(),
            internal.c_str(),
            request.internal_client.c_str(),
            request.description.c_str(),
            request.protocol.c_str(),
            nullptr,
            "0"));
    }

    int
    get_port_mapping(std::uint16_t external_port, const std::string& protocol, mapping_entry& entry) override
    {
        const std::string external = std::to_string(external_port);
        // Sized well above what the library writes (16, 6, 80, 4 and 16 bytes).
        char client[64] = {};
        char port[16] = {};
        char description[128] = {};
        char enabled[16] = {};
        char lease[32] = {};
        const int rc = as_result(UPNP_GetSpecificPortMappingEntry(
            m_urls.controlURL,
            m_data.first.servicetype,
            external.c_str(),
            protocol.c_str(),
            nullptr,
            client,
            port,
            description,
            enabled,
            lease));
        if (rc != upnp_ok)
            return rc;
        entry.internal_client = client;
        entry.internal_port = static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10));
        entry.description = description;
        return upnp_ok;
    }

    int get_external_address(std::string& address) override
    {
        char text[64] = {};
        const int rc =
            as_result(UPNP_GetExternalIPAddress(m_urls.controlURL, m_data.first.servicetype, text));
        if (rc == upnp_ok)
            address = text;
        return rc;
    }

    int delete_port_mapping(std::uint16_t external_port, const std::string& protocol) override
    {
        const std::string external = std::to_string(external_port);
        return as_result(UPNP_DeletePortMapping(
            m_urls.controlURL, m_data.first.servicetype, external.c_str(), protocol.c_str(), nullptr));
    }

private:
    [[nodiscard]] bool has_service() const
    {
        return m_urls.controlURL != nullptr && m_urls.controlURL[0] != '\0'
            && m_data.first.servicetype[0] != '\0';
    }

    UPNPUrls m_urls{};
    IGDdatas m_data{};
};

} // namespace

std::unique_ptr<gateway_client>
find_miniupnp_gateway(const std::string& local_address, int stop_fd, int& result)
{
    result = upnp_no_gateway;
    if (const char* url = std::getenv("ZORVIK_IGD_URL"); url != nullptr && url[0] != '\0')
    {
        auto gateway = std::make_unique<miniupnp_gateway>();
        if (!gateway->open_url(url))
            return nullptr;
        result = upnp_ok;
        return gateway;
    }

    in_addr local{};
    const std::uint32_t local_ip =
        inet_pton(AF_INET, local_address.c_str(), &local) == 1 ? ntohl(local.s_addr) : 0;
    std::unique_ptr<miniupnp_gateway> not_connected;
    for (const std::string& url : ssdp_search(local_ip, search_window_ms, stop_fd))
    {
        auto gateway = std::make_unique<miniupnp_gateway>();
        if (!gateway->open_url(url.c_str()))
            continue;
        if (gateway->connected())
        {
            result = upnp_ok;
            return gateway;
        }
        if (!not_connected)
            not_connected = std::move(gateway);
    }
    if (not_connected)
        result = upnp_ok;
    return not_connected;
}

} // namespace torrent
