#pragma once

#include <utility>

namespace torrent
{

// Owns one file descriptor and closes it when destroyed. Move-only.
class unique_fd
{
public:
    unique_fd() noexcept = default;

    explicit unique_fd(int fd) noexcept
        : m_fd(fd)
    {
    }

    unique_fd(unique_fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }

    unique_fd& operator=(unique_fd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }

    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    ~unique_fd() { reset(); }

    [[nodiscard]] int get() const noexcept { return m_fd; }

    [[nodiscard]] bool valid() const noexcept { return m_fd >= 0; }

    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

    // Closes the held descriptor (if any) and takes `fd`.
    void reset(int fd = -1) noexcept;

private:
    int m_fd = -1;
};

} // namespace torrent
