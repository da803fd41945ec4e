#include "tracker/announce_response.h"

#include <arpa/inet.h>

#include "metainfo/bnode.h"
#include "net/local_address.h"
#include "net/peer_id.h"
#include "tracker/tracker_text.h"

namespace torrent
{

namespace
{

std::uint32_t read_be32(const unsigned char* p) noexcept
{
    return (std::uint32_t{p[0]} << 24U) | (std::uint32_t{p[1]} << 16U) | (std::uint32_t{p[2]} << 8U) | p[3];
}

std::uint16_t read_be16(const unsigned char* p) noexcept
{
    return static_cast<std::uint16_t>((p[0] << 8U) | p[1]);
}

bool is_self(const announce_self& self, std::uint32_t address, std::uint16_t port) noexcept
{
    return address == self.external_ip && port == self.external_port;
}

void read_compact(std::string_view peers, const announce_self& self, announce_answer& answer)
{
    if (peers.size() % 6 != 0)
        return;
    answer.peers.reserve(peers.size() / 6);
    for (std::size_t i = 0; i < peers.size(); i += 6)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(peers.data() + i);
        const std::uint32_t address = read_be32(p);
        const std::uint16_t port = read_be16(p + 4);
        if (address == 0 || port == 0 || is_self(self, address, port))
            continue;
        answer.peers.push_back({plain_candidate_key(address, port), 0});
    }
}

// Parses a decimal port; false when the text is not one.
bool parse_port(std::string_view text, std::int64_t& port) noexcept
{
    if (text.empty() || text.size() > 6)
        return false;
    std::int64_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    port = value;
    return true;
}

// The "ip" text of a dictionary peer as an address (host order), 0 when it cannot be used.
std::uint32_t
address_of_text(std::string_view text, std::int64_t& port, const host_resolver& resolve, int& lookups)
{
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos)
    {
        std::int64_t given = 0;
        if (parse_port(text.substr(colon + 1), given))
        {
            port = given;
            text = text.substr(0, colon);
        }
    }
    if (text.empty() || text.find('\0') != std::string_view::npos)
        return 0;
    const std::uint32_t dotted = parse_ipv4(text);
    if (dotted != 0)
        return dotted;
    if (!resolve || lookups >= max_name_lookups)
        return 0;
    ++lookups;
    return resolve(std::string(text));
}

void read_dictionary_peers(
    const bnode& list, const announce_self& self, const host_resolver& resolve, announce_answer& answer)
{
    int lookups = 0;
    for (const bnode& peer : list.children())
    {
        if (peer.kind() != bnode_kind::dictionary)
            continue;
        std::uint32_t internal_address = 0;
        std::uint16_t internal_port = 0;
        bool has_internal = false;
        if (const bnode* id = bnode_find(&peer, "peer id");
            id != nullptr && id->kind() == bnode_kind::string && id->str().size() == peer_id_size)
        {
            if (self.peer_id.size() == peer_id_size && id->str() == self.peer_id)
                continue;
            has_internal = decode_peer_id(id->str(), internal_address, internal_port);
        }
        const bnode* ip = bnode_find(&peer, "ip");
        const bnode* port_node = bnode_find(&peer, "port");
        if (ip == nullptr || ip->kind() != bnode_kind::string || port_node == nullptr
            || port_node->kind() != bnode_kind::integer)
            continue;
        std::int64_t port = port_node->integer();
        const std::uint32_t address = address_of_text(ip->str(), port, resolve, lookups);
        if (address == 0 || port <= 0 || port > 0xFFFF)
            continue;
        const auto port16 = static_cast<std::uint16_t>(port);
        if (is_self(self, address, port16))
            continue;
        if (has_internal && internal_address != 0 && internal_port != 0
            && (internal_address != address || internal_port != port16))
            answer.peers.push_back(
                {internal_candidate_key(internal_address, internal_port, port16), address});
        else
            answer.peers.push_back({plain_candidate_key(address, port16), 0});
    }
}

} // namespace

announce_answer
decode_announce_response(std::string_view body, const announce_self& self, const host_resolver& resolve)
{
    announce_answer answer;
    const std::unique_ptr<bnode> root = parse_bnode(body);
    if (!root || root->kind() != bnode_kind::dictionary)
        return answer;
    if (const bnode* reason = bnode_find(root.get(), "failure reason"); reason != nullptr)
    {
        answer.outcome = announce_outcome::failure;
        if (reason->kind() == bnode_kind::string)
            answer.failure_reason = tracker_text(reason->str());
        return answer;
    }
    const bnode* interval = bnode_find(root.get(), "interval");
    if (interval == nullptr || interval->kind() != bnode_kind::integer)
    {
        answer.outcome = announce_outcome::no_interval;
        return answer;
    }
    answer.outcome = announce_outcome::ok;
    answer.interval = interval->integer();
    const bnode* peers = bnode_find(root.get(), "peers");
    if (peers == nullptr)
        return answer;
    if (peers->kind() == bnode_kind::string)
        read_compact(peers->str(), self, answer);
    else if (peers->kind() == bnode_kind::list)
        read_dictionary_peers(*peers, self, resolve, answer);
    return answer;
}

std::uint32_t resolve_host_ipv4(const std::string& name)
{
    return ntohl(resolve_ipv4(name));
}

} // namespace torrent
