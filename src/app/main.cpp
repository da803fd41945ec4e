// zorvik: the window program. Everything it does lives in the app library.
#include "app/window_entry.h"

int main(int argc, char** argv)
{
    return torrent::run_window_program(argc, argv);
}
