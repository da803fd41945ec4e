#!/usr/bin/env bash
# The window's swarm tests (tests/app/window_swarm_test.cpp) against libtorrent seeders
# behind a loopback opentracker, all inside this script's network namespace.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
W=$SANDBOX_WORK
swarm_payload "$W/src/single.bin" $((8 * 1024 * 1024 + 4321))
mkdir -p "$W/src/multi/sub"
swarm_payload "$W/src/multi/a.bin" $((1024 * 1024 + 5))
swarm_payload "$W/src/multi/b.bin" $((700 * 1024))
swarm_payload "$W/src/multi/sub/c.bin" $((2 * 1024 * 1024 + 77))
swarm_payload "$W/src/multi/sub/d.bin" $((300 * 1024))
SINGLE=$(swarm_make "$W/src/single.bin" "$W/single.torrent" 262144)
MULTI=$(swarm_make "$W/src/multi" "$W/multi.torrent" 65536)
# Not on the tracker's list: the tracker refuses it with a reason.
swarm_payload "$W/src/unlisted.bin" 100000
swarm_make "$W/src/unlisted.bin" "$W/unlisted.torrent" 16384 >/dev/null
swarm_tracker_start "$SINGLE" "$MULTI"
swarm_seed SEED1 "$W/single.torrent" "$W/src" 6881
swarm_seed SEED2 "$W/multi.torrent" "$W/src" 6882
ZORVIK_SWARM="$W" "$ZORVIK_BUILD/tests/app/app_window_tests" --gtest_filter="${WINDOW_SWARM_FILTER:-WindowSwarm.*}"
