#!/usr/bin/env bash
# The peer wire against other clients, both ways, through a loopback opentracker:
# 1. zorvik-cli get downloads a 64 MiB file from a libtorrent, an aria2c and a Transmission
#    seeder at once (each held to 1.5 MB/s so that all of them take part), and a 20-file
#    torrent from libtorrent; every seeder serves it, the copies are byte for byte.
# 2. The finished copy seeds with -us0: libtorrent leechers keeping 500, 2000 and 10000
#    requests outstanding each complete within 20 s; aria2c downloads the single file and
#    the 20-file torrent; Transmission downloads the single file.
# 3. From a Transmission seeder zorvik is at most three times slower than libtorrent.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
source "$ZORVIK_SOURCE/tests/support/aria2.sh"
source "$ZORVIK_SOURCE/tests/support/transmission.sh"
set -eu
W=$SANDBOX_WORK
for tool in aria2c transmission-daemon transmission-remote; do
  command -v $tool >/dev/null || fail "$tool is not installed (scripts/deps.sh)"
done

swarm_payload "$W/src/big.bin" $((64 * 1024 * 1024))
mkdir -p "$W/src/multi/sub"
for i in $(seq 1 20); do
  # Sizes that put file ends inside pieces, one empty file.
  swarm_payload "$W/src/multi/sub/f$i.bin" $(((i - 1) * 37000 + i * 11))
done
BIG=$(swarm_make "$W/src/big.bin" "$W/big.torrent" 262144)
MULTI=$(swarm_make "$W/src/multi" "$W/multi.torrent" 65536)
swarm_tracker_start "$BIG" "$MULTI"

same_big() { cmp "$W/src/big.bin" "$1/big.bin" || fail "big.bin differs in $1"; }
same_multi() { diff -r -x "$MULTI" "$W/src/multi" "$1/multi" || fail "multi differs in $1"; }

# --- 1. a swarm of three other clients serves zorvik
swarm_seed LT "$W/big.torrent" "$W/src" 6881 --upload-limit 1500000
swarm_seed LT_MULTI "$W/multi.torrent" "$W/src" 6882
aria2_seed AR "$W/big.torrent" "$W/src" 6883 1500K
tr_seed ts 7100 "$W/big.torrent" "$W/src" 1500
# zorvik learns its peers from its first announce: all three seeders must have announced.
seeders() { [ "$(swarm_scrape "$BIG" | cut -d' ' -f1)" -ge 3 ]; }
wait_until 20 seeders || fail "the seeders did not all announce: $(swarm_scrape "$BIG")"
mkdir -p "$W/a"
t0=$(now_ms)
cli_get_bg a a -ut0 "$W/big.torrent" "$W/multi.torrent" "$W/a"
wait_exit "$a_pid" 100 rc
[ "$rc" = 0 ] || fail "download from the swarm ended with $rc: $(tail -5 "$W/a.log")"
echo "zorvik downloaded 64 MiB from libtorrent, aria2c and Transmission in $(($(now_ms) - t0)) ms"
same_big "$W/a"
same_multi "$W/a"
grep -q uploaded "$SANDBOX_WORK/seed-6881.log" || fail "the libtorrent seeder served nothing"
aria2_uploaded 6883 || fail "the aria2c seeder served nothing: $(tail -3 "$W/aria2-6883.log")"
[ "$(tr_uploaded ts)" != None ] || fail "the Transmission seeder served nothing: $(tr_remote ts -t 1 -i; tr_remote ts -t 1 -pi)"
echo "served by libtorrent $(tail -n 1 "$W/seed-6881.log"), aria2c and Transmission ($(tr_uploaded ts))"
kill "$LT" "$LT_MULTI" "$AR" "$TR_PID_ts"
wait "$LT" "$LT_MULTI" "$AR" "$TR_PID_ts" 2>/dev/null || true

# --- 2. zorvik seeds to libtorrent, aria2c and Transmission
cli_get_bg seeder a -us0 -ut30 "$W/big.torrent" "$W/multi.torrent" "$W/a"
wait_until 20 grep -q "big.bin  完成度 100.00%.*\[seeding\]" "$W/seeder.log" ||
  fail "the seeder does not seed: $(tail -5 "$W/seeder.log")"
for depth in 500 2000 10000; do
  mkdir -p "$W/lt-$depth"
  t0=$(now_ms)
  swarm_leech "$W/big.torrent" "$W/lt-$depth" $((6900 + depth % 89)) --timeout 20 --request-queue $depth ||
    fail "a libtorrent leecher keeping $depth requests did not complete within 20 s"
  echo "libtorrent ($depth requests outstanding) downloaded 64 MiB from zorvik in $(($(now_ms) - t0)) ms"
  same_big "$W/lt-$depth"
done
for t in big multi; do
  mkdir -p "$W/ar-$t"
  t0=$(now_ms)
  aria2_leech "$W/$t.torrent" "$W/ar-$t" 6990 60 || fail "aria2c did not download $t: $(tail -5 "$W/aria2-6990.log")"
  echo "aria2c downloaded $t from zorvik in $(($(now_ms) - t0)) ms"
done
same_big "$W/ar-big"
same_multi "$W/ar-multi"
# Transmission does not dial the loopback peers the tracker names, so a seeder of the one
# torrent dials it (--peer; Transmission takes one connection per address, and a dial for
# the other torrent could take its place).
kill "$seeder_pid"
wait "$seeder_pid" 2>/dev/null || true
cli_get_bg seeder a -us0 -ut30 --peer 127.0.0.1:7200 "$W/big.torrent" "$W/a"
wait_until 20 grep -q "big.bin  完成度 100.00%.*\[seeding\]" "$W/seeder.log" ||
  fail "the seeder does not seed again: $(tail -5 "$W/seeder.log")"
tr_start tl 7200
t0=$(now_ms)
tr_add tl "$W/big.torrent" "$W/tr-big"
tr_wait_complete tl 60 || fail "Transmission did not download from zorvik: $(tr_done tl)"
echo "Transmission downloaded 64 MiB from zorvik in $(($(now_ms) - t0)) ms"
same_big "$W/tr-big"
kill "$seeder_pid" "$TR_PID_tl"
wait "$seeder_pid" "$TR_PID_tl" 2>/dev/null || true

# --- 3. a Transmission seeder: zorvik against libtorrent (a daemon each, so that neither
# is taken for the other: both come from 127.0.0.1)
tr_seed t1 7300 "$W/big.torrent" "$W/src"
mkdir -p "$W/lt-tr"
t0=$(now_ms)
swarm_leech "$W/big.torrent" "$W/lt-tr" 6950 --peer 127.0.0.1:7300 --timeout 90 >/dev/null ||
  fail "libtorrent did not download from Transmission"
lt_ms=$(($(now_ms) - t0))
kill "$TR_PID_t1"
wait "$TR_PID_t1" 2>/dev/null || true
tr_seed t2 7400 "$W/big.torrent" "$W/src"
mkdir -p "$W/z-tr"
t0=$(now_ms)
cli_get_bg ztr ztr -ut0 --peer 127.0.0.1:7400 "$W/big.torrent" "$W/z-tr"
wait_exit "$ztr_pid" $((3 * lt_ms / 1000 + 5)) rc
z_ms=$(($(now_ms) - t0))
echo "from Transmission: libtorrent $lt_ms ms, zorvik $z_ms ms"
[ "$rc" = 0 ] || fail "zorvik from Transmission ended with $rc after $z_ms ms (libtorrent: $lt_ms ms)"
[ "$z_ms" -le $((3 * lt_ms)) ] || fail "zorvik took $z_ms ms from Transmission, libtorrent $lt_ms ms"
same_big "$W/z-tr"
echo "PASS"
