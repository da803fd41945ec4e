#!/bin/bash
# A multi-file torrent seeded by libtorrent; the TaskPool's file selection (the state file
# written before the open) wants files 0 and 2 only: the download completes with exactly
# those files, byte for byte, and the unselected file is never written.
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/engine/interop_lib.sh"

W="$SANDBOX_WORK"
# Sizes that are not piece multiples, so pieces straddle the file boundaries.
lt make --out "$W/multi.torrent" --dir "$W/seed" --name album --files 100000,200000,150001 --piece 32768
start_lt seed --torrent "$W/multi.torrent" --save "$W/seed" --portfile "$W/lt.port"
port=$(wait_port "$W/lt.port")

driver --torrent "$W/multi.torrent" --save "$W/get" --select 0,2 --connect "127.0.0.1:$port" --timeout 60 \
  || fail "the selected files did not complete"
mapfile -t paths < <(lt files --torrent "$W/multi.torrent")
cmp "$W/seed/${paths[0]}" "$W/get/${paths[0]}" || fail "${paths[0]} differs"
cmp "$W/seed/${paths[2]}" "$W/get/${paths[2]}" || fail "${paths[2]} differs"
[ ! -e "$W/get/${paths[1]}" ] || fail "the unselected file ${paths[1]} was written"
echo "selected files only: ok"
finish
