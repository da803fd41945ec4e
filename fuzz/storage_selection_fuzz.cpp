// The file-selection (".ZRV") loader: any bytes give a selection whose queries stay in
// bounds, and writing it back then reading that gives the same selection.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "storage/selection_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    selection_record record;
    const bool read = decode_selection_record(std::span(data, size), record);
    if (read != (size >= 4) || read != record.has_array())
        std::abort();
    if (record.bit_count() > max_selection_bits)
        std::abort();
    if (record.bytes().size() != (std::size_t{record.bit_count()} + 7) / 8)
        std::abort();
    std::uint32_t chosen = 0;
    for (std::uint32_t i = 0; i < record.bit_count() + 9 && i < 4096; ++i)
        chosen += record.chosen(i) ? 1 : 0;
    static_cast<void>(record.none_chosen());
    // The per-file view (kept to small counts: a count of 16 million is legal but slow).
    if (record.bit_count() <= 65536)
    {
        const auto files = record.to_file_selection();
        if (read && (!files || files->chosen.size() != record.bit_count()))
            std::abort();
    }

    const std::string written = encode_selection_record(record);
    selection_record again;
    decode_selection_record(
        std::span(reinterpret_cast<const std::uint8_t*>(written.data()), written.size()), again);
    if (read
        && (again.bit_count() != record.bit_count()
            || !std::equal(
                again.bytes().begin(), again.bytes().end(), record.bytes().begin(), record.bytes().end())))
        std::abort();
    static_cast<void>(chosen);
    return 0;
}
