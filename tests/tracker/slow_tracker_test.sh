#!/usr/bin/env bash
# A tracker that sends its chunked answer at 4 bytes per second must not keep zorvik-cli
# from its other trackers: a whole announce ends within 20 s, then the next trackers of the
# list are asked, the seeder found and the download completes. The second tracker refuses
# with a reason of its own, which zorvik-cli prints with its escape sequence made harmless.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
W=$SANDBOX_WORK
PEER_PY="$ZORVIK_SOURCE/tests/support/wire_peer.py"
TRACKERS_PY="$ZORVIK_SOURCE/tests/tracker/scripted_trackers.py"
swarm_payload "$W/src/big.bin" $((16 * 1024 * 1024))
: >"$ZORVIK_HOME/trackerFavorite.txt"

/usr/bin/python3 -u "$TRACKERS_PY" 127.0.0.3:7003 >"$W/trackers.log" 2>&1 &
wait_until 10 grep -q "^ready" "$W/trackers.log" || fail "the trackers did not start: $(cat "$W/trackers.log")"
read -r _ slow good refusing <"$W/trackers.log"
# The list: the slow tracker, the refusing one, the good one (each its own tier).
/usr/bin/python3 - "$W/src/big.bin" "$W/big.torrent" "$slow" "$refusing" "$good" <<'PY'
import os, sys
import libtorrent as lt
root, out, urls = sys.argv[1], sys.argv[2], sys.argv[3:]
fs = lt.file_storage()
lt.add_files(fs, root)
t = lt.create_torrent(fs, 262144, flags=lt.create_torrent.v1_only)
for tier, url in enumerate(urls):
    t.add_tracker(url, tier)
lt.set_piece_hashes(t, os.path.dirname(os.path.abspath(root)))
open(out, "wb").write(lt.bencode(t.generate()))
PY
/usr/bin/python3 -u "$PEER_PY" seed "$W/big.torrent" "$W/src" 7003 --host 127.0.0.3 >"$W/seed.log" 2>&1 &
wait_until 10 grep -q serving "$W/seed.log" || fail "the seeder did not start"

mkdir -p "$W/a"
t0=$(now_ms)
cli_get_bg a a -ut0 "$W/big.torrent" "$W/a"
wait_exit "$a_pid" 60 rc
total=$(($(now_ms) - t0))
[ "$rc" = 0 ] || fail "the download ended with $rc after $total ms: $(tail -5 "$W/a.log"; cat "$W/trackers.log")"
cmp "$W/src/big.bin" "$W/a/big.bin" || fail "the copy differs"
asked=$(sed -n 's/^good asked after \([0-9]*\) ms$/\1/p' "$W/trackers.log" | head -n 1)
[ -n "$asked" ] || fail "the second tracker was never asked: $(cat "$W/trackers.log")"
echo "slow first tracker: the second asked $asked ms after the first; 16 MiB complete $total ms after the start"
[ "$asked" -le 23000 ] || fail "the second tracker was asked only after $asked ms"
grep -q "refused the announce: torrent not registered ?\[31m?" "$W/a.log" ||
  fail "no refusal line: $(cat "$W/a.log")"
! grep -q $'\x1b\[31m' "$W/a.log" || fail "the tracker's escape sequence reached the terminal"
grep "refused the announce" "$W/a.log" | head -n 1
echo "PASS"
