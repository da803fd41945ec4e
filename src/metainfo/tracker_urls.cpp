#include "metainfo/tracker_urls.h"

namespace torrent
{

bool append_tracker_urls(const bvalue& root, std::vector<std::string>& urls)
{
    const bvalue* announce = root.find("announce");
    const bool has_announce = announce != nullptr && announce->kind() == bvalue_kind::string;
    if (has_announce)
        urls.push_back(announce->as_string());

    const bvalue* tiers = root.find("announce-list");
    if (tiers == nullptr || tiers->kind() != bvalue_kind::list)
        return has_announce;
    for (const bvalue& tier : tiers->as_list())
    {
        if (tier.kind() != bvalue_kind::list)
            return has_announce;
        for (const bvalue& url : tier.as_list())
        {
            if (url.kind() != bvalue_kind::string)
                return has_announce;
            urls.push_back(url.as_string());
        }
    }
    return has_announce;
}

} // namespace torrent
