#pragma once

namespace torrent
{

// Holds an exclusive flock on an open file for its lifetime. flock locks belong to the open
// file description, so two opens of the registry file contend even inside one process.
class file_lock
{
public:
    // Waits for the lock; locked() tells whether it was taken.
    explicit file_lock(int fd) noexcept;
    ~file_lock();
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

    [[nodiscard]] bool locked() const noexcept { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace torrent
