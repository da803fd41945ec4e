#!/usr/bin/env bash
# zorvik-cli get interrupted in the middle of a download:
# - killed with SIGKILL (no tracker; the libtorrent seeder is given with --peer), started
#   again: it goes on from the piece-state file without checking the data, and the result
#   is byte for byte the payload. The first run has a terminal, so its progress line is
#   redrawn in place.
# - stopped with SIGTERM (through opentracker): it ends within 5 s with status 8, the
#   tracker has seen its "stopped" announce, and its piece-state file is consistent (the
#   next run resumes from it and the result is correct).
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK

# Completion of the first torrent in the last progress line of a log (integer percent).
completion() { # log
  local p
  p=$(tr '\r' '\n' <"$1" | sed -n 's/.*完成度 \([0-9]*\)\.[0-9]*%.*/\1/p' | tail -n 1)
  echo "${p:-0}"
}
at_least() { [ "$(completion "$1")" -ge "$2" ]; }
# "N" of the "N/M pieces present" a run printed when it opened its torrent.
present_at_start() { sed -n 's/.*; \([0-9]*\)\/[0-9]* pieces present$/\1/p' "$1" | head -n 1; }

swarm_payload "$W/src/data.bin" $((32 * 1024 * 1024))
# Nothing answers at this torrent's tracker: the runs find the seeder through --peer only.
/usr/bin/python3 "$SWARM_PY" make "$W/src/data.bin" "$W/direct.torrent" 262144 http://127.0.0.1:9/announce >/dev/null
swarm_seed SEED1 "$W/direct.torrent" "$W/src" 6881

# --- 1. SIGKILL at about a third, on a terminal (4 MiB/s: 8 s for the whole payload)
mkdir -p "$W/k"
ZORVIK_HOME="$W/home-k" script -qfec "exec $CLI get -noupnp -ds4096 -ut0 --peer 127.0.0.1:6881 $W/direct.torrent $W/k" \
  "$W/k1.log" >/dev/null 2>&1 &
script_pid=$!
mkdir -p "$W/home-k"
cp "$ZORVIK_HOME/trackerFavorite.txt" "$W/home-k/"
wait_until 30 at_least "$W/k1.log" 30 || fail "no progress: $(cat "$W/k1.log")"
# `script` runs the command through $SHELL (or /bin/sh when unset), which may fork
# instead of exec; the command says exec, and the PID namespace holds only this run.
cli_pid=$(pgrep -x zorvik-cli) || fail "zorvik-cli not running: $(ps -ef; cat "$W/k1.log")"
kill -KILL "$cli_pid"
wait "$script_pid" 2>/dev/null || true
killed_at=$(completion "$W/k1.log")
grep -qF $'\033[1F\033[J' "$W/k1.log" || fail "progress line not redrawn on a terminal"
[ "$killed_at" -lt 100 ] || fail "download finished before the kill"

t0=$(now_ms)
cli_get_bg k2 k -ut0 --peer 127.0.0.1:6881 "$W/direct.torrent" "$W/k"
wait_exit "$k2_pid" 40 rc
[ "$rc" = 0 ] || fail "resumed run ended with $rc: $(cat "$W/k2.log")"
present=$(present_at_start "$W/k2.log")
echo "killed at ${killed_at}%; resumed with $present/128 pieces present, done in $(($(now_ms) - t0)) ms"
[ -n "$present" ] && [ "$present" -gt 0 ] || fail "resume did not start from the piece-state file: $(cat "$W/k2.log")"
! grep -q "checking" "$W/k2.log" || fail "resume checked the data: $(cat "$W/k2.log")"
cmp "$W/src/data.bin" "$W/k/data.bin" || fail "resumed download differs"
kill "$SEED1"

# --- 2. SIGTERM at about a third, through opentracker
swarm_payload "$W/src2/data.bin" $((32 * 1024 * 1024))
HASH=$(swarm_make "$W/src2/data.bin" "$W/tracked.torrent" 262144)
swarm_tracker_start "$HASH"
swarm_seed SEED2 "$W/tracked.torrent" "$W/src2" 6882
mkdir -p "$W/t"
cli_get_bg t t -ds4096 -ut0 "$W/tracked.torrent" "$W/t"
wait_until 30 at_least "$W/t.log" 30 || fail "no progress: $(cat "$W/t.log")"
read -r _ leechers _ <<<"$(swarm_scrape "$HASH")"
[ "$leechers" = 1 ] || fail "the tracker does not count the download ($leechers leechers)"
t0=$(now_ms)
kill -TERM "$t_pid"
wait_exit "$t_pid" 5 rc
[ "$rc" = 8 ] || fail "SIGTERM gave $rc, want 8 within 5 s: $(cat "$W/t.log")"
echo "stopped $(($(now_ms) - t0)) ms after SIGTERM at $(completion "$W/t.log")%"
read -r _ leechers _ <<<"$(swarm_scrape "$HASH")"
[ "$leechers" = 0 ] || fail "the tracker did not see the stopped announce ($leechers leechers)"
[ -f "$W/home-t/$HASH" ] || fail "no piece-state file $HASH in the data folder"

cli_get_bg t2 t -ut0 "$W/tracked.torrent" "$W/t"
wait_exit "$t2_pid" 40 rc
[ "$rc" = 0 ] || fail "run after SIGTERM ended with $rc: $(cat "$W/t2.log")"
present=$(present_at_start "$W/t2.log")
[ -n "$present" ] && [ "$present" -gt 0 ] || fail "no pieces kept after SIGTERM: $(cat "$W/t2.log")"
! grep -q "checking" "$W/t2.log" || fail "the run after SIGTERM checked the data"
cmp "$W/src2/data.bin" "$W/t/data.bin" || fail "download after SIGTERM differs"
echo "PASS"
