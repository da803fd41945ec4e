#!/usr/bin/env bash
# zorvik-cli check over data and .torrent files made by real tools (mktorrent, libtorrent):
# complete data checks complete, a flipped byte costs exactly the piece that holds it,
# a check creates, extends and allocates nothing (missing and short files are named), failures
# give the add result and leave nothing behind.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
"$CLI" --help | grep -q "check \[--fast\] FILE.torrent SAVE_FOLDER" || fail "--help does not list check"
W=$SANDBOX_WORK
# Scratch folders of the check go here, so we can see that none is left.
export TMPDIR="$W/tmp"
mkdir -p "$TMPDIR"
ANNOUNCE=http://127.0.0.1:6969/announce

has_line() { grep -qxF -- "$2" <<<"$1" || fail "expected line '$2' in:
$1"; }
no_scratch_left() { [ -z "$(ls -A "$TMPDIR")" ] || fail "scratch left behind: $(ls -A "$TMPDIR")"; }
flip_byte() { # file offset
  local b
  b=$(dd if="$1" bs=1 skip="$2" count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
  printf "$(printf '\\%03o' $(( b ^ 1 )))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# --- single file by mktorrent, short last piece (300001 = 4 x 65536 + 37857)
mkdir -p "$W/s"
head -c 300001 /dev/urandom > "$W/s/one.bin"
mktorrent -l 16 -a $ANNOUNCE -o "$W/one.torrent" "$W/s/one.bin" >/dev/null
out=$("$CLI" check --fast "$W/one.torrent" "$W/s")
has_line "$out" "pieces present: 5/5"
has_line "$out" "bytes present: 300001/300001"
has_line "$out" "complete: one.bin"
flip_byte "$W/s/one.bin" 300000
out=$("$CLI" check --fast "$W/one.torrent" "$W/s")
has_line "$out" "pieces present: 4/5"
has_line "$out" "bytes present: 262144/300001"
has_line "$out" "incomplete: one.bin"
no_scratch_left

# --- many files by mktorrent (sorted a, b, c, d/e), 32 KiB pieces:
# a [0,100000) b [100000,103000) c [103000,173000) d/e [173000,185345);
# piece 3 [98304,131072) spans a, b and c; 6 pieces, the last 21505 bytes.
mkdir -p "$W/m/multi/d"
head -c 100000 /dev/urandom > "$W/m/multi/a.bin"
head -c 3000 /dev/urandom > "$W/m/multi/b.bin"
head -c 70000 /dev/urandom > "$W/m/multi/c.bin"
head -c 12345 /dev/urandom > "$W/m/multi/d/e.bin"
mktorrent -l 15 -a $ANNOUNCE -o "$W/multi.torrent" "$W/m/multi" >/dev/null
out=$("$CLI" check --fast "$W/multi.torrent" "$W/m")
has_line "$out" "pieces present: 6/6"
has_line "$out" "bytes present: 185345/185345"
has_line "$out" "files complete: 4/4"
# The paced check (the default) gives the same answer.
paced=$("$CLI" check "$W/multi.torrent" "$W/m")
[ "$paced" = "$out" ] || fail "paced and fast checks differ"
flip_byte "$W/m/multi/b.bin" 1000   # byte 101000: piece 3 only
out=$("$CLI" check --fast "$W/multi.torrent" "$W/m")
has_line "$out" "pieces present: 5/6"
has_line "$out" "bytes present: 152577/185345"
has_line "$out" "incomplete: multi/a.bin"
has_line "$out" "incomplete: multi/b.bin"
has_line "$out" "incomplete: multi/c.bin"
has_line "$out" "complete: multi/d/e.bin"
flip_byte "$W/m/multi/b.bin" 1000   # repaired
flip_byte "$W/m/multi/d/e.bin" 12344 # the last byte: the last piece only
out=$("$CLI" check --fast "$W/multi.torrent" "$W/m")
has_line "$out" "pieces present: 5/6"
has_line "$out" "bytes present: 163840/185345"
has_line "$out" "complete: multi/a.bin"
has_line "$out" "incomplete: multi/d/e.bin"
no_scratch_left

# --- libtorrent, v1 and hybrid (with pad files) torrents of the same folder
mkdir -p "$W/l/lt/x"
head -c 70000 /dev/urandom > "$W/l/lt/big"
head -c 100 /dev/urandom > "$W/l/lt/x/tiny"
head -c 40000 /dev/urandom > "$W/l/lt/mid"
for kind in v1 hybrid; do
  /usr/bin/python3 "$ZORVIK_SOURCE/tests/storage/cli_check_make.py" "$W/l/lt" "$W/lt-$kind.torrent" 16384 $kind > "$W/lt-$kind.files"
  out=$("$CLI" check --fast "$W/lt-$kind.torrent" "$W/l")
  n=$(wc -l < "$W/lt-$kind.files")
  has_line "$out" "files complete: $n/$n"
  grep -q "^pieces present: \([0-9]*\)/\1$" <<<"$out" || fail "$kind torrent not complete: $out"
done
no_scratch_left

# --- a file choice: only the first and last file of the v1 torrent, in an empty folder.
# The choice lives in the data folder until the torrent's folder exists.
first=$(sed -n 1p "$W/lt-v1.files" | cut -d' ' -f1 | cut -d/ -f2-)
middle=$(sed -n 2p "$W/lt-v1.files" | cut -d' ' -f1 | cut -d/ -f2-)
last=$(sed -n 3p "$W/lt-v1.files" | cut -d' ' -f1 | cut -d/ -f2-)
printf '\x03\x00\x00\x00\x05' > "$ZORVIK_HOME/lt.ZRV"
mkdir -p "$W/empty"
out=$("$CLI" check --fast "$W/lt-v1.torrent" "$W/empty")
has_line "$out" "unselected: lt/$middle"
has_line "$out" "missing: lt/$first"
has_line "$out" "missing: lt/$last"
grep -q "^pieces present: 0/" <<<"$out" || fail "pieces found in an empty folder: $out"
[ -z "$(ls -A "$W/empty")" ] || fail "the check changed the empty folder: $(find "$W/empty")"
rm "$ZORVIK_HOME/lt.ZRV"

# --- a short file is named and left as it is; nothing is allocated
mkdir -p "$W/short/multi/d"
cp "$W/m/multi/a.bin" "$W/m/multi/b.bin" "$W/short/multi/"
head -c 50000 "$W/m/multi/c.bin" > "$W/short/multi/c.bin"
before=$(find "$W/short" -printf '%p %s %b\n' | sort)
out=$("$CLI" check --fast "$W/multi.torrent" "$W/short")
has_line "$out" "complete: multi/a.bin"
has_line "$out" "short (50000 of 70000 bytes): multi/c.bin"
has_line "$out" "missing: multi/d/e.bin"
# a [0,100000) b [100000,103000) c [103000,173000): pieces 0-2 whole, 3 needs b and c's start,
# 4 [131072,163840) ends past c's 50000 bytes on disk (at 153000).
has_line "$out" "pieces present: 4/6"
after=$(find "$W/short" -printf '%p %s %b\n' | sort)
[ "$before" = "$after" ] || fail "the check changed the folder:
$before
---
$after"
no_scratch_left

# --- failures: the add result as status and message, nothing left behind
set +e
"$CLI" check "$W/none.torrent" "$W/s" 2>"$W/err"; rc=$?
[ $rc -eq 3 ] && grep -q "the .torrent file cannot be opened" "$W/err" || fail "missing .torrent: status $rc"
printf 'd4:infoi1ee' > "$W/bad.torrent"
"$CLI" check "$W/bad.torrent" "$W/s" 2>"$W/err"; rc=$?
[ $rc -eq 2 ] && grep -q "invalid torrent" "$W/err" || fail "invalid torrent: status $rc"
# A content file held by another program (flock), and a save folder under a regular file.
exec 9<"$W/m/multi/c.bin"
flock -x 9
"$CLI" check --fast "$W/multi.torrent" "$W/m" 2>"$W/err"; rc=$?
exec 9<&-
[ $rc -eq 6 ] && grep -q "multi/c.bin' is in use by another program" "$W/err" || fail "locked file: status $rc $(cat "$W/err")"
"$CLI" check --fast "$W/multi.torrent" "$W/s/one.bin" 2>"$W/err"; rc=$?
[ $rc -eq 6 ] && grep -q "one.bin': Not a directory" "$W/err" || fail "save folder under a file: status $rc $(cat "$W/err")"
"$CLI" check "$W/multi.torrent" 2>/dev/null; rc=$?
[ $rc -eq 1 ] || fail "usage: status $rc"
set -e
no_scratch_left
echo "cli_check: ok"
