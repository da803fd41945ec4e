#include "storage/selection_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "base/data_folder.h"
#include "base/paths.h"

namespace torrent
{

void selection_record::resize(std::uint32_t bit_count)
{
    m_has_array = true;
    m_bit_count = bit_count;
    m_bytes.assign((std::size_t{bit_count} + 7) / 8, std::uint8_t{0xFF});
    // Bits past the last file carry nothing; keeping them clear makes a fresh selection of
    // 10 files with files 0 and 9 chosen read 01 02.
    if (const std::uint32_t used = bit_count % 8; used != 0)
        m_bytes.back() = static_cast<std::uint8_t>((1u << used) - 1);
}

bool selection_record::chosen(std::uint32_t i) const noexcept
{
    if (!m_has_array || i >= m_bit_count)
        return true;
    return (m_bytes[i / 8] & (1u << (i % 8))) != 0;
}

bool selection_record::none_chosen() const noexcept
{
    if (!m_has_array || m_bytes.empty())
        return true;
    for (std::size_t i = 0; i + 1 < m_bytes.size(); ++i)
    {
        if (m_bytes[i] != 0)
            return false;
    }
    const std::uint32_t from = m_bit_count > 8 ? m_bit_count - 8 : 0;
    for (std::uint32_t i = from; i < m_bit_count; ++i)
    {
        if (chosen(i))
            return false;
    }
    return true;
}

void selection_record::set(std::uint32_t i, bool value) noexcept
{
    if (!m_has_array || i >= m_bit_count)
        return;
    const auto mask = static_cast<std::uint8_t>(1u << (i % 8));
    if (value)
        m_bytes[i / 8] |= mask;
    else
        m_bytes[i / 8] &= static_cast<std::uint8_t>(~mask);
}

void selection_record::choose_all() noexcept
{
    std::fill(m_bytes.begin(), m_bytes.end(), std::uint8_t{0xFF});
}

void selection_record::clear() noexcept
{
    m_has_array = false;
    m_bit_count = 0;
    m_bytes.clear();
}

std::optional<file_selection> selection_record::to_file_selection() const
{
    if (!m_has_array)
        return std::nullopt;
    file_selection out;
    out.chosen.resize(m_bit_count);
    for (std::uint32_t i = 0; i < m_bit_count; ++i)
        out.chosen[i] = chosen(i);
    return out;
}

namespace
{

std::string state_file_name(const std::string& name)
{
    return name + ".ZRV";
}

// Moves a small file; across file systems by copying it and removing the original.
bool move_file(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    std::string data;
    if (!read_whole_file(from, data, std::size_t{1} << 24) || !write_file_atomically(to, data))
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::string
LocateStateFile(const std::string& save_folder, const std::string& name, const std::string& data_folder)
{
    const std::string save = trim_trailing_slashes(save_folder);
    const std::string content = join_path(save, name);
    const std::string beside = join_path(content, state_file_name(name));
    if (is_regular_file(beside))
        return beside;
    const std::string in_data = join_path(data_folder, state_file_name(name));
    if (is_regular_file(in_data))
    {
        if (is_folder(content) && move_file(in_data, beside))
            return beside;
        return in_data;
    }
    return is_folder(content) ? beside : in_data;
}

std::string LocateStateFile(const std::string& save_folder, const std::string& name)
{
    return LocateStateFile(save_folder, name, data_folder());
}

bool decode_selection_record(std::span<const std::uint8_t> data, selection_record& selection)
{
    selection.clear();
    if (data.size() < 4)
        return false;
    std::uint32_t count = std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16
        | std::uint32_t{data[3]} << 24;
    count = std::min(count, max_selection_bits);
    selection.resize(count);
    const auto bits = data.subspan(4);
    std::copy_n(bits.begin(), std::min(bits.size(), selection.bytes().size()), selection.bytes().begin());
    return true;
}

void ReadStateFile(selection_record& selection, const std::string& path)
{
    selection.clear();
    std::string data;
    if (!read_whole_file(path, data, 4 + (std::size_t{max_selection_bits} + 7) / 8))
    {
        // A file larger than any real selection: read its head only.
        if (errno != EFBIG)
            return;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    decode_selection_record(std::span<const std::uint8_t>(p, data.size()), selection);
}

std::string encode_selection_record(const selection_record& selection)
{
    std::string out;
    const std::uint32_t n = selection.bit_count();
    out.reserve(4 + selection.bytes().size());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((n >> shift) & 0xFF));
    const std::span<const std::uint8_t> bits = selection.bytes();
    out.append(reinterpret_cast<const char*>(bits.data()), bits.size());
    return out;
}

bool WriteStateFile(
    const selection_record& selection,
    const std::string& save_folder,
    const std::string& name,
    const std::string& data_folder)
{
    const std::string path = LocateStateFile(save_folder, name, data_folder);
    make_folders(std::string(parent_of(path)));
    return write_file_atomically(path, encode_selection_record(selection));
}

bool WriteStateFile(
    const selection_record& selection, const std::string& save_folder, const std::string& name)
{
    return WriteStateFile(selection, save_folder, name, data_folder());
}

bool apply_file_choice(selection_record& selection, const std::vector<bool>& marks)
{
    if (!selection.has_array())
        selection.resize(static_cast<std::uint32_t>(marks.size()));
    bool changed = false;
    for (std::uint32_t i = 0; i < marks.size(); ++i)
    {
        if (i < selection.bit_count() && selection.chosen(i) != marks[i])
        {
            selection.set(i, marks[i]);
            changed = true;
        }
    }
    if (!changed)
        return false;
    if (selection.none_chosen())
        selection.choose_all();
    return true;
}

} // namespace torrent

namespace torrent
{

std::optional<file_selection> state_file_selection_source::load(std::string_view torrent_name) const
{
    selection_record record;
    ReadStateFile(record, LocateStateFile(m_save_folder, std::string(torrent_name), m_data_folder));
    return record.to_file_selection();
}

} // namespace torrent
