#!/bin/bash
# Loopback transfer benchmark against libtorrent, inside a private network namespace:
#   1. one libtorrent seeder -> Zorvik (the engine driver) downloads;
#   2. the same seeder -> a libtorrent leecher downloads (the comparison);
#   3. Zorvik seeds -> a libtorrent leecher downloads.
# Each transfer reports wall time, MB/s, and for Zorvik's side the CPU seconds and peak RSS
# (GNU time). Files live under /dev/shm and are deleted afterwards.
#
#   ZORVIK_BUILD=<Release build folder> bash bench/engine_transfer.sh [MiB] [piece KiB] [--tick-only]
set -euo pipefail
SIZE_MIB=${1:-1024}
PIECE_KIB=${2:-1024}
EXTRA=${3:-}
: "${ZORVIK_BUILD:?set ZORVIK_BUILD to a Release build folder}"
ZORVIK_SOURCE=${ZORVIK_SOURCE:-$(cd "$(dirname "$0")/.." && pwd)}
if [ -z "${ZORVIK_IN_SANDBOX:-}" ]; then
  export ZORVIK_IN_SANDBOX=1 ZORVIK_BUILD ZORVIK_SOURCE
  exec unshare --net --fork bash "$0" "$@"
fi
ip link set lo up
export ZORVIK_PROBE_ADDRESS=127.0.0.1
W=$(mktemp -d /dev/shm/zorvik-bench-XXXXXX)
export ZORVIK_HOME="$W/home"; mkdir -p "$ZORVIK_HOME"
trap 'jobs -p | xargs -r kill 2>/dev/null; rm -rf "$W"' EXIT
PY=/usr/bin/python3
LT="$ZORVIK_SOURCE/tests/engine/lt_peer.py"
DRIVER="$ZORVIK_BUILD/tests/engine/engine_peer_driver"
wait_file() { for _ in $(seq 1 600); do [ -s "$1" ] && return 0; sleep 0.05; done; echo "no $1" >&2; exit 1; }

echo "making ${SIZE_MIB} MiB payload, ${PIECE_KIB} KiB pieces"
$PY "$LT" make --out "$W/b.torrent" --dir "$W/seed" --name payload.bin \
  --size $((SIZE_MIB * 1048576)) --piece $((PIECE_KIB * 1024))
$PY "$LT" seed --torrent "$W/b.torrent" --save "$W/seed" --portfile "$W/seed.port" &
wait_file "$W/seed.port"; SEED=$(cat "$W/seed.port")

echo "== libtorrent seeder -> Zorvik"
/usr/bin/time -v "$DRIVER" --quiet $EXTRA --torrent "$W/b.torrent" --save "$W/z" \
  --connect "127.0.0.1:$SEED" --timeout 600 2> "$W/z.time"
grep -E "Elapsed|User time|System time|Maximum resident" "$W/z.time"
cmp "$W/seed/payload.bin" "$W/z/payload.bin" && echo "bytes equal"
rm -rf "$W/z"

echo "== libtorrent seeder -> libtorrent"
/usr/bin/time -v $PY "$LT" get --torrent "$W/b.torrent" --save "$W/l" --connect "127.0.0.1:$SEED" --timeout 600 2> "$W/l.time"
grep -E "Elapsed|User time|System time|Maximum resident" "$W/l.time"
rm -rf "$W/l"
kill %1 2>/dev/null || true

echo "== Zorvik seeds -> libtorrent"
# The seed runs until the leecher has verified everything (a count of uploaded bytes would
# end it early when a block is sent twice), then it is stopped.
/usr/bin/time -v "$DRIVER" --quiet $EXTRA --torrent "$W/b.torrent" --save "$W/seed" --seed 900 \
  > "$W/zs.out" 2> "$W/zs.time" &
ZS=$!
for _ in $(seq 1 600); do grep -q '^port ' "$W/zs.out" 2>/dev/null && break; sleep 0.05; done
ZPORT=$(sed -n 's/^port //p' "$W/zs.out")
$PY "$LT" get --torrent "$W/b.torrent" --save "$W/l2" --connect "127.0.0.1:$ZPORT" --timeout 600
pkill -TERM -P "$ZS" 2>/dev/null || true
wait "$ZS" 2>/dev/null || true
grep -E "Elapsed|User time|System time|Maximum resident" "$W/zs.time"
