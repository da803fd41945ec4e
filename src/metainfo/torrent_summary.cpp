#include "metainfo/torrent_summary.h"

namespace torrent
{

summary_result read_torrent_summary(const std::string&, torrent_summary&, const file_selection_source*)
{
    return summary_result::unreadable;
}

summary_result read_torrent_summary(const torrent_metainfo&, torrent_summary&, const file_selection_source*)
{
    return summary_result::invalid;
}

} // namespace torrent
