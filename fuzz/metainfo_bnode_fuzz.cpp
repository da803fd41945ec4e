// The tracker-answer decoder: never reads past the buffer, never changes it, and lookups
// find the first pair of each key.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "metainfo/bnode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

void walk(const torrent::bnode& node)
{
    using torrent::bnode_kind;
    switch (node.kind())
    {
    case bnode_kind::string:
        if (node.count() != node.str().size() || node.c_str()[node.str().size()] != '\0')
            std::abort();
        break;
    case bnode_kind::integer:
        if (node.count() != static_cast<std::uint64_t>(node.integer()))
            std::abort();
        break;
    case bnode_kind::list:
    case bnode_kind::dictionary:
        if (node.count() != node.size())
            std::abort();
        for (std::size_t i = 0; i < node.size(); ++i)
        {
            if (node.kind() == bnode_kind::dictionary)
            {
                const torrent::bnode* found = torrent::bnode_find(&node, node.key(i));
                std::size_t first = 0;
                while (node.key(first) != node.key(i))
                    ++first;
                if (found != &node.child(first))
                    std::abort();
            }
            walk(node.child(i));
        }
        break;
    case bnode_kind::empty:
        std::abort(); // a parsed tree has no empty nodes
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size heap copy, so that reading one byte too far is caught.
    std::unique_ptr<char[]> buffer(new char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(buffer.get(), data, size);
    const auto root = torrent::parse_bnode(std::string_view(buffer.get(), size));
    if (size != 0 && std::memcmp(buffer.get(), data, size) != 0)
        std::abort();
    if (root)
        walk(*root);
    return 0;
}
