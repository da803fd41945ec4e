"""Makes a .torrent with libtorrent for the zorvik-cli check test.

usage: cli_check_make.py ROOT OUT.torrent PIECE_SIZE v1|hybrid
Prints the torrent's files in metainfo order, one "path size" per line (padding files left
out: they are no files of the user's).
"""
import os
import sys

import libtorrent as lt


def main():
    root, out, piece_size, kind = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    flags = lt.create_torrent.v1_only if kind == "v1" else 0
    fs = lt.file_storage()
    lt.add_files(fs, root)
    t = lt.create_torrent(fs, piece_size, flags=flags)
    t.add_tracker("http://127.0.0.1:6969/announce")
    lt.set_piece_hashes(t, os.path.dirname(os.path.abspath(root)))
    with open(out, "wb") as f:
        f.write(lt.bencode(t.generate()))
    files = lt.torrent_info(out).files()
    for i in range(files.num_files()):
        if not files.file_flags(i) & lt.file_storage.flag_pad_file:
            print(files.file_path(i), files.file_size(i))


main()
