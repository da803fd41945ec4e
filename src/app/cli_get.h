#pragma once

#include <span>

namespace zorvik::cli
{

// zorvik-cli get FILE.torrent... [SAVE_FOLDER] [options]: downloads the torrents with the
// engine (network root, task pool, announcers), prints a progress line per torrent each
// second, seeds each one for the seeding time after it completes and then ends. SIGINT and
// SIGTERM stop every task (final "stopped" announce) and end the run.
// Options: -us -ds -ut -port -pc -noupnp as the program reads them (value attached: -us30),
// --peer IP:PORT (repeatable) to connect to a peer directly.
// Exit status: 0 every torrent completed and seeded; 1 usage; 2..6 a torrent could not be
// opened (2 invalid, 3 unreadable .torrent, 4 given twice, 5 too little free space,
// 6 files cannot be opened or are in use); 8 interrupted; 9 no listening port could be
// bound; 10 a task stopped before it was complete; 11 the network is not connected.
int run_get(std::span<char* const> args);

} // namespace zorvik::cli
