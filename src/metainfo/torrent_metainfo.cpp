#include "metainfo/torrent_metainfo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"
#include "metainfo/bencode.h"
#include "metainfo/info_hash.h"

namespace torrent
{
namespace
{

// Larger files are refused as invalid without being read whole: real .torrent files stay far
// below this even with hundreds of thousands of pieces.
constexpr std::uint64_t max_torrent_file_size = 128ULL * 1024 * 1024;
// Most bencoded values a .torrent may hold. A decoded value takes about 150 bytes, so this
// bounds the memory of one decode to about 300 MB; a torrent of max_file_count files needs
// about 6 values a file (up to 20 with deep paths).
constexpr std::size_t max_torrent_values = 2000000;

enum class read_status
{
    ok,
    unreadable,
    too_large,
};

void explain(std::string* why, const std::string& text)
{
    if (why != nullptr)
        *why = text;
}

read_status read_whole_file(const std::string& path, std::string& out, std::string* why)
{
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st = {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
    {
        explain(why, std::strerror(errno));
        return read_status::unreadable;
    }
    if (!S_ISREG(st.st_mode))
    {
        explain(why, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
        return read_status::unreadable;
    }
    if (static_cast<std::uint64_t>(st.st_size) > max_torrent_file_size)
    {
        explain(why, "the file is larger than 128 MiB");
        return read_status::too_large;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size())
    {
        const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            explain(why, std::strerror(errno));
            return read_status::unreadable;
        }
        if (n == 0)
            break; // the file shrank meanwhile
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return read_status::ok;
}

} // namespace

torrent_metainfo::torrent_metainfo(passkey, std::string bytes)
    : m_bytes(std::move(bytes))
{
}

metainfo_result torrent_metainfo::decode(std::string* why)
{
    bool over_budget = false;
    if (decode_bvalue(m_bytes, m_root, max_torrent_values, &over_budget) == 0)
    {
        explain(
            why,
            over_budget
                ? "more than " + std::to_string(max_torrent_values) + " bencoded values (too many files)"
                : std::string("not bencoded data (malformed, truncated or nested too deeply)"));
        return metainfo_result::invalid;
    }
    if (m_root.kind() != bvalue_kind::dictionary)
    {
        explain(why, "the top level is not a dictionary");
        return metainfo_result::invalid;
    }
    m_info = m_root.find("info");
    if (m_info == nullptr || m_info->kind() != bvalue_kind::dictionary)
    {
        explain(why, m_info == nullptr ? "\"info\" is missing" : "\"info\" is not a dictionary");
        return metainfo_result::invalid;
    }
    m_info_bytes = std::string_view(m_bytes).substr(
        static_cast<std::size_t>(m_info->source_offset()), static_cast<std::size_t>(m_info->source_length()));
    m_info_hash = compute_info_digest(m_info_bytes);
    m_info_hash_text = digest_to_hex(m_info_hash);
    return metainfo_result::ok;
}

std::shared_ptr<const torrent_metainfo>
torrent_metainfo::load_file(const std::string& path, metainfo_result& result, std::string* why)
{
    std::string bytes;
    switch (read_whole_file(path, bytes, why))
    {
    case read_status::unreadable:
        result = metainfo_result::unreadable;
        return nullptr;
    case read_status::too_large:
        result = metainfo_result::invalid;
        return nullptr;
    case read_status::ok:
        break;
    }
    return from_bytes(std::move(bytes), result, why);
}

std::shared_ptr<const torrent_metainfo>
torrent_metainfo::from_bytes(std::string bytes, metainfo_result& result, std::string* why)
{
    try
    {
        auto meta = std::make_shared<torrent_metainfo>(passkey{}, std::move(bytes));
        result = meta->decode(why);
        if (result != metainfo_result::ok)
            return nullptr;
        return meta;
    }
    catch (const std::exception&)
    {
        // Allocation failures and a failed hash: the torrent cannot be used.
        explain(why, "the torrent cannot be decoded or hashed");
        result = metainfo_result::invalid;
        return nullptr;
    }
}

} // namespace torrent
