#include "storage/piece_buffer.h"

#include <algorithm>
#include <array>
#include <span>

#include "metainfo/base_error.h"

namespace torrent
{

void piece_buffer::add(BlockHandle handle)
{
    if (m_index < 0)
        throw base_error(err::piece_hash);
    const std::uint32_t len = handle.length();
    if (len == 0)
        return;
    if (handle.is_placeholder())
        m_no_data = true;
    m_spans.push_back(piece_span{m_length, std::move(handle)});
    m_length += len;
}

const piece_span& piece_buffer::span_at(std::uint32_t p) const
{
    if (m_spans.empty())
        throw base_error(err::piece_hash);
    auto it = std::upper_bound(
        m_spans.begin(),
        m_spans.end(),
        p,
        [](std::uint32_t v, const piece_span& s) { return v < s.position; });
    return it == m_spans.begin() ? *it : *(it - 1);
}

sha1_digest piece_buffer::digest() const
{
    if (m_index < 0 || m_spans.empty())
        throw base_error(err::piece_hash);
    // A piece touches only a handful of files; keep the span list on the stack for the
    // common case.
    constexpr std::size_t inline_spans = 8;
    std::array<std::span<const std::byte>, inline_spans> small;
    std::vector<std::span<const std::byte>> large;
    std::span<std::span<const std::byte>> list;
    if (m_spans.size() <= inline_spans)
        list = std::span(small).first(m_spans.size());
    else
    {
        large.resize(m_spans.size());
        list = large;
    }
    for (std::size_t i = 0; i < m_spans.size(); ++i)
    {
        const BlockHandle& h = m_spans[i].handle;
        if (h.is_placeholder() || h.empty())
            throw base_error(err::piece_hash);
        list[i] = std::span<const std::byte>(h.data(), h.length());
    }
    return sha1(list, err::piece_hash);
}

std::string piece_buffer::digest_text() const
{
    if (m_no_data)
        return {};
    return digest_to_hex(digest());
}

std::size_t piece_buffer::release() noexcept
{
    const std::size_t n = m_spans.size();
    m_spans.clear();
    return n;
}

} // namespace torrent
