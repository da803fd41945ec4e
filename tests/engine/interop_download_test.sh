#!/bin/bash
# A libtorrent peer seeds a payload; a TaskPool downloads it from that peer over loopback and
# every byte must equal the payload. Then the directions swap: the TaskPool seeds and a
# libtorrent peer downloads and verifies every piece.
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/engine/interop_lib.sh"

W="$SANDBOX_WORK"
lt make --out "$W/one.torrent" --dir "$W/seed" --name payload.bin --size 3000037 --piece 65536

# 1. libtorrent seeds, Zorvik downloads.
start_lt seed --torrent "$W/one.torrent" --save "$W/seed" --portfile "$W/lt.port"
port=$(wait_port "$W/lt.port")
driver --torrent "$W/one.torrent" --save "$W/get" --connect "127.0.0.1:$port" --timeout 60 \
  || fail "download from libtorrent did not complete"
cmp "$W/seed/payload.bin" "$W/get/payload.bin" || fail "downloaded bytes differ"
kill %1 2>/dev/null || true; wait 2>/dev/null || true

# 2. Zorvik seeds (the data it just downloaded), libtorrent downloads and verifies.
start_driver "$W/zseed.out" --torrent "$W/one.torrent" --save "$W/get" --seed 60
zport=$(driver_port "$W/zseed.out")
lt get --torrent "$W/one.torrent" --save "$W/lt-get" --connect "127.0.0.1:$zport" --timeout 60 \
  || fail "libtorrent could not download from Zorvik"
cmp "$W/seed/payload.bin" "$W/lt-get/payload.bin" || fail "libtorrent's copy differs"
echo "interop download and upload: ok"
finish
