#!/usr/bin/env bash
# zorvik-cli get against a peer whose every block is wrong: alone, it is dropped after a
# few failed pieces and never connected again (the download does not go on fetching
# garbage); beside an honest seeder, the download completes byte for byte, the liar is
# dropped and the honest seeder is not.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
W=$SANDBOX_WORK
swarm_direct_payload $((32 * 1024 * 1024))

# A wire_peer seeder on its own loopback address; its pid goes to NAME_pid.
seeder() { # name host port option...
  local name=$1 host=$2 port=$3
  shift 3
  /usr/bin/python3 -u "$WIRE_PEER_PY" seed "$W/big.torrent" "$W/src" "$port" --host "$host" "$@" \
    >"$W/$name.log" 2>&1 &
  printf -v "${name}_pid" '%s' $!
  wait_until 10 grep -q serving "$W/$name.log" || fail "$name did not start: $(cat "$W/$name.log")"
}

# --- 1. the liar alone
seeder liar 127.0.0.2 7001 --corrupt
mkdir -p "$W/a"
t0=$(now_ms)
cli_get_bg a a -ut0 --peer 127.0.0.2:7001 "$W/big.torrent" "$W/a"
wait_until 30 grep -q "^ended" "$W/liar.log" || fail "the liar was never dropped: $(tail -3 "$W/a.log")"
dropped=$(($(now_ms) - t0))
blocks=$(sed -n 's/^ended \([0-9]*\)$/\1/p' "$W/liar.log" | head -n 1)
echo "liar alone: dropped after $dropped ms, having sent $blocks blocks ($((blocks * 16)) KiB)"
# Three failed pieces of 256 KiB decide; what was already asked for comes on top of them.
[ "$blocks" -le 512 ] || fail "the liar sent $blocks blocks before it was dropped"
# zorvik-cli offers its --peer again every 5 s: the address stays refused.
sleep 12
[ "$(grep -c '^connected' "$W/liar.log")" = 1 ] || fail "the liar was connected again: $(cat "$W/liar.log")"
grep -q "0/128 pieces present" "$W/a.log" || fail "unexpected start: $(head -3 "$W/a.log")"
kill -TERM "$a_pid"
wait_exit "$a_pid" 10 rc
[ "$rc" = 8 ] || fail "SIGTERM gave $rc: $(tail -3 "$W/a.log")"
grep -q "big.bin: 停止! (0.00%" "$W/a.log" || fail "garbage was counted as held: $(tail -2 "$W/a.log")"
kill "$liar_pid"
wait "$liar_pid" 2>/dev/null || true

# --- 2. the liar beside an honest seeder
seeder liar2 127.0.0.2 7002 --corrupt
seeder honest 127.0.0.3 7003
mkdir -p "$W/b"
t0=$(now_ms)
cli_get_bg b b -ut0 --peer 127.0.0.2:7002 --peer 127.0.0.3:7003 "$W/big.torrent" "$W/b"
wait_exit "$b_pid" 60 rc
[ "$rc" = 0 ] || fail "the download beside a liar ended with $rc: $(tail -5 "$W/b.log")"
echo "liar beside an honest seeder: 32 MiB in $(($(now_ms) - t0)) ms"
cmp "$W/src/big.bin" "$W/b/big.bin" || fail "the copy differs"
grep -q "^ended" "$W/liar2.log" || fail "the liar kept its connection"
[ "$(grep -c '^connected' "$W/liar2.log")" = 1 ] || fail "the liar was connected again"
# The honest seeder kept its one connection to the end (two seeds part then).
[ "$(grep -c '^connected' "$W/honest.log")" = 1 ] || fail "the honest seeder was dropped: $(cat "$W/honest.log")"
echo "PASS"
