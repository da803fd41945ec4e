// Build tool: writes the English language file that ships beside the executable.
#include <cstdio>

#include "base/paths.h"
#include "ui/language_file.h"
#include "ui/ui_text_english.h"

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argc > 0 ? argv[0] : "zorvik-english-language-file");
        return 2;
    }
    if (!torrent::write_file_atomically(
            argv[1], torrent::language_file_bytes(torrent::english_ui_text_table())))
    {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
