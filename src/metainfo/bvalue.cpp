#include "metainfo/bvalue.h"

#include "metainfo/base_error.h"

namespace torrent
{

bvalue::bvalue(std::int64_t value)
    : m_kind(bvalue_kind::integer)
    , m_integer(value)
{
}

bvalue::bvalue(std::string value)
    : m_kind(bvalue_kind::string)
    , m_string(std::move(value))
{
}

bvalue bvalue::make_list()
{
    bvalue v;
    v.m_kind = bvalue_kind::list;
    return v;
}

bvalue bvalue::make_dictionary()
{
    bvalue v;
    v.m_kind = bvalue_kind::dictionary;
    return v;
}

void bvalue::reset() noexcept
{
    m_kind = bvalue_kind::none;
    m_integer = 0;
    m_string = std::string();
    m_list = list_type();
    m_dict = dict_type();
    m_source_offset = 0;
    m_source_length = 0;
}

const bvalue& bvalue::operator[](std::string_view key) const
{
    const bvalue* v = find(key);
    if (v == nullptr)
        throw base_error(err::kind_mismatch);
    return *v;
}

bool bvalue::has_key(std::string_view key) const noexcept
{
    return find(key) != nullptr;
}

const bvalue* bvalue::find(std::string_view key) const noexcept
{
    if (m_kind != bvalue_kind::dictionary)
        return nullptr;
    const auto it = m_dict.find(key);
    return it == m_dict.end() ? nullptr : &it->second;
}

std::int32_t bvalue::as_int32() const
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(as_int64()));
}

std::int64_t bvalue::as_int64() const
{
    if (m_kind != bvalue_kind::integer)
        throw base_error(err::kind_mismatch);
    return m_integer;
}

const std::string& bvalue::as_string() const
{
    if (m_kind != bvalue_kind::string)
        throw base_error(err::kind_mismatch);
    return m_string;
}

const bvalue::list_type& bvalue::as_list() const
{
    if (m_kind != bvalue_kind::list)
        throw base_error(err::kind_mismatch);
    return m_list;
}

const bvalue::dict_type& bvalue::as_dict() const
{
    if (m_kind != bvalue_kind::dictionary)
        throw base_error(err::kind_mismatch);
    return m_dict;
}

void bvalue::set_integer(std::int64_t value)
{
    if (m_kind != bvalue_kind::integer)
        reset();
    m_kind = bvalue_kind::integer;
    m_integer = value;
}

void bvalue::set_string(std::string value)
{
    if (m_kind != bvalue_kind::string)
        reset();
    m_kind = bvalue_kind::string;
    m_string = std::move(value);
}

std::string& bvalue::string_payload()
{
    if (m_kind != bvalue_kind::string)
    {
        reset();
        m_kind = bvalue_kind::string;
    }
    return m_string;
}

bvalue::list_type& bvalue::list_payload()
{
    if (m_kind != bvalue_kind::list)
    {
        reset();
        m_kind = bvalue_kind::list;
    }
    return m_list;
}

bvalue::dict_type& bvalue::dict_payload()
{
    if (m_kind != bvalue_kind::dictionary)
    {
        reset();
        m_kind = bvalue_kind::dictionary;
    }
    return m_dict;
}

bvalue& bvalue::append()
{
    return list_payload().emplace_back();
}

bvalue& bvalue::slot(std::string_view key)
{
    dict_type& d = dict_payload();
    const auto it = d.find(key);
    if (it != d.end())
        return it->second;
    return d.emplace(std::string(key), bvalue()).first->second;
}

} // namespace torrent
