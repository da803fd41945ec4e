#!/usr/bin/env bash
# zorvik-cli against hostile names and shapes of .torrent files:
# - names and paths with terminal escape sequences: no raw ESC byte in any output of info,
#   check and get, and the download still lands byte for byte;
# - a path 5,000 folders deep: refused at once as invalid, nothing created;
# - a link in the save folder leading out of it: the open is refused naming the link, and
#   nothing outside is written;
# - 100,001 files: refused with the limit; 5,242,880 pieces: the check of existing data shows
#   its progress and a SIGINT ends it at once.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK
ESC=$'\033'

# A .torrent from a Python literal: make.py OUT '<info dict expression>' (names as bytes).
cat >"$W/make.py" <<'EOP'
import hashlib, sys
def b(x):
    if isinstance(x, int): return b"i%de" % x
    if isinstance(x, str): x = x.encode()
    if isinstance(x, bytes): return b"%d:" % len(x) + x
    if isinstance(x, list): return b"l" + b"".join(b(v) for v in x) + b"e"
    return b"d" + b"".join(b(k) + b(v) for k, v in sorted(x.items())) + b"e"
def pieces(data, size):
    return b"".join(hashlib.sha1(data[i:i + size]).digest() for i in range(0, len(data), size))
info = eval(sys.argv[2])
open(sys.argv[1], "wb").write(b({"announce": "http://127.0.0.1:9/announce", "info": info}))
EOP
mk() { /usr/bin/python3 "$W/make.py" "$@"; }

# --- escape sequences in the name and a path
head -c 300000 /dev/urandom >"$W/payload"
mk "$W/esc.torrent" "{'name': b'evil\x1b[2J\x1b]0;owned\x07name', 'piece length': 65536,
  'files': [{'length': 300000, 'path': [b'sub\x1b[31m', b'f\x9b1m.bin']}],
  'pieces': pieces(open('$W/payload', 'rb').read(), 65536)}"
out=$("$CLI" info "$W/esc.torrent" 2>&1) || fail "info failed: $out"
! grep -q "$ESC" <<<"$out" || fail "info printed a raw ESC"
# The libtorrent seeder serves the same bytes (it stores the names with control characters
# replaced by "_").
mkdir -p "$W/esc-src/evil_[2J_]0;owned_name/sub_[31m"
cp "$W/payload" "$W/esc-src/evil_[2J_]0;owned_name/sub_[31m/f_1m.bin"
swarm_seed ESEED "$W/esc.torrent" "$W/esc-src" 6881
mkdir -p "$W/esc-out"
rc=0
ZORVIK_HOME="$W/home-esc" timeout 30 "$CLI" get -noupnp -ut0 --peer 127.0.0.1:6881 "$W/esc.torrent" "$W/esc-out" >"$W/esc.log" 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "escape-name download gave $rc: $(cat -v "$W/esc.log")"
! grep -q "$ESC" "$W/esc.log" || fail "get printed a raw ESC: $(cat -v "$W/esc.log")"
grep -qF 'evil\x1B[2J\x1B]0;owned\x07name' "$W/esc.log" || fail "the name is not shown escaped: $(cat -v "$W/esc.log")"
out=$("$CLI" check "$W/esc.torrent" "$W/esc-out" 2>&1) || fail "check failed: $(cat -v <<<"$out")"
! grep -q "$ESC" <<<"$out" || fail "check printed a raw ESC"
cmp "$W/payload" "$W/esc-out/evil"$'\033'"[2J"$'\033'"]0;owned"$'\007'"name/sub"$'\033'"[31m/f"$'\x9b'"1m.bin" || fail "the payload differs"
kill "$ESEED"

# --- a path 5,000 folders deep
mk "$W/deep.torrent" "{'name': 'deep', 'piece length': 16384, 'pieces': b'x' * 20,
  'files': [{'length': 10, 'path': ['d'] * 4999 + ['f']}]}"
mkdir -p "$W/deep-out"
t0=$(now_ms)
rc=0
out=$(ZORVIK_HOME="$W/home-deep" timeout 20 "$CLI" get -noupnp -ut0 "$W/deep.torrent" "$W/deep-out" 2>&1) || rc=$?
took=$(($(now_ms) - t0))
[ "$rc" = 2 ] || fail "a 5,000-deep path gave $rc: $out"
grep -qF "invalid torrent: file 0: the path is 5000 components deep; at most 128 are allowed" <<<"$out" || fail "depth not explained: $out"
[ "$took" -lt 5000 ] || fail "refusing the deep path took $took ms"
[ -z "$(ls -A "$W/deep-out")" ] || fail "the refused torrent left folders: $(ls "$W/deep-out")"

# --- a link out of the save folder, where the torrent's folder goes and where a file goes
mkdir -p "$W/outside" "$W/link-out"
echo "keep" >"$W/outside/f.bin"
mk "$W/link.torrent" "{'name': 'T', 'piece length': 65536,
  'files': [{'length': 300000, 'path': ['f.bin']}], 'pieces': pieces(open('$W/payload', 'rb').read(), 65536)}"
ln -s "$W/outside" "$W/link-out/T"
rc=0
out=$(ZORVIK_HOME="$W/home-link" timeout 20 "$CLI" get -noupnp -ut0 "$W/link.torrent" "$W/link-out" 2>&1) || rc=$?
[ "$rc" = 6 ] || fail "a link out gave $rc: $out"
grep -qF "'$W/link-out/T' is a link that leads out of the save folder" <<<"$out" || fail "link not named: $out"
rm "$W/link-out/T"
mkdir -p "$W/link-out/T"
ln -s "$W/outside/f.bin" "$W/link-out/T/f.bin"
rc=0
out=$(ZORVIK_HOME="$W/home-link" timeout 20 "$CLI" get -noupnp -ut0 "$W/link.torrent" "$W/link-out" 2>&1) || rc=$?
[ "$rc" = 6 ] || fail "a file link out gave $rc: $out"
grep -qF "'$W/link-out/T/f.bin' is a link that leads out of the save folder" <<<"$out" || fail "file link not named: $out"
[ "$(cat "$W/outside/f.bin")" = keep ] && [ "$(ls "$W/outside")" = f.bin ] || fail "something outside was written"

# --- 100,001 files, then 5,242,880 pieces
mk "$W/many.torrent" "{'name': 'many', 'piece length': 16384, 'pieces': b'x' * 20 * 7,
  'files': [{'length': 1, 'path': ['f%d' % i]} for i in range(100001)]}"
rc=0
out=$(ZORVIK_HOME="$W/home-many" timeout 20 "$CLI" get -noupnp -ut0 "$W/many.torrent" "$W/deep-out" 2>&1) || rc=$?
[ "$rc" = 2 ] || fail "100,001 files gave $rc: $out"
grep -qF "100001 files; at most 100000 are supported" <<<"$out" || fail "file count not explained: $out"
mk "$W/pieces.torrent" "{'name': 'p.bin', 'piece length': 16, 'length': 5242880 * 16, 'pieces': bytes(20 * 5242880)}"
mkdir -p "$W/pieces-out"
truncate -s $((5242880 * 16)) "$W/pieces-out/p.bin"
ZORVIK_HOME="$W/home-pieces" "$CLI" get -noupnp -ut0 "$W/pieces.torrent" "$W/pieces-out" >"$W/pieces.log" 2>&1 &
pid=$!
wait_until 20 grep -q "checking the data already on disk (5242880 pieces)" "$W/pieces.log" || fail "the check is not announced: $(cat "$W/pieces.log")"
wait_until 10 grep -q "\[checking\]" "$W/pieces.log" || fail "the check shows no progress: $(cat "$W/pieces.log")"
t0=$(now_ms)
kill -INT "$pid"
wait_exit "$pid" 5 rc
[ "$rc" = 8 ] || fail "SIGINT during the check gave $rc: $(tail -3 "$W/pieces.log")"
echo "stopped the check of 5242880 pieces in $(($(now_ms) - t0)) ms"
echo PASS
