#pragma once

namespace torrent
{

// The process entry of the window program: decides whether a window can be shown at all,
// registers the .torrent association, reads the command line, hands it to a running copy
// when it should, and otherwise runs the main window until it closes. Answers the exit
// status.
int run_window_program(int argc, char** argv);

} // namespace torrent
