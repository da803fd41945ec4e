#include "metainfo/bnode.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "metainfo/bvalue.h"

namespace torrent
{

std::uint64_t bnode::count() const noexcept
{
    switch (m_kind)
    {
    case bnode_kind::string:
        return m_string.size();
    case bnode_kind::integer:
        return static_cast<std::uint64_t>(m_integer);
    case bnode_kind::list:
    case bnode_kind::dictionary:
        return m_children.size();
    case bnode_kind::empty:
        break;
    }
    return 0;
}

std::string_view bnode::key(std::size_t i) const
{
    if (m_kind != bnode_kind::dictionary)
        return {};
    return m_keys.at(i);
}

bnode bnode::make(bnode_kind kind)
{
    bnode n;
    n.m_kind = kind;
    return n;
}

void bnode::set_string(std::string value)
{
    m_kind = bnode_kind::string;
    m_string = std::move(value);
}

void bnode::set_integer(std::int64_t value)
{
    m_kind = bnode_kind::integer;
    m_integer = value;
}

bnode& bnode::add_child()
{
    return m_children.emplace_back();
}

bnode& bnode::add_child(std::string_view key)
{
    m_keys.emplace_back(key);
    return m_children.emplace_back();
}

namespace
{

// Longest integer text (the 'e' is searched at positions 1 to 39) and longest length text
// (the ':' is searched at positions 1 to 31).
constexpr std::size_t integer_search_end = 40;
constexpr std::size_t length_search_end = 32;

// The buffer decoder. Conversions work on a small NUL-terminated copy of the field, so the
// input is never written.
class bnode_parser
{
public:
    explicit bnode_parser(std::string_view data) noexcept
        : m_data(data)
    {
    }

    bool parse(bnode& node, int depth)
    {
        if (m_pos >= m_data.size())
            return false;
        const char c = m_data[m_pos];
        if (c == 'i')
        {
            ++m_pos;
            std::int64_t value = 0;
            if (!integer_field(value))
                return false;
            node.set_integer(value);
            return true;
        }
        if (c == 'l' || c == 'd')
        {
            if (depth >= max_bencode_depth)
                return false;
            ++m_pos;
            const bool dictionary = c == 'd';
            node = bnode::make(dictionary ? bnode_kind::dictionary : bnode_kind::list);
            for (;;)
            {
                if (m_pos >= m_data.size())
                    return false;
                if (m_data[m_pos] == 'e')
                {
                    ++m_pos;
                    return true;
                }
                std::string_view key;
                if (dictionary && !string_field(key))
                    return false;
                if (!parse(dictionary ? node.add_child(key) : node.add_child(), depth + 1))
                    return false;
            }
        }
        if (c >= '0' && c <= '9')
        {
            std::string_view bytes;
            if (!string_field(bytes))
                return false;
            node.set_string(std::string(bytes));
            return true;
        }
        return false;
    }

private:
    // Finds the terminator at positions 1 .. limit-1 after the cursor; copies the text
    // before it into field (NUL-terminated) and moves the cursor past the terminator.
    bool take_field(char terminator, std::size_t limit, char (&field)[integer_search_end])
    {
        const std::size_t remaining = m_data.size() - m_pos;
        for (std::size_t i = 1; i < limit && i < remaining; ++i)
        {
            if (m_data[m_pos + i] == terminator)
            {
                std::memcpy(field, m_data.data() + m_pos, i);
                field[i] = '\0';
                m_pos += i + 1;
                return true;
            }
        }
        return false;
    }

    // C's %i rules: optional white space and sign, then decimal, 0x hexadecimal or
    // leading-zero octal; text after the number is ignored; out of range fails.
    bool integer_field(std::int64_t& value)
    {
        char field[integer_search_end];
        if (!take_field('e', integer_search_end, field))
            return false;
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(field, &end, 0);
        if (end == field || errno == ERANGE)
            return false;
        value = v;
        return true;
    }

    // A length field (%lu rules, the value must fit 32 bits) followed by that many bytes.
    bool string_field(std::string_view& bytes)
    {
        char field[integer_search_end];
        if (!take_field(':', length_search_end, field))
            return false;
        char* end = nullptr;
        errno = 0;
        const unsigned long long length = std::strtoull(field, &end, 10);
        if (end == field || errno == ERANGE || length > std::numeric_limits<std::uint32_t>::max())
            return false;
        if (length > m_data.size() - m_pos)
            return false;
        bytes = m_data.substr(m_pos, static_cast<std::size_t>(length));
        m_pos += static_cast<std::size_t>(length);
        return true;
    }

    std::string_view m_data;
    std::size_t m_pos = 0;
};

} // namespace

std::unique_ptr<bnode> parse_bnode(std::span<const std::byte> data)
{
    return parse_bnode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::unique_ptr<bnode> parse_bnode(std::string_view data)
{
    auto root = std::make_unique<bnode>();
    bnode_parser parser(data);
    if (!parser.parse(*root, 0))
        return nullptr;
    return root;
}

const bnode* bnode_find(const bnode* node, std::string_view key) noexcept
{
    if (node == nullptr || node->kind() != bnode_kind::dictionary)
        return nullptr;
    for (std::size_t i = 0; i < node->size(); ++i)
    {
        if (node->key(i) == key)
            return &node->children()[i];
    }
    return nullptr;
}

} // namespace torrent
