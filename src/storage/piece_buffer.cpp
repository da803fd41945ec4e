#include "storage/piece_buffer.h"

#include <algorithm>
#include <array>
#include <span>

#include "metainfo/base_error.h"
#include "storage/mapped_access.h"

namespace torrent
{
namespace
{

// One span fed to the hasher inside the fault guard: nothing here needs cleaning up when
// the guard abandons it.
struct hash_step
{
    sha1_hasher* hasher;
    std::span<const std::byte> bytes;
    bool ok;
};

void run_hash_step(void* context) noexcept
{
    auto* step = static_cast<hash_step*>(context);
    try
    {
        step->hasher->update(step->bytes);
    }
    catch (const std::exception&)
    {
        step->ok = false;
    }
}

} // namespace

void piece_buffer::add(BlockHandle handle, std::uint32_t file)
{
    if (m_index < 0)
        throw base_error(err::piece_hash);
    const std::uint32_t len = handle.length();
    if (len == 0)
        return;
    if (handle.is_placeholder())
        m_no_data = true;
    m_spans.push_back(piece_span{m_length, std::move(handle), file});
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
    m_faulted_file = -1;
    sha1_hasher hasher(err::piece_hash);
    for (const piece_span& span : m_spans)
    {
        const BlockHandle& h = span.handle;
        if (h.is_zeros())
        {
            // Padding: zeros, fed from one static block.
            static constexpr std::array<std::byte, 65536> zero{};
            for (std::uint32_t left = h.length(); left > 0;)
            {
                const std::uint32_t n = std::min<std::uint32_t>(left, zero.size());
                hasher.update(std::span<const std::byte>(zero.data(), n));
                left -= n;
            }
            continue;
        }
        if (h.is_placeholder() || h.empty())
            throw base_error(err::piece_hash);
        hash_step step{&hasher, std::span<const std::byte>(h.data(), h.length()), true};
        if (!guarded_run(run_hash_step, &step))
        {
            m_faulted_file = span.file;
            throw base_error(err::mapped_fault);
        }
        if (!step.ok)
            throw base_error(err::piece_hash);
    }
    return hasher.finish();
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
