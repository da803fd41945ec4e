#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

// Kind numbers of a bnode (not the bvalue numbering).
enum class bnode_kind : std::int32_t
{
    empty = 0,
    string = 1,
    integer = 2,
    list = 3,
    dictionary = 4,
};

// One node of a decoded tracker answer (the in-memory decoder). Dictionaries keep their pairs
// in input order with duplicates; lookup answers null instead of throwing. A node owns its
// subtree.
class bnode
{
public:
    [[nodiscard]] bnode_kind kind() const noexcept { return m_kind; }

    // String: its bytes (a NUL follows them in memory, so c_str() is a C string that ends
    // at the first NUL). Empty for other kinds.
    [[nodiscard]] std::string_view str() const noexcept { return m_string; }

    [[nodiscard]] const char* c_str() const noexcept { return m_string.c_str(); }

    // Integer: its value (0 for other kinds).
    [[nodiscard]] std::int64_t integer() const noexcept { return m_integer; }

    // String: byte length; list and dictionary: number of children; integer: the value as
    // an unsigned 64-bit number.
    [[nodiscard]] std::uint64_t count() const noexcept;

    // Children of a list or dictionary, in input order.
    [[nodiscard]] std::size_t size() const noexcept { return m_children.size(); }

    [[nodiscard]] const bnode& child(std::size_t i) const { return m_children.at(i); }

    [[nodiscard]] std::span<const bnode> children() const noexcept { return m_children; }

    // Key of child i of a dictionary (empty for a list).
    [[nodiscard]] std::string_view key(std::size_t i) const;

    // Building (used by the decoder and tests).
    static bnode make(bnode_kind kind);
    void set_string(std::string value);
    void set_integer(std::int64_t value);
    bnode& add_child(); // list
    bnode& add_child(std::string_view key); // dictionary

private:
    bnode_kind m_kind = bnode_kind::empty;
    std::int64_t m_integer = 0;
    std::string m_string;
    std::vector<bnode> m_children;
    std::vector<std::string> m_keys;
};

// Decodes a tracker answer held in memory. Returns the root, or null when the input is
// malformed (nothing partial survives). The input is never modified. Integers follow C's %i
// rules (decimal, 0x hexadecimal, leading-zero octal) and are at most 38 characters;
// lengths are unsigned decimal of at most 30 characters. Nesting deeper than
// max_bencode_depth is malformed.
[[nodiscard]] std::unique_ptr<bnode> parse_bnode(std::span<const std::byte> data);
[[nodiscard]] std::unique_ptr<bnode> parse_bnode(std::string_view data);

// If node is a dictionary, the child of the first pair whose key equals key (input order);
// otherwise, or when absent, null. node may be null.
[[nodiscard]] const bnode* bnode_find(const bnode* node, std::string_view key) noexcept;

} // namespace torrent
