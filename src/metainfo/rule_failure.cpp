#include "metainfo/rule_failure.h"

#include "metainfo/base_error.h"

namespace torrent
{
namespace
{

const char* kind_name(bvalue_kind kind) noexcept
{
    switch (kind)
    {
    case bvalue_kind::integer:
        return "an integer";
    case bvalue_kind::string:
        return "a string";
    case bvalue_kind::list:
        return "a list";
    case bvalue_kind::dictionary:
        return "a dictionary";
    case bvalue_kind::none:
        break;
    }
    return "a value";
}

} // namespace

void fail_rule(std::uint8_t code, std::string* why, const std::string& text)
{
    if (why != nullptr)
        *why = text;
    throw base_error(code);
}

const bvalue& required_key(
    const bvalue& dict, std::string_view key, bvalue_kind kind, std::string* why, std::string_view context)
{
    const bvalue* v = dict.find(key);
    if (v != nullptr && v->kind() == kind)
        return *v;
    if (why != nullptr)
    {
        std::string text(context);
        text += '"';
        text += key;
        text += v == nullptr ? "\" is missing" : "\" is not ";
        if (v != nullptr)
            text += kind_name(kind);
        *why = std::move(text);
    }
    throw base_error(err::kind_mismatch);
}

} // namespace torrent
