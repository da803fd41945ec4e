#include "metainfo/tracker_urls.h"

namespace torrent
{

bool append_tracker_urls(const bvalue&, std::vector<std::string>&)
{
    return false;
}

} // namespace torrent
