// The metainfo decoders: the stream and buffer forms of read_bvalue must agree on every
// input, a decoded tree must re-encode to bencoding that decodes to the same tree, and
// canonical input must re-encode byte for byte.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "metainfo/bencode.h"
#include "metainfo/bvalue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

// Length of the canonical bencoded value at the start of text (sorted unique keys, no
// leading zeros, no "-0", no signs or blanks in lengths), or 0 when it is not canonical.
std::size_t canonical_length(std::string_view text, std::size_t pos, int depth);

std::size_t canonical_string(std::string_view text, std::size_t pos, std::string_view* bytes)
{
    const std::size_t start = pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
        return 0;
    if (text[pos] == '0' && pos + 1 < text.size() && text[pos + 1] != ':')
        return 0;
    std::uint64_t n = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
    {
        n = n * 10 + static_cast<std::uint64_t>(text[pos++] - '0');
        if (n > 0x7FFFFFFF)
            return 0;
    }
    if (pos >= text.size() || text[pos] != ':' || text.size() - pos - 1 < n)
        return 0;
    if (bytes != nullptr)
        *bytes = text.substr(pos + 1, static_cast<std::size_t>(n));
    return pos + 1 + static_cast<std::size_t>(n) - start;
}

std::size_t canonical_length(std::string_view text, std::size_t pos, int depth)
{
    if (pos >= text.size())
        return 0;
    const std::size_t start = pos;
    const char c = text[pos];
    if (c == 'i')
    {
        ++pos;
        const std::size_t number = pos;
        if (pos < text.size() && text[pos] == '-')
            ++pos;
        const std::size_t digits = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            ++pos;
        if (pos == digits || pos >= text.size() || text[pos] != 'e')
            return 0;
        if (text[digits] == '0' && (pos - digits > 1 || digits != number))
            return 0; // leading zero or "-0"
        std::int64_t value = 0;
        const auto r = std::from_chars(text.data() + number, text.data() + pos, value);
        if (r.ec != std::errc() || r.ptr != text.data() + pos)
            return 0; // beyond 64 bits
        return pos + 1 - start;
    }
    if (c == 'l' || c == 'd')
    {
        if (depth >= torrent::max_bencode_depth)
            return 0;
        ++pos;
        std::string_view last_key;
        bool first = true;
        while (pos < text.size() && text[pos] != 'e')
        {
            if (c == 'd')
            {
                std::string_view key;
                const std::size_t k = canonical_string(text, pos, &key);
                if (k == 0 || (!first && !(last_key < key)))
                    return 0;
                last_key = key;
                first = false;
                pos += k;
            }
            const std::size_t v = canonical_length(text, pos, depth + 1);
            if (v == 0)
                return 0;
            pos += v;
        }
        if (pos >= text.size())
            return 0;
        return pos + 1 - start;
    }
    return canonical_string(text, pos, nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torrent;
    const std::string input(reinterpret_cast<const char*>(data), size);

    bvalue from_buffer;
    const std::size_t used = decode_bvalue(input, from_buffer);

    bvalue from_stream;
    std::istringstream in(input);
    try
    {
        read_bvalue(in, from_stream);
    }
    catch (const std::exception&)
    {
        std::abort(); // the stream decoder must fail cleanly, never throw, on small inputs
    }
    if (static_cast<bool>(in) != (used != 0))
        std::abort();
    if (used == 0)
    {
        if (from_buffer.kind() != bvalue_kind::none || from_stream.kind() != bvalue_kind::none)
            std::abort();
        if (canonical_length(input, 0, 0) != 0)
            std::abort(); // canonical bencoding must decode
        return 0;
    }
    if (from_buffer.source_offset() != 0 || from_buffer.source_length() != used)
        std::abort();
    if (in.tellg() != static_cast<std::streamoff>(used))
        std::abort();

    const std::string encoded = encode_bvalue(from_buffer);
    if (encode_bvalue(from_stream) != encoded)
        std::abort();
    std::ostringstream out;
    write_bvalue(out, from_buffer);
    if (out.str() != encoded)
        std::abort();

    // Canonical input re-encodes byte for byte; any input re-encodes to a canonical form.
    const std::size_t canonical = canonical_length(input, 0, 0);
    if (canonical != 0 && input.compare(0, canonical, encoded) != 0)
        std::abort();
    if (canonical_length(encoded, 0, 0) != encoded.size())
        std::abort();
    bvalue again;
    if (decode_bvalue(encoded, again) != encoded.size() || encode_bvalue(again) != encoded)
        std::abort();
    return 0;
}
