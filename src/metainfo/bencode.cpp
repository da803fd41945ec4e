#include "metainfo/bencode.h"

#include <charconv>
#include <istream>
#include <limits>
#include <ostream>
#include <streambuf>

namespace torrent
{
namespace
{

constexpr int end_of_input = -1;

// Bytes from memory.
class memory_source
{
public:
    explicit memory_source(std::string_view data) noexcept
        : m_data(data)
    {
    }

    [[nodiscard]] int peek() const noexcept
    {
        return m_pos < m_data.size() ? static_cast<unsigned char>(m_data[m_pos]) : end_of_input;
    }

    int get() noexcept
    {
        const int c = peek();
        if (c != end_of_input)
            ++m_pos;
        return c;
    }

    // Appends exactly n bytes to out; false when fewer remain.
    bool read(std::size_t n, std::string& out)
    {
        if (n > m_data.size() - m_pos)
            return false;
        out.append(m_data.substr(m_pos, n));
        m_pos += n;
        return true;
    }

    [[nodiscard]] std::uint64_t position() const noexcept { return m_pos; }

private:
    std::string_view m_data;
    std::size_t m_pos = 0;
};

// Bytes from a stream buffer, counted from where decoding started.
class stream_source
{
public:
    explicit stream_source(std::streambuf& buf) noexcept
        : m_buf(buf)
    {
    }

    [[nodiscard]] int peek() const
    {
        const auto c = m_buf.sgetc();
        return std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())
            ? end_of_input
            : std::char_traits<char>::to_int_type(std::char_traits<char>::to_char_type(c));
    }

    int get()
    {
        const int c = peek();
        if (c != end_of_input)
        {
            m_buf.sbumpc();
            ++m_pos;
        }
        return c;
    }

    // Appends exactly n bytes to out; false at a premature end of input. The string grows
    // with the data that actually arrives, so a huge declared length in a short file costs
    // no huge allocation.
    bool read(std::size_t n, std::string& out)
    {
        constexpr std::size_t chunk = 64 * 1024;
        while (n > 0)
        {
            const std::size_t want = n < chunk ? n : chunk;
            const std::size_t old = out.size();
            out.resize(old + want);
            const auto got = m_buf.sgetn(out.data() + old, static_cast<std::streamsize>(want));
            const auto got_size = got > 0 ? static_cast<std::size_t>(got) : 0;
            m_pos += got_size;
            if (got_size != want)
            {
                out.resize(old + got_size);
                return false;
            }
            n -= want;
        }
        return true;
    }

    [[nodiscard]] std::uint64_t position() const noexcept { return m_pos; }

private:
    std::streambuf& m_buf;
    std::uint64_t m_pos = 0;
};

bool is_digit(int c) noexcept
{
    return c >= '0' && c <= '9';
}

bool is_space(int c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The recursive decoder shared by the stream and buffer forms.
template <class Source>
class decoder
{
public:
    explicit decoder(Source& src, std::size_t max_values = static_cast<std::size_t>(-1)) noexcept
        : m_src(src)
        , m_values_left(max_values)
    {
    }

    // True when the decode stopped because the input holds more values than allowed.
    [[nodiscard]] bool over_budget() const noexcept { return m_over_budget; }

    // Decodes one value into out (which is of kind none). On failure out is left reset.
    bool value(bvalue& out, int depth)
    {
        if (m_values_left == 0)
        {
            m_over_budget = true;
            return false;
        }
        --m_values_left;
        const std::uint64_t start = m_src.position();
        const int c = m_src.peek();
        bool ok = false;
        if (is_digit(c))
            ok = string(out.string_payload());
        else if (c == 'i')
            ok = integer(out);
        else if (c == 'l')
            ok = depth < max_bencode_depth && list(out, depth + 1);
        else if (c == 'd')
            ok = depth < max_bencode_depth && dictionary(out, depth + 1);
        if (!ok)
        {
            out.reset();
            return false;
        }
        out.set_source(start, m_src.position() - start);
        return true;
    }

private:
    // A string: a decimal length (leading white space and a sign allowed; it must fit a
    // signed 32-bit integer and not be negative), ':' and that many bytes.
    bool string(std::string& out)
    {
        while (is_space(m_src.peek()))
            m_src.get();
        bool negative = false;
        if (m_src.peek() == '+' || m_src.peek() == '-')
            negative = m_src.get() == '-';
        if (!is_digit(m_src.peek()))
            return false;
        std::uint64_t length = 0;
        while (is_digit(m_src.peek()))
        {
            length = length * 10 + static_cast<std::uint64_t>(m_src.get() - '0');
            if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return false;
        }
        if ((negative && length != 0) || m_src.get() != ':')
            return false;
        return m_src.read(static_cast<std::size_t>(length), out);
    }

    // 'i', an optional '-', at least one decimal digit (the value must fit 64 bits), 'e'.
    bool integer(bvalue& out)
    {
        m_src.get(); // 'i'
        const bool negative = m_src.peek() == '-';
        if (negative)
            m_src.get();
        if (!is_digit(m_src.peek()))
            return false;
        // Accumulate the magnitude; the negative range is one larger than the positive.
        const std::uint64_t limit = negative
            ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
            : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        std::uint64_t magnitude = 0;
        while (is_digit(m_src.peek()))
        {
            const auto digit = static_cast<std::uint64_t>(m_src.get() - '0');
            if (magnitude > (limit - digit) / 10)
                return false;
            magnitude = magnitude * 10 + digit;
        }
        if (m_src.get() != 'e')
            return false;
        out.set_integer(
            negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude));
        return true;
    }

    bool list(bvalue& out, int depth)
    {
        m_src.get(); // 'l'
        bvalue::list_type& items = out.list_payload();
        for (;;)
        {
            const int c = m_src.peek();
            if (c == end_of_input)
                return false;
            if (c == 'e')
            {
                m_src.get();
                return true;
            }
            if (!value(items.emplace_back(), depth))
                return false;
        }
    }

    // Keys need not be sorted on input; a repeated key decodes into the existing slot, so
    // the last occurrence wins.
    bool dictionary(bvalue& out, int depth)
    {
        m_src.get(); // 'd'
        out.dict_payload();
        std::string key;
        for (;;)
        {
            const int c = m_src.peek();
            if (c == end_of_input)
                return false;
            if (c == 'e')
            {
                m_src.get();
                return true;
            }
            key.clear();
            if (!string(key))
                return false;
            bvalue& slot = out.slot(key);
            slot.reset();
            if (!value(slot, depth))
                return false;
        }
    }

    Source& m_src;
    std::size_t m_values_left;
    bool m_over_budget = false;
};

template <class Sink>
void encode(const bvalue& value, Sink& sink)
{
    char number[24];
    const auto put_number = [&](auto n)
    {
        const auto r = std::to_chars(number, number + sizeof(number), n);
        sink(std::string_view(number, static_cast<std::size_t>(r.ptr - number)));
    };
    switch (value.kind())
    {
    case bvalue_kind::none:
        break;
    case bvalue_kind::integer:
        sink("i");
        put_number(value.as_int64());
        sink("e");
        break;
    case bvalue_kind::string:
        put_number(value.as_string().size());
        sink(":");
        sink(value.as_string());
        break;
    case bvalue_kind::list:
        sink("l");
        for (const bvalue& item : value.as_list())
            encode(item, sink);
        sink("e");
        break;
    case bvalue_kind::dictionary:
        sink("d");
        for (const auto& [key, item] : value.as_dict())
        {
            put_number(key.size());
            sink(":");
            sink(key);
            encode(item, sink);
        }
        sink("e");
        break;
    }
}

} // namespace

void read_bvalue(std::istream& in, bvalue& out)
{
    out.reset();
    std::streambuf* buf = in.rdbuf();
    if (!in.good() || buf == nullptr)
    {
        in.setstate(std::ios::failbit);
        return;
    }
    stream_source src(*buf);
    decoder<stream_source> dec(src);
    bool ok = false;
    try
    {
        ok = dec.value(out, 0);
    }
    catch (...)
    {
        out.reset();
        in.setstate(std::ios::badbit);
        throw;
    }
    if (!ok)
        in.setstate(std::ios::failbit);
}

std::size_t decode_bvalue(std::string_view data, bvalue& out, std::size_t max_values, bool* over_budget)
{
    out.reset();
    memory_source src(data);
    decoder<memory_source> dec(src, max_values);
    const bool ok = dec.value(out, 0);
    if (over_budget != nullptr)
        *over_budget = dec.over_budget();
    if (!ok)
        return 0;
    return static_cast<std::size_t>(src.position());
}

void write_bvalue(std::ostream& out, const bvalue& value)
{
    auto sink = [&out](std::string_view s)
    {
        out.write(s.data(), static_cast<std::streamsize>(s.size()));
    };
    encode(value, sink);
}

void encode_bvalue(const bvalue& value, std::string& out)
{
    auto sink = [&out](std::string_view s)
    {
        out.append(s);
    };
    encode(value, sink);
}

std::string encode_bvalue(const bvalue& value)
{
    std::string out;
    encode_bvalue(value, out);
    return out;
}

} // namespace torrent
