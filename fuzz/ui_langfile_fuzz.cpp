// The language file loader: any bytes give a table of 140 one-line UTF-8 entries within the
// line limit, and the result does not depend on how the bytes arrive.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/language_file.h"
#include "ui/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    ui_text_table whole;
    read_language_file(bytes, whole);
    for (std::size_t i = 0; i < ui_text_count; ++i)
    {
        const std::string& entry = whole[i];
        if (entry.size() > language_line_limit || entry.find('\n') != std::string::npos
            || !is_valid_utf8(entry))
            std::abort();
    }

    // Fed in pieces whose size comes from the first byte: the same table.
    const std::size_t step = size == 0 ? 1 : static_cast<std::size_t>(data[0] % 61) + 1;
    ui_text_table pieces;
    language_file_reader reader(pieces);
    for (std::size_t at = 0; at < size; at += step)
    {
        if (!reader.feed(bytes.substr(at, step)))
            break;
    }
    reader.finish();
    if (!(pieces == whole))
        std::abort();

    // What is written reads back unchanged.
    ui_text_table again;
    read_language_file(language_file_bytes(whole), again);
    if (!(again == whole))
        std::abort();
    return 0;
}
