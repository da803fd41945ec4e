// Peer ids from peers and trackers: any bytes decode without fault, the client text is at
// most 20 bytes without a zero byte, and an id we make from a decoded address and port
// decodes back to the same pair.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/peer_id.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string client = client_text_of(bytes);
    if (client != "BitComet" && (client.size() > peer_id_size || client.find('\0') != std::string::npos))
        std::abort();

    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (decode_peer_id(bytes, address, port))
    {
        const std::string ours = make_peer_id(address, port, size);
        std::uint32_t again_address = 1;
        std::uint16_t again_port = 1;
        if (ours.size() != peer_id_size || ours.find('\0') != std::string::npos
            || !decode_peer_id(ours, again_address, again_port) || again_address != address
            || again_port != port)
            std::abort();
    }
    return 0;
}
