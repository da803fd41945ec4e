#!/usr/bin/env bash
# The window's figures, in one run with one method, under Xvfb with trayer as the tray:
# warm start to a shown window, idle memory and wake-ups with no task and with one task
# seeding (no peers), peak memory while a 1 GiB task is checked, and whether an OpenGL
# implementation is mapped. Runs in its own network namespace like the tests.
#   bench/window_figures.sh [BUILD_FOLDER]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export ZORVIK_SOURCE=$here
export ZORVIK_BUILD=$(cd "${1:-$here/build}" && pwd)
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
ZORVIK=$ZORVIK_BUILD/src/app/zorvik
W=$SANDBOX_WORK
export XDG_RUNTIME_DIR=$W/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# Xvfb picks a free display itself and writes its number once it accepts clients.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x600x24 -nolisten tcp >"$SANDBOX_WORK/xvfb.log" 2>&1 &
XVFB=$!
read -r -t 20 number <&"$display_fd" || { echo "Xvfb did not start: $(cat "$SANDBOX_WORK/xvfb.log")"; exit 1; }
export DISPLAY=:$number
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$W/trayer.log" 2>&1 &
sleep 0.5

status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
switches() { # all threads, voluntary + involuntary
  local total=0 f
  for f in /proc/"$1"/task/*/status; do
    total=$((total + $(awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { s += $2 } END { print s }' "$f" 2>/dev/null || echo 0)))
  done
  echo "$total"
}
wakeups() { # pid seconds
  local a b
  a=$(switches "$1"); sleep "$2"; b=$(switches "$1")
  awk -v d=$((b - a)) -v s="$2" 'BEGIN { printf "%.2f", d / s }'
}
start_copy() { # home -> pid in COPY
  mkdir -p "$1/save"; cp "$ZORVIK_HOME/trackerFavorite.txt" "$1/"
  ZORVIK_HOME="$1" XDG_DOWNLOAD_DIR="$1/save" "$ZORVIK" -noupnp >"$1/out.log" 2>&1 &
  COPY=$!
  wait_until 20 xdotool search --name "Zorvik Mini Client" >/dev/null || fail "no window"
}
stop_copy() { kill -TERM "$1"; wait "$1" 2>/dev/null || true; }
hand_over() { # home torrent: a second copy hands the path over; the file dialog is closed
  ZORVIK_HOME="$1" XDG_DOWNLOAD_DIR="$1/save" "$ZORVIK" "$2" >/dev/null 2>&1 &
  local second=$!
  wait_until 20 xdotool search --onlyvisible --name "下载文件选择窗体" >/dev/null || fail "no file dialog"
  local dialog
  dialog=$(xdotool search --onlyvisible --name "下载文件选择窗体" | head -n 1)
  xdotool windowfocus "$dialog" >/dev/null 2>&1 || true
  xdotool key Escape
  wait "$second"
  # The task is in the registry as running (record 1, status 30 or 32 once complete).
  wait_until 20 registry_status_is "$1/Zorvik.dat" 30 32 || fail "the task did not start"
}
registry_status_is() { # file status...
  local s
  s=$(od -An -tu1 -j521 -N1 "$1" 2>/dev/null | tr -d ' ')
  for want in "${@:2}"; do [ "$s" = "$want" ] && return 0; done
  return 1
}

# 1. Warm start: five starts after one to fill the caches; the program prints when its
#    window is first painted.
home=$W/start
start_copy "$home"; stop_copy "$COPY"
mkdir -p "$home"
for i in 1 2 3 4 5; do
  rm -rf "$home/out.log"
  ZORVIK_HOME="$home" ZORVIK_TIMING=$(date +%s%N) "$ZORVIK" -noupnp >"$home/out.log" 2>&1 &
  pid=$!
  wait_until 10 grep -qs "window shown" "$home/out.log"
  sed -n 's/.*window shown \([0-9.]*\) s.*/\1/p' "$home/out.log"
  stop_copy "$pid"
done | sort -n | awk '{ v[NR] = $1 } END { printf "warm start to a shown window: median %.3f s (of %s: %.3f..%.3f)\n", v[3], NR, v[1], v[NR] }'

# 2. Idle with no task.
start_copy "$W/idle"
sleep 5
printf 'idle, no task: RSS %s kB, RssAnon %s kB, wake-ups %s/s\n' \
  "$(status_kb "$COPY" VmRSS)" "$(status_kb "$COPY" RssAnon)" "$(wakeups "$COPY" 20)"
gl=$(grep -oE '[^/ ]*(mesa|dri|gallium|swrast|GLX_|EGL_|nvidia|libGL\.so)[^ ]*' "/proc/$COPY/maps" | sort -u | tr '\n' ' ' || true)
stubs=$(grep -oE 'lib(OpenGL|GLX|EGL|GLdispatch)\.so[^ ]*' "/proc/$COPY/maps" | sort -u | tr '\n' ' ' || true)
echo "OpenGL implementations mapped: ${gl:-none} (dispatch stubs linked by Qt's own library: ${stubs:-none})"

# 3. One task seeding, no peers (64 MiB, complete on disk).
swarm_payload "$W/idle/save/seed.bin" $((64 * 1024 * 1024))
swarm_make "$W/idle/save/seed.bin" "$W/seed.torrent" 4194304 >/dev/null
hand_over "$W/idle" "$W/seed.torrent"
sleep 15
printf 'one task seeding, no peers: RSS %s kB, RssAnon %s kB, wake-ups %s/s\n' \
  "$(status_kb "$COPY" VmRSS)" "$(status_kb "$COPY" RssAnon)" "$(wakeups "$COPY" 20)"
steady=$(status_kb "$COPY" VmRSS)
stop_copy "$COPY"

# 4. Peak while a 1 GiB task is checked (its data is there, its piece-state file is not).
start_copy "$W/check"
swarm_payload "$W/check/save/big.bin" $((1024 * 1024 * 1024))
swarm_make "$W/check/save/big.bin" "$W/big.torrent" 4194304 >/dev/null
sleep 3
before=$(status_kb "$COPY" VmRSS)
hand_over "$W/check" "$W/big.torrent"
peak=0
for _ in $(seq 450); do
  r=$(status_kb "$COPY" VmRSS); [ "$r" -gt "$peak" ] && peak=$r
  sleep 0.1
done
printf '1 GiB check: RSS before %s kB, peak %s kB (VmHWM %s kB), steady seeding figure %s kB\n' \
  "$before" "$peak" "$(status_kb "$COPY" VmHWM)" "$steady"
stop_copy "$COPY"
