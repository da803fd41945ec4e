#pragma once

#include <span>

namespace zorvik::cli
{

// zorvik-cli check [--fast] FILE.torrent SAVE_FOLDER: adds the torrent with a fresh
// temporary data folder (so the data on disk is always hashed in full and no state file
// is left behind), checks every piece and prints how many pieces and bytes are present and
// which files are complete. --fast drops the pause of 100 ms after each piece and hashes on
// every core.
// Exit status: 0 checked; 1 usage; 2..6 the add failed (the add result: 2 invalid torrent,
// 3 unreadable .torrent, 5 not enough free space, 6 files cannot be opened or created);
// 7 the data could not be read; 8 interrupted.
int run_check(std::span<char* const> args);

} // namespace zorvik::cli
