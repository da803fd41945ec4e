#!/usr/bin/env bash
# zorvik-cli get against libtorrent in a loopback swarm through opentracker, inside a private
# network namespace (not run by ctest). One payload (1 GiB, 1 MiB pieces by default):
#   download: a libtorrent seeder -> zorvik-cli get -ut0, then -> libtorrent's own leecher;
#   upload:   zorvik-cli get -us0 seeding -> a libtorrent leecher, then a libtorrent seeder
#             (loading the state its own download saved) -> a libtorrent leecher;
#   check:    zorvik-cli check --fast of the downloaded payload.
# Wall time, CPU seconds (user + system) and peak RSS come from GNU time (-v). Files live
# under $BENCH_DIR (default /dev/shm) and are deleted afterwards.
#
#   ZORVIK_BUILD=<Release build folder> bash bench/swarm_bench.sh [MiB] [piece KiB]
set -euo pipefail
SIZE_MIB=${1:-1024}
PIECE_KIB=${2:-1024}
: "${ZORVIK_BUILD:?set ZORVIK_BUILD to a Release build folder}"
ZORVIK_SOURCE=${ZORVIK_SOURCE:-$(cd "$(dirname "$0")/.." && pwd)}
export ZORVIK_BUILD ZORVIK_SOURCE
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
B=$(mktemp -d "${BENCH_DIR:-/dev/shm}/zorvik-swarm-bench-XXXXXX")
trap 'sandbox_cleanup; rm -rf "$B"' EXIT
TIME=/usr/bin/time
PY=/usr/bin/python3

# Figures of a GNU time -v report: "wall cpu rss" (seconds, seconds, KiB).
figures() { # report
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + p[i] }
    /User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { r = $2 }
    END { printf "%.2f %.2f %d\n", w, u + s, r }' "$1"
}
row() { # label report [wall override]
  local w c r
  read -r w c r <<<"$(figures "$2")"
  [ -z "${3:-}" ] || w=$3
  printf '%-44s %8.2f s %8.2f s %8.1f MiB\n' "$1" "$w" "$c" "$(awk "BEGIN { print $r / 1024 }")"
}
wall_of() { figures "$1" | cut -d' ' -f1; }
cpu_of() { figures "$1" | cut -d' ' -f2; }
rss_of() { figures "$1" | cut -d' ' -f3; }

echo "payload: $SIZE_MIB MiB, $PIECE_KIB KiB pieces, in $B"
swarm_payload "$B/src/payload.bin" $((SIZE_MIB * 1024 * 1024))
HASH=$(swarm_make "$B/src/payload.bin" "$B/payload.torrent" $((PIECE_KIB * 1024)))
swarm_tracker_start "$HASH"
mkdir -p "$B/z" "$B/l" "$B/home-z"
cp "$ZORVIK_HOME/trackerFavorite.txt" "$B/home-z/"

# --- download: the seeder checks its data first, so both downloads find it ready
swarm_seed SEED "$B/payload.torrent" "$B/src" 6881 --check
ZORVIK_HOME="$B/home-z" $TIME -v -o "$B/z-down.time" \
  "$CLI" get -noupnp -ut0 "$B/payload.torrent" "$B/z" >"$B/z-down.log" 2>&1 ||
  fail "zorvik-cli download failed: $(tail -5 "$B/z-down.log")"
cmp "$B/src/payload.bin" "$B/z/payload.bin" || fail "zorvik-cli's copy differs"
$TIME -v -o "$B/l-down.time" $PY "$SWARM_PY" leech "$B/payload.torrent" "$B/l" 6891 \
  --resume "$B/l.resume" >"$B/l-down.log" 2>&1 || fail "libtorrent download failed: $(cat "$B/l-down.log")"
cmp "$B/src/payload.bin" "$B/l/payload.bin" || fail "libtorrent's copy differs"
kill "$SEED"
wait "$SEED" 2>/dev/null || true

# --- upload: each seeder starts from the state its own download left, a fresh libtorrent
# leecher measures the transfer, then the seeder is stopped (SIGTERM) and reports
ZORVIK_HOME="$B/home-z" $TIME -v -o "$B/z-up.time" \
  "$CLI" get -noupnp -us0 -ut60 "$B/payload.torrent" "$B/z" >"$B/z-up.log" 2>&1 &
ZSEED=$!
wait_until 30 grep -q "\[seeding\]" "$B/z-up.log" || fail "zorvik-cli does not seed: $(cat "$B/z-up.log")"
mkdir -p "$B/u"
swarm_leech "$B/payload.torrent" "$B/u" 6892 >"$B/u-z.log" || fail "leecher from zorvik-cli failed"
up_z=$(sed -n 's/^complete //p' "$B/u-z.log")
cmp "$B/src/payload.bin" "$B/u/payload.bin" || fail "copy from zorvik-cli differs"
# GNU time does not pass signals on: the seeder under it is told directly.
kill -TERM "$(pgrep -P "$ZSEED")"
wait "$ZSEED" || true
rm -rf "$B/u"

$TIME -v -o "$B/l-up.time" $PY "$SWARM_PY" seed "$B/payload.torrent" "$B/l" 6893 \
  --resume "$B/l.resume" >"$B/l-up.log" 2>&1 &
LSEED=$!
wait_until 30 grep -q seeding "$B/l-up.log" || fail "libtorrent does not seed: $(cat "$B/l-up.log")"
mkdir -p "$B/u"
swarm_leech "$B/payload.torrent" "$B/u" 6894 >"$B/u-l.log" || fail "leecher from libtorrent failed"
up_l=$(sed -n 's/^complete //p' "$B/u-l.log")
cmp "$B/src/payload.bin" "$B/u/payload.bin" || fail "copy from libtorrent differs"
kill -TERM "$(pgrep -P "$LSEED")"
wait "$LSEED" 2>/dev/null || true
rm -rf "$B/u" "$B/l"

# --- check of the payload on disk
$TIME -v -o "$B/check.time" "$CLI" check --fast "$B/payload.torrent" "$B/z" >"$B/check.log" 2>&1 ||
  fail "check failed: $(cat "$B/check.log")"
grep -q "pieces present: \([0-9]*\)/\1$" "$B/check.log" || fail "check did not find every piece: $(cat "$B/check.log")"

GIB=$(awk "BEGIN { print $SIZE_MIB / 1024 }")
echo
printf '%-44s %10s %10s %12s\n' "" "wall" "CPU" "peak RSS"
row "download: zorvik-cli get" "$B/z-down.time"
row "download: libtorrent" "$B/l-down.time"
row "upload: zorvik-cli seeding (leecher's time)" "$B/z-up.time" "$up_z"
row "upload: libtorrent seeding (leecher's time)" "$B/l-up.time" "$up_l"
row "zorvik-cli check --fast" "$B/check.time"
echo
awk -v zw="$(wall_of "$B/z-down.time")" -v lw="$(wall_of "$B/l-down.time")" -v zu="$up_z" -v lu="$up_l" \
  -v zc="$(cpu_of "$B/z-down.time")" -v zuc="$(cpu_of "$B/z-up.time")" -v g="$GIB" \
  -v zr="$(rss_of "$B/z-down.time")" -v zur="$(rss_of "$B/z-up.time")" -v cw="$(wall_of "$B/check.time")" '
  BEGIN {
    printf "download wall ratio zorvik/libtorrent: %.2f (target <= 1.0)\n", zw / lw
    printf "upload wall ratio zorvik/libtorrent:   %.2f (target <= 1.0)\n", zu / lu
    printf "zorvik CPU per GiB: download %.2f s, upload %.2f s (target <= 1.7)\n", zc / g, zuc / g
    printf "zorvik peak RSS: download %.1f MiB, upload %.1f MiB (target < 12 MB)\n", zr / 1024, zur / 1024
    printf "check --fast: %.2f s for %.2f GiB (target < 1.2 s per GiB)\n", cw, g
  }'
