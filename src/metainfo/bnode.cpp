#include "metainfo/bnode.h"

namespace torrent
{

std::uint64_t bnode::count() const noexcept
{
    return 0;
}

std::string_view bnode::key(std::size_t) const
{
    return {};
}

bnode bnode::make(bnode_kind kind)
{
    bnode n;
    n.m_kind = kind;
    return n;
}

void bnode::set_string(std::string value)
{
    m_string = std::move(value);
}

void bnode::set_integer(std::int64_t value)
{
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

std::unique_ptr<bnode> parse_bnode(std::span<const std::byte>)
{
    return nullptr;
}

std::unique_ptr<bnode> parse_bnode(std::string_view)
{
    return nullptr;
}

const bnode* bnode_find(const bnode*, std::string_view) noexcept
{
    return nullptr;
}

} // namespace torrent
