#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

// Kind tags of a bvalue (the numbering differs from bnode_kind).
enum class bvalue_kind : std::uint8_t
{
    none = 0,
    integer = 1,
    string = 2,
    list = 3,
    dictionary = 4,
};

// Deepest nesting of lists and dictionaries the decoders accept. Real metainfo and tracker
// answers stay below 10; the limit keeps hostile input from exhausting the stack.
inline constexpr int max_bencode_depth = 256;

// One decoded bencoding value (metainfo files). Owns its payload; copying deep-copies it.
// Dictionaries iterate in ascending key order (bytes compared as unsigned, a proper prefix
// first), so re-encoding always gives canonical bencoding.
// The throwing accessors raise base_error code 15 (err::kind_mismatch) on a wrong kind or an
// absent key.
// Decoders also record where the value's encoding lay in their input (source_offset and
// source_length, in bytes from the start of decoding), so that the info dictionary's
// original bytes can be hashed.
class bvalue
{
public:
    using list_type = std::vector<bvalue>;
    using dict_type = std::map<std::string, bvalue, std::less<>>;

    bvalue() = default;
    explicit bvalue(std::int64_t value);
    explicit bvalue(std::string value);
    static bvalue make_list();
    static bvalue make_dictionary();

    [[nodiscard]] bvalue_kind kind() const noexcept { return m_kind; }

    // Frees the payload; the kind becomes none.
    void reset() noexcept;

    // Dictionary lookup: the value under key. Throws code 15 when this is not a dictionary or
    // the key is absent.
    [[nodiscard]] const bvalue& operator[](std::string_view key) const;
    // True when this is a dictionary holding key; never throws.
    [[nodiscard]] bool has_key(std::string_view key) const noexcept;
    // Dictionary lookup that answers null instead of throwing.
    [[nodiscard]] const bvalue* find(std::string_view key) const noexcept;

    // Low 32 bits of the integer payload.
    [[nodiscard]] std::int32_t as_int32() const;
    [[nodiscard]] std::int64_t as_int64() const;
    [[nodiscard]] const std::string& as_string() const;
    [[nodiscard]] const list_type& as_list() const;
    [[nodiscard]] const dict_type& as_dict() const;

    // Building (the decoders and tests). Each turns the value into the named kind first
    // when it is not already of that kind.
    void set_integer(std::int64_t value);
    void set_string(std::string value);
    std::string& string_payload();
    list_type& list_payload();
    dict_type& dict_payload();
    // Appends a none value to the list and returns it.
    bvalue& append();
    // The dictionary slot for key, created as none when absent.
    bvalue& slot(std::string_view key);

    // Where a decoder found this value: bytes from the start of its input.
    [[nodiscard]] std::uint64_t source_offset() const noexcept { return m_source_offset; }

    [[nodiscard]] std::uint64_t source_length() const noexcept { return m_source_length; }

    void set_source(std::uint64_t offset, std::uint64_t length) noexcept
    {
        m_source_offset = offset;
        m_source_length = length;
    }

private:
    bvalue_kind m_kind = bvalue_kind::none;
    std::int64_t m_integer = 0;
    std::string m_string;
    list_type m_list;
    dict_type m_dict;
    std::uint64_t m_source_offset = 0;
    std::uint64_t m_source_length = 0;
};

} // namespace torrent
