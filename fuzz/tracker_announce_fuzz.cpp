// A tracker's answer decoded as the announcer decodes it: compact and dictionary peer lists,
// peer ids of ours, "ip" texts with port suffixes. Every peer that comes out has a non-zero
// address and port and is never our own address; host names are never looked up.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tracker/announce_response.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const announce_self self{0xC6336407U, 6881, "ZRV-fuzzing-our-id!!"};
    int lookups = 0;
    const host_resolver resolve = [&lookups](const std::string&) -> std::uint32_t
    {
        ++lookups;
        return lookups % 2 == 0 ? 0x0A000001U : 0;
    };
    const announce_answer answer = decode_announce_response(body, self, resolve);
    if (lookups > max_name_lookups)
        std::abort();
    if (answer.outcome != announce_outcome::ok && !answer.peers.empty())
        std::abort();
    for (const announced_peer& peer : answer.peers)
    {
        const candidate_address a = address_of(peer.key, peer.external_address);
        if (a.address == 0 || a.port == 0)
            std::abort();
        if (peer.external_address == 0 && a.address == self.external_ip && a.port == self.external_port)
            std::abort();
    }
    static_cast<void>(announce_delay_ms(answer.interval));
    return 0;
}
