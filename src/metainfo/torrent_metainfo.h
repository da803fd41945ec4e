#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "metainfo/bvalue.h"
#include "metainfo/sha1.h"

namespace torrent
{

enum class metainfo_result : std::uint8_t
{
    ok = 1,
    invalid = 2, // not bencoding, root not a dictionary, "info" absent or not a dictionary
    unreadable = 3, // the file cannot be opened or read
};

// A whole .torrent file held in memory: its bytes, the decoded tree and the info-hash of the
// info dictionary's original bytes. Immutable and never moved once made, so views into it
// (info_layout::pieces, info_bytes) stay valid while it lives; share it by shared_ptr.
class torrent_metainfo
{
    struct passkey
    {
    };

public:
    // Reads and decodes a .torrent file. Null with result set on failure; when why is given,
    // a failure also writes a one-line reason to it.
    [[nodiscard]] static std::shared_ptr<const torrent_metainfo>
    load_file(const std::string& path, metainfo_result& result, std::string* why = nullptr);
    // The same from bytes already in memory (result is then ok or invalid).
    [[nodiscard]] static std::shared_ptr<const torrent_metainfo>
    from_bytes(std::string bytes, metainfo_result& result, std::string* why = nullptr);

    torrent_metainfo(passkey, std::string bytes);
    torrent_metainfo(const torrent_metainfo&) = delete;
    torrent_metainfo& operator=(const torrent_metainfo&) = delete;

    [[nodiscard]] const std::string& bytes() const noexcept { return m_bytes; }

    [[nodiscard]] const bvalue& root() const noexcept { return m_root; }

    // The info dictionary (always a dictionary).
    [[nodiscard]] const bvalue& info() const noexcept { return *m_info; }

    // The info dictionary's original encoding inside bytes().
    [[nodiscard]] std::string_view info_bytes() const noexcept { return m_info_bytes; }

    [[nodiscard]] const sha1_digest& info_hash() const noexcept { return m_info_hash; }

    // 40 upper-case hexadecimal characters: the torrent's identity everywhere.
    [[nodiscard]] const std::string& info_hash_text() const noexcept { return m_info_hash_text; }

private:
    [[nodiscard]] metainfo_result decode(std::string* why);

    std::string m_bytes;
    bvalue m_root;
    const bvalue* m_info = nullptr;
    std::string_view m_info_bytes;
    sha1_digest m_info_hash{};
    std::string m_info_hash_text;
};

} // namespace torrent
