#include "net/byte_queue.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "base/assert.h"

namespace torrent
{

namespace
{

std::size_t round_up_to_step(std::size_t n) noexcept
{
    return (n + ByteQueue::growth_step - 1) / ByteQueue::growth_step * ByteQueue::growth_step;
}

} // namespace

ByteQueue::~ByteQueue()
{
    std::free(m_data);
}

ByteQueue::ByteQueue(ByteQueue&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_length(std::exchange(other.m_length, 0))
    , m_capacity(std::exchange(other.m_capacity, 0))
{
}

ByteQueue& ByteQueue::operator=(ByteQueue&& other) noexcept
{
    if (this != &other)
    {
        std::free(m_data);
        m_data = std::exchange(other.m_data, nullptr);
        m_length = std::exchange(other.m_length, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

void ByteQueue::reallocate(std::size_t capacity)
{
    ZV_ASSERT(capacity >= m_length);
    void* block = std::realloc(m_data, capacity);
    if (block == nullptr)
        throw std::bad_alloc();
    m_data = static_cast<std::byte*>(block);
    m_capacity = capacity;
}

void ByteQueue::append(const void* bytes, std::size_t n)
{
    const std::size_t needed = m_length + n;
    if (needed > m_capacity)
        reallocate(round_up_to_step(needed));
    else if (m_capacity > shrink_above && needed < shrink_below)
        reallocate(shrink_below); // give memory back after a burst
    if (n != 0)
        std::memcpy(m_data + m_length, bytes, n);
    m_length = needed;
}

void ByteQueue::consume(std::size_t n) noexcept
{
    if (n == 0 || n > m_length)
        return;
    m_length -= n;
    if (m_length != 0)
        std::memmove(m_data, m_data + n, m_length);
}

void ByteQueue::reserve(std::size_t n)
{
    if (m_capacity - m_length < n)
        reallocate(round_up_to_step(m_length + n));
}

void ByteQueue::commit(std::size_t n) noexcept
{
    ZV_ASSERT(n <= m_capacity - m_length);
    m_length += n;
}

} // namespace torrent
