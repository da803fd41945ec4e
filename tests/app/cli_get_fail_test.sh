#!/usr/bin/env bash
# zorvik-cli get refuses what it cannot do with a clear message and a non-zero status:
# bad arguments (1), an invalid (2) or missing (3) .torrent, the same torrent twice (4), too
# little space on a small tmpfs (5), files another zorvik-cli holds (6), no listening port
# left (9), no network (11). A taken port is not a failure: the next free one is used.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK

# Runs zorvik-cli get and checks its status and that its output holds a text.
expect() { # status text args...
  local want=$1 text=$2 rc=0 out
  shift 2
  out=$(timeout 20 "$CLI" get -noupnp "$@" 2>&1) || rc=$?
  [ "$rc" = "$want" ] || fail "get $* gave $rc, want $want: $out"
  grep -qF -- "$text" <<<"$out" || fail "get $* does not say '$text': $out"
}

swarm_payload "$W/src/small.bin" $((1024 * 1024))
swarm_make "$W/src/small.bin" "$W/small.torrent" 262144 >/dev/null
swarm_payload "$W/src/eight.bin" $((8 * 1024 * 1024))
swarm_make "$W/src/eight.bin" "$W/eight.torrent" 262144 >/dev/null
mkdir -p "$W/out"

# --- arguments
expect 1 "no .torrent file given"
expect 1 "no .torrent file given" "$W/out"
expect 1 "unknown option '-x'" -x "$W/small.torrent"
expect 1 "-us takes its value attached, as in -us30" -us 30 "$W/small.torrent"
expect 1 "not an IPv4 address and port" --peer localhost:1 "$W/small.torrent"
expect 1 "is not a folder" "$W/small.torrent" "$W/missing"
"$CLI" get --help | grep -q -- "--peer IP:PORT" || fail "get --help does not list --peer"

# --- torrents that cannot be opened
printf 'd4:infoi3ee' >"$W/bad.torrent"
expect 2 "打开文件出错! $W/bad.torrent: invalid torrent" "$W/bad.torrent" "$W/out"
expect 3 "打开文件出错! $W/none.torrent" "$W/none.torrent" "$W/out"
expect 4 "打开文件出错! $W/small.torrent" -ut0 "$W/small.torrent" "$W/small.torrent" "$W/src"

# --- too little space: 8 MiB into a 1 MiB tmpfs of a private mount namespace
mkdir -p "$W/tiny"
rc=0
out=$(unshare -m bash -c "mount -t tmpfs -o size=1m tmpfs '$W/tiny' && timeout 20 '$CLI' get -noupnp '$W/eight.torrent' '$W/tiny'" 2>&1) || rc=$?
[ "$rc" = 5 ] || fail "too little space gave $rc, want 5: $out"
grep -q "free" <<<"$out" || fail "too little space is not explained: $out"
[ -z "$(ls -A "$W/tiny")" ] || fail "files left on the full disk's mount point"

# --- files in use: a seeding copy holds the content, a second copy (own data folder) cannot open it
cli_get_bg holder holder -ut10 "$W/small.torrent" "$W/src"
wait_until 20 grep -q "\[seeding\]" "$W/holder.log" || fail "holder does not seed: $(cat "$W/holder.log")"
rc=0
out=$(ZORVIK_HOME="$W/home-other" timeout 20 "$CLI" get -noupnp "$W/small.torrent" "$W/src" 2>&1) || rc=$?
[ "$rc" = 6 ] || fail "files in use gave $rc, want 6: $out"
grep -q "small.bin.* is in use by another program" <<<"$out" || fail "files in use is not explained: $out"

# --- ports: a taken port moves the listener up; with no free port left it fails
port=$(cli_port holder)
mkdir -p "$W/src2"
cp "$W/src/small.bin" "$W/src2/"
cli_get_bg next next -ut0 "-port$port" "$W/small.torrent" "$W/src2"
wait_exit "$next_pid" 20 rc
[ "$rc" = 0 ] || fail "a run on a taken port gave $rc: $(cat "$W/next.log")"
[ "$(cli_port next)" = $((port + 1)) ] || fail "not on the next port after $port: $(cat "$W/next.log")"
kill -TERM "$holder_pid"
wait_exit "$holder_pid" 5 rc

/usr/bin/python3 -c '
import socket, sys, time
s = socket.socket()
s.bind(("0.0.0.0", 65534))
s.listen()
print("held", flush=True)
time.sleep(60)' >"$W/hold.log" &
hold_pid=$!
wait_until 10 grep -q held "$W/hold.log" || fail "could not hold port 65534"
expect 9 "监听端口绑定失败!" -port65534 "$W/small.torrent" "$W/src"
kill "$hold_pid"

# --- no network: no route to the probe address
rc=0
out=$(ZORVIK_PROBE_ADDRESS=192.0.2.1 timeout 20 "$CLI" get -noupnp "$W/small.torrent" "$W/src" 2>&1) || rc=$?
[ "$rc" = 11 ] || fail "no network gave $rc, want 11: $out"
grep -q "网络没有连接" <<<"$out" || fail "no network is not explained: $out"
echo "PASS"
