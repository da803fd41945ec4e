#!/usr/bin/env bash
# 2,000 connections that send a valid handshake and then nothing must not keep zorvik-cli
# from its seeder: from one host they hold one peer record (one connection per address),
# from 100 hosts they hold at most the records incoming peers may take, and the dial to
# the seeder still goes out. Each download ends within twice the time of the same download
# without the flood. The seeder listens only after 3 s, so the first dial fails and the
# flood is in place before the second one (zorvik-cli offers its --peer every 5 s).
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
W=$SANDBOX_WORK
swarm_direct_payload $((32 * 1024 * 1024))

port_known() { [ -n "$(cli_port "$1")" ]; }

# One download from a seeder at 127.0.0.3 that starts listening 3 s from now, with the
# given flood sources (none: no flood); sets ELAPSED (milliseconds).
fetch() { # name [flood source...]
  local name=$1 port=$((7000 + RANDOM % 1000)) rc sources=()
  shift
  for s in "$@"; do sources+=(--from "$s"); done
  /usr/bin/python3 -u "$WIRE_PEER_PY" seed "$W/big.torrent" "$W/src" $port --host 127.0.0.3 --delay 3 \
    >"$W/$name-seed.log" 2>&1 &
  local seed_pid=$!
  mkdir -p "$W/$name"
  local t0
  t0=$(now_ms)
  cli_get_bg "$name" "$name" -ut0 --peer 127.0.0.3:$port "$W/big.torrent" "$W/$name"
  local flood_pid=
  if [ $# -gt 0 ]; then
    wait_until 10 port_known "$name" || fail "$name: no listening port: $(cat "$W/$name.log")"
    /usr/bin/python3 -u "$WIRE_PEER_PY" flood "$W/big.torrent" 127.0.0.1 "$(cli_port "$name")" 2000 "${sources[@]}" \
      >"$W/$name-flood.log" 2>&1 &
    flood_pid=$!
    wait_until 20 grep -qs flooded "$W/$name-flood.log" || fail "$name: the flood did not start"
    echo "$name: $(cat "$W/$name-flood.log") after $(($(now_ms) - t0)) ms"
  fi
  local pid_var="${name}_pid"
  wait_exit "${!pid_var}" 120 rc
  ELAPSED=$(($(now_ms) - t0))
  [ "$rc" = 0 ] || fail "$name ended with $rc after $ELAPSED ms: $(tail -3 "$W/$name.log")"
  cmp "$W/src/big.bin" "$W/$name/big.bin" || fail "$name: the copy differs"
  [ -z "$flood_pid" ] || kill "$flood_pid" 2>/dev/null || true
  kill "$seed_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}

fetch plain
plain=$ELAPSED
echo "no flood: 32 MiB in $plain ms"

fetch one_host 127.0.0.2
one=$ELAPSED
echo "2,000 silent connections from one host: 32 MiB in $one ms"
[ "$one" -le $((2 * plain)) ] || fail "the flood from one host slowed the download: $one ms against $plain ms"

many=()
for i in $(seq 1 100); do many+=("127.0.1.$i"); done
fetch many_hosts "${many[@]}"
spread=$ELAPSED
echo "2,000 silent connections from 100 hosts: 32 MiB in $spread ms"
[ "$spread" -le $((2 * plain)) ] || fail "the flood from 100 hosts slowed the download: $spread ms against $plain ms"
echo "PASS"
