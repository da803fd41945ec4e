#!/usr/bin/env bash
# zorvik-cli info against libtorrent: torrents made by mktorrent and libtorrent (single and
# multi-file, nested folders, non-ASCII names, piece lengths 16 KiB to 16 MiB).
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
"$CLI" --help | grep -q "info FILE.torrent" || fail "--help does not list info"
/usr/bin/python3 "$ZORVIK_SOURCE/tests/app/cli_info_check.py" made "$CLI" "$SANDBOX_WORK"
