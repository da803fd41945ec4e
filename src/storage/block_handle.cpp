#include "storage/block_handle.h"

#include <memory>

#include "base/assert.h"
#include "metainfo/base_error.h"
#include "storage/mapped_file.h"

namespace torrent
{

BlockHandle::BlockHandle(BlockView* view) noexcept
    : m_view(view)
{
    if (m_view != nullptr)
        ++m_view->m_refs;
}

BlockHandle::BlockHandle(const BlockHandle& other) noexcept
    : m_view(other.m_view)
    , m_placeholder(other.m_placeholder)
    , m_zeros(other.m_zeros)
    , m_placeholder_length(other.m_placeholder_length)
{
    if (m_view != nullptr)
        ++m_view->m_refs;
}

BlockHandle& BlockHandle::operator=(const BlockHandle& other) noexcept
{
    if (this != &other)
    {
        if (other.m_view != nullptr)
            ++other.m_view->m_refs;
        release();
        m_view = other.m_view;
        m_placeholder = other.m_placeholder;
        m_zeros = other.m_zeros;
        m_placeholder_length = other.m_placeholder_length;
    }
    return *this;
}

BlockHandle::BlockHandle(BlockHandle&& other) noexcept
    : m_view(std::exchange(other.m_view, nullptr))
    , m_placeholder(std::exchange(other.m_placeholder, false))
    , m_zeros(std::exchange(other.m_zeros, false))
    , m_placeholder_length(std::exchange(other.m_placeholder_length, 0))
{
}

BlockHandle& BlockHandle::operator=(BlockHandle&& other) noexcept
{
    if (this != &other)
    {
        release();
        m_view = std::exchange(other.m_view, nullptr);
        m_placeholder = std::exchange(other.m_placeholder, false);
        m_zeros = std::exchange(other.m_zeros, false);
        m_placeholder_length = std::exchange(other.m_placeholder_length, 0);
    }
    return *this;
}

BlockHandle BlockHandle::placeholder(std::uint32_t length) noexcept
{
    BlockHandle h;
    h.m_placeholder = true;
    h.m_placeholder_length = length;
    return h;
}

BlockHandle BlockHandle::zeros(std::uint32_t length) noexcept
{
    BlockHandle h = placeholder(length);
    h.m_zeros = true;
    return h;
}

std::byte* BlockHandle::data() const
{
    if (m_view == nullptr || m_view->address() == nullptr)
        throw base_error(err::handle_misuse);
    return m_view->address() + m_view->skip();
}

std::uint32_t BlockHandle::length() const
{
    if (m_placeholder)
        return m_placeholder_length;
    if (m_view == nullptr)
        return 0;
    if (std::size_t{m_view->skip()} + m_view->length() > m_view->mapped_size())
        throw base_error(err::handle_misuse);
    return m_view->length();
}

void BlockHandle::release() noexcept
{
    BlockView* view = std::exchange(m_view, nullptr);
    m_placeholder = false;
    m_zeros = false;
    m_placeholder_length = 0;
    if (view == nullptr)
        return;
    ZV_ASSERT(view->m_refs > 0);
    if (--view->m_refs != 0)
        return;
    // The file may keep the view mapped for the next use of the block.
    if (view->m_owner != nullptr && view->m_owner->keep_idle(view))
        return;
    // The last reference: unmap (in the view's destructor) and free it.
    std::unique_ptr<BlockView> last(view);
}

} // namespace torrent
