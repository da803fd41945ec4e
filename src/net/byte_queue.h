#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torrent
{

// A growable byte buffer used for connection input and output. It grows in 1 KiB steps
// and gives memory back after a burst: once it has grown past 512 KiB, an append that
// needs less than 256 KiB shrinks the block to 256 KiB. Bytes are removed from the front
// with `consume`. Not thread-safe: owned and used by one connection at a time.
class ByteQueue final
{
public:
    static constexpr std::size_t growth_step = 1024;
    static constexpr std::size_t shrink_above = 0x80000; // 512 KiB
    static constexpr std::size_t shrink_below = 0x40000; // 256 KiB

    ByteQueue() noexcept = default;
    ~ByteQueue();
    ByteQueue(ByteQueue&& other) noexcept;
    ByteQueue& operator=(ByteQueue&& other) noexcept;
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Appends n bytes (which must not point into this queue).
    void append(const void* bytes, std::size_t n);

    void append(std::span<const std::byte> bytes) { append(bytes.data(), bytes.size()); }

    // Removes n bytes from the front; 0 or more than the length changes nothing.
    void consume(std::size_t n) noexcept;

    // Makes room for n more bytes without changing the length.
    void reserve(std::size_t n);

    // Free room after the stored bytes (valid after `reserve`) and the step that adds bytes
    // written there to the length, so a socket can receive straight into the queue.
    [[nodiscard]] std::byte* tail() noexcept { return m_data + m_length; }

    void commit(std::size_t n) noexcept;

    void clear() noexcept { m_length = 0; }

    [[nodiscard]] const std::byte* data() const noexcept { return m_data; }

    [[nodiscard]] std::byte* data() noexcept { return m_data; }

    [[nodiscard]] std::size_t size() const noexcept { return m_length; }

    [[nodiscard]] bool empty() const noexcept { return m_length == 0; }

    [[nodiscard]] std::size_t capacity() const noexcept { return m_capacity; }

    [[nodiscard]] std::span<const std::byte> bytes() const noexcept { return {m_data, m_length}; }

private:
    void reallocate(std::size_t capacity);

    std::byte* m_data = nullptr;
    std::size_t m_length = 0;
    std::size_t m_capacity = 0;
};

} // namespace torrent
