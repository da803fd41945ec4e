// ByteQueue against a plain string: a script of appends, consumes and reserves read from
// the input keeps the same bytes, and the capacity always holds them in whole KiB steps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/byte_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    ByteQueue queue;
    std::string model;
    std::size_t i = 0;
    while (i + 3 <= size)
    {
        const std::uint8_t op = data[i];
        // Sizes up to about 1 MiB so the grow and shrink thresholds are reached.
        const std::size_t n = (std::size_t{data[i + 1]} << 12 | std::size_t{data[i + 2]} << 4) >> (op >> 4);
        i += 3;
        switch (op % 3)
        {
        case 0:
        {
            const std::string bytes(n, static_cast<char>('a' + i % 26));
            queue.append(bytes.data(), bytes.size());
            model += bytes;
            break;
        }
        case 1:
            queue.consume(n);
            if (n != 0 && n <= model.size())
                model.erase(0, n);
            break;
        default:
            queue.reserve(n);
            if (queue.capacity() - queue.size() < n)
                std::abort();
            break;
        }
        if (queue.size() != model.size() || queue.capacity() < queue.size() || queue.capacity() % 1024 != 0
            || (!model.empty() && std::memcmp(queue.data(), model.data(), model.size()) != 0))
            std::abort();
    }
    return 0;
}
