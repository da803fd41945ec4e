#include "registry/task_registry.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"
#include "registry/file_lock.h"

namespace torrent
{

void PrintTo(registry_result r, std::ostream* os)
{
    static constexpr const char* names[] = {"failed", "ok", "path_too_long", "in_use", "full", "not_stored"};
    const auto i = static_cast<std::size_t>(r);
    *os << (i < std::size(names) ? names[i] : "?") << '(' << i << ')';
}

namespace
{

constexpr std::size_t record_size = registry_record_size;
// Records read with one call while loading or looking for a free record.
constexpr std::uint32_t chunk_records = 64;

off_t record_offset(std::uint32_t index) noexcept
{
    return static_cast<off_t>(index) * static_cast<off_t>(record_size);
}

unique_fd open_registry(const std::string& path, int flags) noexcept
{
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    return unique_fd(fd);
}

// Reads up to out.size() bytes at `offset`; the count read (short at the end of the file),
// or -1 on an error.
ssize_t read_at(int fd, std::span<std::uint8_t> out, off_t offset) noexcept
{
    std::size_t got = 0;
    while (got < out.size())
    {
        const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool write_at(int fd, std::span<const std::uint8_t> data, off_t offset) noexcept
{
    std::size_t put = 0;
    while (put < data.size())
    {
        const ssize_t n =
            ::pwrite(fd, data.data() + put, data.size() - put, offset + static_cast<off_t>(put));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        put += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<off_t> file_size(int fd) noexcept
{
    struct stat st
    {
    };

    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return st.st_size;
}

// Under the file lock: gives a file shorter than one record its record 0, keeping the bytes
// it already holds (a settings block written alone) and padding the rest with zeros.
bool ensure_record_zero(int fd, off_t size) noexcept
{
    if (size >= static_cast<off_t>(record_size))
        return true;
    std::array<std::uint8_t, record_size> head{};
    if (size > 0 && read_at(fd, head, 0) < 0)
        return false;
    return write_at(fd, head, 0);
}

// A write into record 0 (settings block or default save folder) at `offset`.
registry_result write_record_zero(const std::string& path, std::span<const std::uint8_t> data, off_t offset)
{
    const unique_fd fd = open_registry(path, O_RDWR | O_CREAT);
    if (!fd)
        return registry_result::failed;
    const auto size = file_size(fd.get());
    if (!size)
        return registry_result::failed;
    if (*size < static_cast<off_t>(record_size))
    {
        // A copy adding its first task may be creating record 0 right now.
        const file_lock lock(fd.get());
        const auto now = file_size(fd.get());
        if (!lock.locked() || !now || !ensure_record_zero(fd.get(), *now))
            return registry_result::failed;
    }
    return write_at(fd.get(), data, offset) ? registry_result::ok : registry_result::failed;
}

// Opens the file for a write into an existing task record; not_stored when the record is
// not in the file.
registry_result open_task_record(const std::string& path, std::uint16_t index, unique_fd& fd)
{
    if (index == 0)
        return registry_result::not_stored;
    fd = open_registry(path, O_WRONLY);
    if (!fd)
        return registry_result::failed;
    const auto size = file_size(fd.get());
    if (!size)
        return registry_result::failed;
    if (*size < record_offset(index) + static_cast<off_t>(record_size))
        return registry_result::not_stored;
    return registry_result::ok;
}

// The status byte stored for an entry written as a whole: the marks that live in memory
// only (35, 36) are stored as stopped.
std::uint8_t stored_status(task_status status) noexcept
{
    if (status == task_status::in_use || status == task_status::missing)
        return static_cast<std::uint8_t>(task_status::stopped);
    return static_cast<std::uint8_t>(status);
}

bool is_complete(const task_entry& entry) noexcept
{
    // A total of 0 means the sizes are not known yet (the metainfo was never read), not
    // that the task is complete.
    return entry.total > 0 && entry.done >= entry.total;
}

} // namespace

TaskRegistry::TaskRegistry(std::string path)
    : m_path(std::move(path))
{
}

bool TaskRegistry::LoadRegistry(
    std::uint32_t from, std::uint32_t to, std::vector<task_entry>& out, running_task_finder* running)
{
    from = std::max<std::uint32_t>(from, 1);
    if (to <= from)
        return true;
    const unique_fd fd = open_registry(m_path, O_RDONLY);
    if (!fd)
        return false;
    std::vector<std::uint8_t> buffer;
    for (std::uint32_t at = from; at < to; at += chunk_records)
    {
        if (at > registry_max_index)
            return false; // no task lives beyond the last 16-bit index
        const std::uint32_t want = std::min({chunk_records, to - at, registry_max_index + 1 - at});
        buffer.resize(std::size_t{want} * record_size);
        const ssize_t got = read_at(fd.get(), buffer, record_offset(at));
        if (got < 0)
            return false;
        const auto whole = static_cast<std::uint32_t>(static_cast<std::size_t>(got) / record_size);
        for (std::uint32_t k = 0; k < whole; ++k)
        {
            const auto index = static_cast<std::uint16_t>(at + k);
            const std::span<const std::uint8_t, record_size> bytes(
                buffer.data() + std::size_t{k} * record_size, record_size);
            const std::uint8_t status = bytes[0];
            if (status == static_cast<std::uint8_t>(task_status::free_record))
            {
                m_free_index = std::min<std::uint32_t>(m_free_index, index);
                if (loading() && (m_load_free == 0 || index < m_load_free))
                    m_load_free = index;
                continue;
            }
            if (!is_listed_status(status))
                continue;
            auto stored = decode_task_record(bytes);
            if (!stored)
                continue;
            task_entry& entry = out.emplace_back();
            entry.torrent_path = std::move(stored->torrent_path);
            entry.save_folder = std::move(stored->save_folder);
            entry.status = static_cast<task_status>(status);
            entry.index = index;
            if (entry.status == task_status::running || entry.status == task_status::seeding)
            {
                // A task left running by a copy that ended (or that runs elsewhere) is shown
                // as the next start would find it; the file keeps its byte.
                if (running == nullptr || !running->bind_running(entry))
                {
                    entry.status =
                        entry.status == task_status::seeding ? task_status::finished : task_status::stopped;
                    entry.view_slot = -1;
                }
            }
        }
        if (whole < want)
            return false;
    }
    return true;
}

void TaskRegistry::begin_load() noexcept
{
    m_load_next = 1;
    m_load_free = 0;
}

load_step_result TaskRegistry::load_step(running_task_finder* running)
{
    load_step_result step;
    if (!loading())
    {
        step.done = true;
        return step;
    }
    step.done = !LoadRegistry(m_load_next, m_load_next + 2, step.entries, running);
    m_load_next += 2;
    if (step.done)
    {
        m_free_index = m_load_free != 0 ? m_load_free : 1;
        m_load_next = 0;
        m_load_free = 0;
    }
    return step;
}

registry_result TaskRegistry::AddRecord(task_entry& entry)
{
    if (!fits_record_field(entry.torrent_path) || !fits_record_field(entry.save_folder))
        return registry_result::path_too_long;
    const unique_fd fd = open_registry(m_path, O_RDWR | O_CREAT);
    if (!fd)
        return registry_result::failed;

    // Finding the record and writing it is one step for every copy of the program.
    const file_lock lock(fd.get());
    if (!lock.locked())
        return registry_result::failed;
    const auto size = file_size(fd.get());
    if (!size || !ensure_record_zero(fd.get(), *size))
        return registry_result::failed;
    // A partial record at the end is overwritten by the next whole one.
    const auto records = static_cast<std::uint32_t>(std::min<off_t>(
        std::max<off_t>(*size, record_size) / static_cast<off_t>(record_size), registry_max_index + 1));

    std::uint32_t index = std::clamp<std::uint32_t>(m_free_index, 1, records);
    std::array<std::uint8_t, std::size_t{chunk_records} * record_size> buffer{};
    bool found = false;
    while (!found && index < records)
    {
        const std::uint32_t want = std::min(chunk_records, records - index);
        const std::span<std::uint8_t> part(buffer.data(), std::size_t{want} * record_size);
        const ssize_t got = read_at(fd.get(), part, record_offset(index));
        if (got < static_cast<ssize_t>(part.size()))
            return registry_result::failed;
        for (std::uint32_t k = 0; k < want && !found; ++k)
        {
            if (part[std::size_t{k} * record_size] == static_cast<std::uint8_t>(task_status::free_record))
                found = true;
            else
                ++index;
        }
    }
    if (index > registry_max_index)
        return registry_result::full;

    std::array<std::uint8_t, record_size> record{};
    encode_task_record(record, stored_status(entry.status), entry.torrent_path, entry.save_folder);
    if (!write_at(fd.get(), record, record_offset(index)))
        return registry_result::failed;
    entry.index = static_cast<std::uint16_t>(index);
    // Every record from the old free index up to this one was seen taken.
    m_free_index = index + 1;
    return registry_result::ok;
}

registry_result TaskRegistry::WriteStatus(task_entry& entry)
{
    if (entry.status == task_status::in_use || entry.status == task_status::missing)
        return registry_result::ok; // marks of this process's list, never stored
    if (entry.status != task_status::free_record && is_complete(entry))
    {
        entry.status = entry.status == task_status::running || entry.status == task_status::seeding
            ? task_status::seeding
            : task_status::finished;
    }
    unique_fd fd;
    if (const registry_result opened = open_task_record(m_path, entry.index, fd);
        opened != registry_result::ok)
        return opened;
    const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(entry.status)};
    if (!write_at(fd.get(), byte, record_offset(entry.index)))
        return registry_result::failed;
    if (entry.status == task_status::free_record)
    {
        m_free_index = std::min<std::uint32_t>(m_free_index, entry.index);
        if (loading() && (m_load_free == 0 || entry.index < m_load_free))
            m_load_free = entry.index;
    }
    return registry_result::ok;
}

registry_result TaskRegistry::WriteField(const task_entry& entry, record_field which)
{
    if ((which != record_field::save_folder && !fits_record_field(entry.torrent_path))
        || (which != record_field::torrent_path && !fits_record_field(entry.save_folder)))
        return registry_result::path_too_long;
    unique_fd fd;
    if (const registry_result opened = open_task_record(m_path, entry.index, fd);
        opened != registry_result::ok)
        return opened;
    std::array<std::uint8_t, record_size> record{};
    encode_task_record(record, stored_status(entry.status), entry.torrent_path, entry.save_folder);
    std::span<const std::uint8_t> part(record);
    if (which == record_field::torrent_path)
        part = part.subspan(registry_path_offset, registry_field_size);
    else if (which == record_field::save_folder)
        part = part.subspan(registry_folder_offset, registry_field_size);
    else if (entry.status == task_status::in_use || entry.status == task_status::missing)
        part = part.subspan(registry_path_offset); // keep the stored status byte
    const off_t offset = record_offset(entry.index) + (part.data() - record.data());
    return write_at(fd.get(), part, offset) ? registry_result::ok : registry_result::failed;
}

registry_result TaskRegistry::DeleteTask(task_entry& entry)
{
    if (entry.status == task_status::in_use)
        return registry_result::in_use;
    const task_status before = entry.status;
    entry.status = task_status::free_record;
    const registry_result result = WriteStatus(entry);
    if (result != registry_result::ok)
        entry.status = before;
    return result;
}

registry_result TaskRegistry::WriteSettings(const SettingsRecord& settings)
{
    const settings_bytes bytes = encode_settings(settings);
    return write_record_zero(m_path, bytes, static_cast<off_t>(registry_settings_offset));
}

std::optional<SettingsRecord> TaskRegistry::ReadSettings() const
{
    const unique_fd fd = open_registry(m_path, O_RDONLY);
    if (!fd)
        return std::nullopt;
    settings_bytes bytes{};
    if (read_at(fd.get(), bytes, static_cast<off_t>(registry_settings_offset))
        != static_cast<ssize_t>(bytes.size()))
        return std::nullopt;
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    return decode_settings(bytes);
}

registry_result TaskRegistry::WriteDefaultSaveFolder(std::string_view folder)
{
    if (!fits_record_field(folder))
        return registry_result::path_too_long;
    std::array<std::uint8_t, record_size> record{};
    encode_task_record(record, 0, {}, folder);
    const std::span<const std::uint8_t> field =
        std::span<const std::uint8_t>(record).subspan(registry_folder_offset, registry_field_size);
    return write_record_zero(m_path, field, static_cast<off_t>(registry_folder_offset));
}

std::string TaskRegistry::ReadDefaultSaveFolder() const
{
    const unique_fd fd = open_registry(m_path, O_RDONLY);
    if (!fd)
        return {};
    std::array<std::uint8_t, registry_field_size> field{};
    if (read_at(fd.get(), field, static_cast<off_t>(registry_folder_offset))
        != static_cast<ssize_t>(field.size()))
        return {};
    return decode_record_field(field).value_or(std::string{});
}

} // namespace torrent
