#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace torrent
{

class torrent_data;

// Every loaded torrent by its info-hash text. Entries are shared: a caller that found a
// torrent keeps it alive while it works on it, even if it is removed meanwhile.
// Thread-safe: every operation takes the table's lock (never held while calling out).
class torrent_table
{
public:
    // Inserts when the hash is absent; false (and nothing changes) when it is present.
    bool insert(const std::string& info_hash, std::shared_ptr<torrent_data> data);

    // Removes and returns the entry (null when absent).
    std::shared_ptr<torrent_data> erase(std::string_view info_hash);

    // The entry, or null.
    [[nodiscard]] std::shared_ptr<torrent_data> find(std::string_view info_hash) const;

    [[nodiscard]] bool contains(std::string_view info_hash) const;

    [[nodiscard]] std::size_t size() const;

    [[nodiscard]] std::vector<std::string> hashes() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<torrent_data>, std::less<>> m_map;
};

} // namespace torrent
