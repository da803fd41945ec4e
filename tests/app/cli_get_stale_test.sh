#!/usr/bin/env bash
# A saved piece state that no longer matches the data: after a complete download the data is
# cut to nothing, shrunk to half, replaced by other bytes of the same size, one file of a
# multi-file torrent is deleted, or the torrent is started into another save folder. Each
# restart reports the true count, fetches what is missing from a libtorrent seeder and ends
# byte for byte the payload. Then a hybrid torrent whose pad files share a path downloads
# from libtorrent without a pad file or folder on disk.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK

# Runs zorvik-cli get to the end (it must complete) and prints its log.
run() { # name home args...
  local name=$1
  cli_get_bg "$@"
  wait_exit "$(eval echo "\$${name}_pid")" 60 rc
  [ "$rc" = 0 ] || fail "$name ended with $rc: $(cat "$W/$name.log")"
}
says() { grep -qF -- "$2" "$W/$1.log" || fail "$1 does not say '$2': $(cat "$W/$1.log")"; }

swarm_payload "$W/src/data.bin" $((8 * 1024 * 1024))
/usr/bin/python3 "$SWARM_PY" make "$W/src/data.bin" "$W/one.torrent" 262144 http://127.0.0.1:9/announce >/dev/null
mkdir -p "$W/src/album"
for f in a b c d; do swarm_payload "$W/src/album/$f.bin" $((2 * 1024 * 1024)); done
/usr/bin/python3 "$SWARM_PY" make "$W/src/album" "$W/album.torrent" 262144 http://127.0.0.1:9/announce >/dev/null
swarm_seed SEED "$W/one.torrent" "$W/src" 6881
swarm_seed SEED2 "$W/album.torrent" "$W/src" 6882
P="-ut0 --peer 127.0.0.1:6881"

mkdir -p "$W/st"
run first st $P "$W/one.torrent" "$W/st"
cmp "$W/src/data.bin" "$W/st/data.bin" || fail "first download differs"

truncate -s 0 "$W/st/data.bin"
run cut st $P "$W/one.torrent" "$W/st"
says cut "check done, 0/32 pieces present"
cmp "$W/src/data.bin" "$W/st/data.bin" || fail "download after the cut differs"

truncate -s $((4 * 1024 * 1024)) "$W/st/data.bin"
run half st $P "$W/one.torrent" "$W/st"
says half "check done, 16/32 pieces present"
cmp "$W/src/data.bin" "$W/st/data.bin" || fail "download after the shrink differs"

# Our own writes may be up to a second newer than the state; a user's edit comes later.
sleep 1.5
head -c $((8 * 1024 * 1024)) /dev/urandom >"$W/other.bin"
cat "$W/other.bin" >"$W/st/data.bin"
run replaced st $P "$W/one.torrent" "$W/st"
says replaced "check done, 0/32 pieces present"
cmp "$W/src/data.bin" "$W/st/data.bin" || fail "download after the replacement differs"

mkdir -p "$W/st2"
run elsewhere st $P "$W/one.torrent" "$W/st2"
says elsewhere "; 0/32 pieces present"
cmp "$W/src/data.bin" "$W/st2/data.bin" || fail "download into the other folder differs"

mkdir -p "$W/al"
run album1 al -ut0 --peer 127.0.0.1:6882 "$W/album.torrent" "$W/al"
rm "$W/al/album/c.bin"
run album2 al -ut0 --peer 127.0.0.1:6882 "$W/album.torrent" "$W/al"
says album2 "; 24/32 pieces present"
for f in a b c d; do cmp "$W/src/album/$f.bin" "$W/al/album/$f.bin" || fail "album/$f.bin differs: $(cat "$W/album2.log")"; done
kill "$SEED" "$SEED2"

# --- hybrid torrent: a [0,10000) pad b [32768,42768) pad c: both pads are 22768 bytes
mkdir -p "$W/hy-src/hybrid"
swarm_payload "$W/hy-src/hybrid/a" 10000
swarm_payload "$W/hy-src/hybrid/b" 10000
swarm_payload "$W/hy-src/hybrid/c" 5000
/usr/bin/python3 "$ZORVIK_SOURCE/tests/storage/cli_check_make.py" "$W/hy-src/hybrid" "$W/hybrid.torrent" 32768 hybrid >/dev/null
/usr/bin/python3 - "$W/hybrid.torrent" <<'EOP' || fail "the hybrid torrent has no colliding pad paths"
import collections, sys, libtorrent as lt
fs = lt.torrent_info(sys.argv[1]).files()
pads = [fs.file_path(i) for i in range(fs.num_files()) if fs.file_flags(i) & lt.file_storage.flag_pad_file]
sys.exit(0 if len(pads) >= 2 and max(collections.Counter(pads).values()) >= 2 else 1)
EOP
swarm_seed HSEED "$W/hybrid.torrent" "$W/hy-src" 6883
mkdir -p "$W/hy"
run hybrid hy -ut0 --peer 127.0.0.1:6883 "$W/hybrid.torrent" "$W/hy"
for f in a b c; do cmp "$W/hy-src/hybrid/$f" "$W/hy/hybrid/$f" || fail "hybrid/$f differs"; done
[ ! -e "$W/hy/hybrid/.pad" ] || fail "a .pad folder was created"
# info shows the whole layout, padding marked as such.
out=$("$CLI" info "$W/hybrid.torrent")
[ "$(grep -c "padding, path hybrid/\.pad/" <<<"$out")" = 3 ] || fail "info does not mark the pad files: $out"
echo PASS
