#!/usr/bin/env bash
# zorvik-cli get in real swarms through a loopback opentracker: it downloads a 64 MiB
# single-file torrent and a multi-file torrent (nested folders, an empty file, pieces across
# file ends) from libtorrent seeders in one run, byte for byte; then it seeds both to a
# libtorrent leecher and to a second zorvik-cli, each of which completes; SIGTERM ends the
# seeder at once with status 8.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
"$CLI" --help | grep -q "get FILE.torrent" || fail "--help does not list get"
W=$SANDBOX_WORK

# --- payloads and torrents
swarm_payload "$W/src/big.bin" $((64 * 1024 * 1024))
mkdir -p "$W/src/multi/sub/deeper"
swarm_payload "$W/src/multi/a.bin" $((1024 * 1024 + 123))
swarm_payload "$W/src/multi/sub/b.bin" $((3 * 1024 * 1024 + 7))
swarm_payload "$W/src/multi/sub/deeper/c.txt" 100
: >"$W/src/multi/sub/empty.dat"
swarm_payload "$W/src/multi/z.bin" $((5 * 1024 * 1024))
BIG=$(swarm_make "$W/src/big.bin" "$W/big.torrent" 262144)
MULTI=$(swarm_make "$W/src/multi" "$W/multi.torrent" 65536)
swarm_tracker_start "$BIG" "$MULTI"

same_content() { # folder
  cmp "$W/src/big.bin" "$1/big.bin" || fail "big.bin differs in $1"
  # The piece-state file of a multi-file torrent lives in its folder, named by the info-hash.
  diff -r -x "$MULTI" "$W/src/multi" "$1/multi" || fail "multi differs in $1"
}

# --- 1. download both torrents in one run from libtorrent seeders found through the tracker
swarm_seed SEED1 "$W/big.torrent" "$W/src" 6881
swarm_seed SEED2 "$W/multi.torrent" "$W/src" 6882
mkdir -p "$W/a"
t0=$(now_ms)
cli_get_bg a a -ut0 "$W/big.torrent" "$W/multi.torrent" "$W/a"
wait_exit "$a_pid" 50 rc
[ "$rc" = 0 ] || fail "download from libtorrent ended with $rc: $(cat "$W/a.log")"
echo "downloaded 64 MiB + 9 MiB from libtorrent in $(($(now_ms) - t0)) ms"
same_content "$W/a"
grep -q "big.bin: 下载完毕!" "$W/a.log" || fail "no completion line: $(cat "$W/a.log")"
grep -q "\[downloading\]" "$W/a.log" || fail "no progress lines: $(cat "$W/a.log")"
kill "$SEED1" "$SEED2"
wait "$SEED1" "$SEED2" 2>/dev/null || true

# --- 2. the completed copy seeds (upload unlimited) to a libtorrent leecher via the tracker
cli_get_bg seeder a -us0 -ut10 "$W/big.torrent" "$W/multi.torrent" "$W/a"
wait_until 20 grep -q "big.bin  完成度 100.00%.*\[seeding\]" "$W/seeder.log" ||
  fail "the seeder does not seed: $(cat "$W/seeder.log")"
grep -q "256/256 pieces present" "$W/seeder.log" || fail "seeder did not resume: $(cat "$W/seeder.log")"
mkdir -p "$W/lt"
t0=$(now_ms)
swarm_leech "$W/big.torrent" "$W/lt" 6891 --timeout 50 || fail "libtorrent leecher did not complete"
echo "libtorrent downloaded 64 MiB from zorvik-cli in $(($(now_ms) - t0)) ms"
cmp "$W/src/big.bin" "$W/lt/big.bin" || fail "libtorrent's copy differs"

# --- 3. a second zorvik-cli (own data folder) downloads both from the first
mkdir -p "$W/b"
t0=$(now_ms)
cli_get_bg b b -ut0 "$W/big.torrent" "$W/multi.torrent" "$W/b"
wait_exit "$b_pid" 50 rc
[ "$rc" = 0 ] || fail "zorvik-to-zorvik download ended with $rc: $(cat "$W/b.log")"
echo "zorvik-cli downloaded 64 MiB + 9 MiB from zorvik-cli in $(($(now_ms) - t0)) ms"
same_content "$W/b"

# --- the seeder stops at once on SIGTERM, having sent more than it holds
t0=$(now_ms)
kill -TERM "$seeder_pid"
wait_exit "$seeder_pid" 5 rc
[ "$rc" = 8 ] || fail "SIGTERM gave $rc, want 8: $(cat "$W/seeder.log")"
echo "seeder stopped $(($(now_ms) - t0)) ms after SIGTERM"
up=$(sed -n 's/^big.bin: 停止! (.*,  *\([0-9.]*\)M up)$/\1/p' "$W/seeder.log")
[ -n "$up" ] && awk "BEGIN { exit !($up >= 128) }" || fail "seeder sent ${up:-?} MiB of big.bin, want 128: $(cat "$W/seeder.log")"
echo "PASS"
