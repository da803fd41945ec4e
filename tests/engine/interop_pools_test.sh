#!/bin/bash
# Two TaskPools exchange a torrent with each other over loopback: pool B downloads from
# pool A (B connects out, A takes B in), then pool C downloads while pool A connects out to
# it (the seed's outgoing connection, the leecher's incoming one).
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/engine/interop_lib.sh"

W="$SANDBOX_WORK"
lt make --out "$W/t.torrent" --dir "$W/a" --name payload.bin --size 2500001 --piece 65536

# Each pool has its own data folder (its own piece-state files).
mkdir -p "$W/home-a" "$W/home-b" "$W/home-c" "$W/home-a2"
ZORVIK_HOME="$W/home-a/" start_driver "$W/a.out" --torrent "$W/t.torrent" --save "$W/a" --seed 60
aport=$(driver_port "$W/a.out")
ZORVIK_HOME="$W/home-b/" driver --torrent "$W/t.torrent" --save "$W/b" --connect "127.0.0.1:$aport" --timeout 60 \
  || fail "pool B did not complete from pool A"
cmp "$W/a/payload.bin" "$W/b/payload.bin" || fail "pool B's copy differs"
kill %1 2>/dev/null || true; wait 2>/dev/null || true

ZORVIK_HOME="$W/home-c/" start_driver "$W/c.out" --torrent "$W/t.torrent" --save "$W/c" --timeout 60
cport=$(driver_port "$W/c.out")
ZORVIK_HOME="$W/home-a2/" start_driver "$W/a2.out" --torrent "$W/t.torrent" --save "$W/a" --seed 60 \
  --connect "127.0.0.1:$cport"
for _ in $(seq 1 600); do grep -q '^done' "$W/c.out" && break; sleep 0.1; done
grep -q '^done state=1' "$W/c.out" || fail "pool C did not complete from pool A's outgoing connection"
cmp "$W/a/payload.bin" "$W/c/payload.bin" || fail "pool C's copy differs"
echo "two pools: ok"
finish
