#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "base/unique_fd.h"
#include "storage/block_handle.h"

namespace torrent
{

// One content file divided into blocks of the piece length; a block is mapped on demand
// and handed out as a counted BlockHandle. The first block is shorter by `start_offset`
// (the file's offset inside its first piece), so every block lines up with one piece.
// A virtual MappedFile has no file behind it and hands out placeholder handles.
//
// The file is locked with flock(LOCK_EX | LOCK_NB) right after it is opened, so a file held
// by another copy of the program does not open. Sizing reserves the disk blocks
// (posix_fallocate), so a full disk shows up as an error when sizing, never as SIGBUS while
// writing through a mapping. View offsets are 64-bit: files larger than 4 GiB work.
//
// Owner: its file entry (torrent storage) or the torrent data (piece-state file).
// A few views whose last handle went stay mapped for reuse (set_idle_views); everything
// is unmapped by Close, SetLength and the destructor.
// Thread: not thread-safe; callers serialise every call and every handle copy/release.
class MappedFile
{
public:
    explicit MappedFile(std::uint64_t length = 0, bool file_backed = true) noexcept
        : m_length(length)
        , m_file_backed(file_backed)
    {
    }

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    ~MappedFile() { Close(); }

    // Opens (or, with `create`, creates) the file and locks it. For a file-backed object the
    // length becomes the file's current length on disk. Fails for block_size 0 or a start
    // offset not below block_size; errno-style detail is kept in last_error().
    [[nodiscard]] bool Open(
        const std::string& path,
        std::uint32_t block_size,
        std::uint32_t start_offset,
        bool writable,
        bool create) noexcept;

    // The same for `relative` beneath the folder `root` (see open_beneath): a link that
    // leads out of that folder fails the open with last_error() EXDEV.
    [[nodiscard]] bool Open(
        int root,
        const std::string& relative,
        std::uint32_t block_size,
        std::uint32_t start_offset,
        bool writable,
        bool create) noexcept;

    // Sets the length. A file-backed object grows the file on disk to it, reserving its
    // blocks; a file longer than `length` raises base_error 12, a failure to size (a full
    // disk, a read-only file) raises 14.
    void SetLength(std::uint64_t length);

    // The block `index` (counted from the file's first piece), mapped for reading or for
    // writing. `populate` pre-faults the pages of a new view (for whole-block reads).
    // Raises 14 when the file is not open, the index is out of range, a writable block is
    // asked of a read-only file, or the mapping fails; 12 when the file on disk has become
    // shorter than the block's end (only what the file holds is mapped). Bytes of a view
    // are touched only through the guarded calls of mapped_access.h: the file can still
    // shrink after the view was made.
    [[nodiscard]] BlockHandle GetBlock(std::uint32_t index, bool for_writing, bool populate = false);

    // Lets go of the file; views still held stay valid until their handles go.
    void Close() noexcept;

    [[nodiscard]] std::uint64_t length() const noexcept { return m_length; }

    [[nodiscard]] bool file_backed() const noexcept { return m_file_backed; }

    [[nodiscard]] bool is_open() const noexcept { return m_fd.valid(); }

    [[nodiscard]] bool writable() const noexcept { return m_writable; }

    [[nodiscard]] std::uint32_t block_size() const noexcept { return m_block_size; }

    [[nodiscard]] std::uint32_t start_offset() const noexcept { return m_start_offset; }

    [[nodiscard]] std::uint32_t block_count() const noexcept
    {
        return static_cast<std::uint32_t>(m_blocks.size());
    }

    // File offset and length of block `index` (index below block_count()).
    [[nodiscard]] std::uint64_t block_offset(std::uint32_t index) const noexcept;
    [[nodiscard]] std::uint32_t block_length(std::uint32_t index) const noexcept;

    // Number of blocks currently mapped and found through their slot.
    [[nodiscard]] std::size_t mapped_blocks() const noexcept;

    [[nodiscard]] int last_error() const noexcept { return m_errno; }

    // The file's length on disk now (fstat); false when it cannot be asked.
    [[nodiscard]] bool disk_length(std::uint64_t& out) const noexcept;
    // Sets the file's modification time to now; false when it is not open or the call fails.
    bool touch() noexcept;
    // fstat of the open file; false when it is not open or the call fails.
    [[nodiscard]] bool stat(struct stat& out) const noexcept;

    // How many views with no handle left stay mapped for reuse (oldest unmapped first).
    // Unmapping a view costs a TLB flush, which is dear on virtual machines, and blocks
    // arrive in runs of 16 KiB pieces of one block: keeping a few views mapped turns one
    // map and unmap per block write into one per piece. 0 unmaps a view with its last handle.
    void set_idle_views(std::uint32_t count) noexcept;

    [[nodiscard]] std::size_t idle_blocks() const noexcept { return m_idle.size(); }

    // Unmaps block `index`'s view now if it is only kept for reuse (no handle holds it): a
    // verified piece is not written again, and its pages would otherwise count as the
    // process's memory until other views pushed it out.
    void release_idle(std::uint32_t index) noexcept;

    static constexpr std::uint32_t default_idle_views = 4;

private:
    friend class BlockHandle;

    // Called by the last handle of a view: true when the file keeps it mapped (idle);
    // otherwise its slot forgets it and the caller unmaps it.
    bool keep_idle(BlockView* view) noexcept;
    // Every slot lets go of its view: idle views are unmapped, held ones live on for their
    // holders.
    void detach_all() noexcept;
    void drop_idle(BlockView* view) noexcept;
    void trim_idle() noexcept;
    void size_blocks();
    [[nodiscard]] bool
    adopt(unique_fd fd, std::uint32_t block_size, std::uint32_t start_offset, bool writable) noexcept;
    [[nodiscard]] bool check_geometry(std::uint32_t block_size, std::uint32_t start_offset) noexcept;

    std::uint32_t m_block_size = 0;
    std::uint32_t m_start_offset = 0;
    bool m_writable = false;
    std::vector<BlockView*> m_blocks;
    // Mapped views without handles, oldest first; owned here until reused or unmapped.
    std::vector<BlockView*> m_idle;
    std::uint32_t m_idle_limit = default_idle_views;
    unique_fd m_fd;
    std::uint64_t m_length;
    bool m_file_backed;
    int m_errno = 0;
};

} // namespace torrent
