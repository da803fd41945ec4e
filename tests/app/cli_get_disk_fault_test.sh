#!/usr/bin/env bash
# zorvik-cli get when the disk changes under it or refuses it, against libtorrent peers:
# - a file cut to nothing while it is seeded: that task stops naming the file, the other task
#   goes on seeding, nothing crashes;
# - the piece-state file, then a content file, cut while downloading: the task stops with the
#   file named, no SIGBUS;
# - a file size limit (ulimit -f): the open fails saying "File too large";
# - a complete download on a read-only mount is opened read-only and seeded;
# - 3,000 files under a soft limit of 1024 open files (raised at start) download; under a
#   hard limit of 1024 the message says how many files are needed and allowed.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK
no_crash() { [ "$2" != 135 ] && [ "$2" != 134 ] && [ "$2" != 139 ] || fail "$1 crashed with status $2"; }
says() { grep -qF -- "$2" "$W/$1.log" || fail "$1 does not say '$2': $(cat "$W/$1.log")"; }

# --- 1. cut while seeding: two torrents in one run, the first one's file is cut
swarm_payload "$W/seed/big.bin" $((32 * 1024 * 1024))
swarm_payload "$W/seed/other.bin" $((8 * 1024 * 1024))
swarm_make "$W/seed/big.bin" "$W/big.torrent" 262144 >/dev/null
swarm_make "$W/seed/other.bin" "$W/other.torrent" 262144 >/dev/null
cli_get_bg s1 s1 -ut10 -us4096 "$W/big.torrent" "$W/other.torrent" "$W/seed"
wait_until 30 grep -q "other.bin: check done" "$W/s1.log" || fail "no check: $(cat "$W/s1.log")"
wait_until 30 grep -q "big.bin: check done" "$W/s1.log" || fail "no check: $(cat "$W/s1.log")"
port=$(cli_port s1)
mkdir -p "$W/l1" "$W/l2"
/usr/bin/python3 -u "$SWARM_PY" leech "$W/big.torrent" "$W/l1" 6901 --peer "127.0.0.1:$port" --timeout 30 >"$W/l1.log" 2>&1 &
leech1=$!
sleep 3
truncate -s 0 "$W/seed/big.bin"
wait_until 20 grep -q "became shorter" "$W/s1.log" || fail "no message for the cut file: $(cat "$W/s1.log")"
says s1 "big.bin: '$W/seed/big.bin' became shorter than the torrent says (0 of 33554432 bytes)"
kill -0 "$s1_pid" 2>/dev/null || fail "zorvik-cli ended with the cut file: $(cat "$W/s1.log")"
swarm_leech "$W/other.torrent" "$W/l2" 6902 --peer "127.0.0.1:$port" --timeout 30 >/dev/null \
  || fail "the other task stopped seeding: $(cat "$W/s1.log")"
cmp "$W/seed/other.bin" "$W/l2/other.bin" || fail "the other torrent arrived damaged"
kill "$leech1" 2>/dev/null || true
kill -TERM "$s1_pid"
wait_exit "$s1_pid" 10 rc
no_crash "seeding a cut file" "$rc"
[ "$rc" = 8 ] || fail "stopping gave $rc: $(cat "$W/s1.log")"

# --- 2. the piece-state file, then a content file, cut while downloading
swarm_payload "$W/src/data.bin" $((32 * 1024 * 1024))
HASH=$(/usr/bin/python3 "$SWARM_PY" make "$W/src/data.bin" "$W/data.torrent" 262144 http://127.0.0.1:9/announce)
swarm_seed SEED "$W/data.torrent" "$W/src" 6881
for what in state content; do
  rm -rf "$W/d-$what" "$SANDBOX_WORK/home-$what"
  mkdir -p "$W/d-$what"
  cli_get_bg "d$what" "$what" -ds4096 -ut0 --peer 127.0.0.1:6881 "$W/data.torrent" "$W/d-$what"
  wait_until 30 grep -q "完成度 [1-9][0-9]*\." "$W/d$what.log" || fail "no progress: $(cat "$W/d$what.log")"
  if [ $what = state ]; then
    victim="$SANDBOX_WORK/home-state/$HASH"
    text="cannot write the piece-state file '$victim'"
  else
    victim="$W/d-content/data.bin"
    text="'$victim' became shorter than the torrent says"
  fi
  [ -f "$victim" ] || fail "no $victim"
  truncate -s 0 "$victim"
  wait_exit "$(eval echo "\$d${what}_pid")" 20 rc
  no_crash "cutting the $what file" "$rc"
  [ "$rc" = 10 ] || fail "cutting the $what file gave $rc: $(cat "$W/d$what.log")"
  says "d$what" "$text"
done

# --- 3. a file size limit: sizing fails with EFBIG and says so
mkdir -p "$W/fsize"
rc=0
out=$( (ulimit -f 1024; ZORVIK_HOME="$W/home-fsize" timeout 20 "$CLI" get -noupnp -ut0 "$W/data.torrent" "$W/fsize") 2>&1) || rc=$?
no_crash "a file size limit" "$rc"
[ "$rc" = 6 ] || fail "a file size limit gave $rc: $out"
grep -qF "cannot allocate '$W/fsize/data.bin': File too large" <<<"$out" || fail "file size limit not explained: $out"
[ ! -e "$W/fsize/data.bin" ] || fail "the file the failed open created was left"

# --- 4. a complete multi-file download on a read-only mount is seeded
mkdir -p "$W/ro-src/album/cd2" "$W/ro"
swarm_payload "$W/ro-src/album/one.bin" $((3 * 1024 * 1024))
swarm_payload "$W/ro-src/album/cd2/two.bin" $((2 * 1024 * 1024 + 12345))
/usr/bin/python3 "$SWARM_PY" make "$W/ro-src/album" "$W/album.torrent" 65536 http://127.0.0.1:9/announce >/dev/null
cp -r "$W/ro-src/album" "$W/ro/"
cli_get_bg ro1 ro -ut0 "$W/album.torrent" "$W/ro"
wait_exit "$ro1_pid" 30 rc
[ "$rc" = 0 ] || fail "the complete download did not check complete: $(cat "$W/ro1.log")"
cat >"$W/ro.sh" <<EOS
mount --bind "$W/ro" "$W/ro" && mount -o remount,bind,ro "$W/ro" || exit 77
touch "$W/ro/album/probe" 2>/dev/null && exit 78
ZORVIK_HOME="$SANDBOX_WORK/home-ro" exec "$CLI" get -noupnp -us0 -ut10 "$W/album.torrent" "$W/ro"
EOS
unshare -m bash "$W/ro.sh" >"$W/ro2.log" 2>&1 &
ro2_pid=$!
wait_until 20 grep -q "seeding\]" "$W/ro2.log" || fail "read-only download does not seed: $(cat "$W/ro2.log")"
mkdir -p "$W/ro-leech"
swarm_leech "$W/album.torrent" "$W/ro-leech" 6903 --peer "127.0.0.1:$(cli_port ro2)" --timeout 30 >/dev/null \
  || fail "libtorrent got nothing from the read-only seed: $(cat "$W/ro2.log")"
cmp "$W/ro-src/album/one.bin" "$W/ro-leech/album/one.bin" && cmp "$W/ro-src/album/cd2/two.bin" "$W/ro-leech/album/cd2/two.bin" \
  || fail "read-only seed gave other bytes"
kill -TERM "$ro2_pid"
wait_exit "$ro2_pid" 10 rc

# --- 5. 3,000 files under a soft limit of 1024; then a hard limit of 1024
mkdir -p "$W/many-src/photos"
/usr/bin/python3 -c '
import os, sys
for i in range(3000):
    with open(os.path.join(sys.argv[1], "p%04d.jpg" % i), "wb") as f:
        f.write(os.urandom(1000 + i))' "$W/many-src/photos"
PHOTOS=$(/usr/bin/python3 "$SWARM_PY" make "$W/many-src/photos" "$W/photos.torrent" 262144 http://127.0.0.1:9/announce)
swarm_seed MANY "$W/photos.torrent" "$W/many-src" 6884
mkdir -p "$W/many"
hard=$(ulimit -Hn)
[ "$hard" = unlimited ] || [ "$hard" -gt 4096 ] || fail "hard limit $hard too low for the test"
rc=0
( ulimit -Sn 1024; ZORVIK_HOME="$W/home-many" exec timeout 60 "$CLI" get -noupnp -ut0 --peer 127.0.0.1:6884 "$W/photos.torrent" "$W/many" ) >"$W/many.log" 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "3,000 files under a soft limit of 1024 gave $rc: $(tail -5 "$W/many.log")"
# The piece-state file of a multi-file torrent lives in its folder.
diff -r -x "$PHOTOS" "$W/many-src/photos" "$W/many/photos" >/dev/null || fail "the photos differ"
rm -rf "$W/many"
mkdir -p "$W/many"
rc=0
out=$( (ulimit -n 1024; ZORVIK_HOME="$W/home-many2" timeout 20 "$CLI" get -noupnp -ut0 "$W/photos.torrent" "$W/many") 2>&1) || rc=$?
[ "$rc" = 6 ] || fail "3,000 files under a hard limit of 1024 gave $rc: $out"
grep -qF "the torrent needs 3001 open files, but the process may open only 1024" <<<"$out" || fail "limit not explained: $out"
[ -z "$(ls -A "$W/many")" ] || fail "the refused open left files behind"
echo PASS
