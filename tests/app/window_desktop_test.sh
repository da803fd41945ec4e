#!/usr/bin/env bash
# The window on a real X server: Xvfb with trayer as the tray host, inside this script's
# network namespace. Screenshots go to the build folder's test-artefacts/.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
set -eu
command -v Xvfb >/dev/null && command -v trayer >/dev/null || { echo "no Xvfb or trayer"; exit 77; }
# Xvfb picks a free display itself and writes its number once it accepts clients.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x600x24 -nolisten tcp >"$SANDBOX_WORK/xvfb.log" 2>&1 &
XVFB=$!
read -r -t 20 number <&"$display_fd" || { echo "Xvfb did not start: $(cat "$SANDBOX_WORK/xvfb.log")"; exit 1; }
export DISPLAY=:$number
export ZORVIK_TRAYER_ARGS="--edge top --align right --widthtype request --height 24 --SetDockType true"
# shellcheck disable=SC2086
trayer $ZORVIK_TRAYER_ARGS >"$SANDBOX_WORK/trayer.log" 2>&1 &
export ZORVIK_TRAYER_PIDFILE="$SANDBOX_WORK/trayer.pid"
echo $! >"$ZORVIK_TRAYER_PIDFILE"
export ZORVIK_ARTEFACTS="$ZORVIK_BUILD/test-artefacts"
mkdir -p "$ZORVIK_ARTEFACTS"
export ZORVIK_DESKTOP_TEST=1 QT_QPA_PLATFORM=xcb
# In a sanitizer build: the D-Bus library the xcb platform loads leaks at exit, not our code.
export LSAN_OPTIONS="suppressions=$ZORVIK_SOURCE/tests/app/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
"$ZORVIK_BUILD/tests/app/app_window_tests" --gtest_filter='WindowDesktop.*' || status=$?

# The program itself on this display: no OpenGL implementation is loaded, and SIGTERM
# ends it with status 0 and its hand-over socket gone.
if [ $status -eq 0 ]; then
  export XDG_RUNTIME_DIR="$SANDBOX_WORK/run"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
  "$ZORVIK_BUILD/src/app/zorvik" -noupnp >"$SANDBOX_WORK/zorvik.log" 2>&1 &
  zorvik=$!
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/zorvik/copy-$zorvik" ] && break; sleep 0.1; done
  [ -S "$XDG_RUNTIME_DIR/zorvik/copy-$zorvik" ] || fail "no hand-over socket: $(cat "$SANDBOX_WORK/zorvik.log")"
  sleep 1
  gl=$(grep -oE '[^/ ]*(mesa|dri|gallium|swrast|GLX_|EGL_|nvidia)[^ ]*' "/proc/$zorvik/maps" | sort -u || true)
  [ -z "$gl" ] || fail "OpenGL implementation mapped: $gl"
  kill -TERM "$zorvik"
  rc=0; wait "$zorvik" || rc=$?
  [ $rc -eq 0 ] || fail "SIGTERM ended zorvik with $rc: $(cat "$SANDBOX_WORK/zorvik.log")"
  [ ! -e "$XDG_RUNTIME_DIR/zorvik/copy-$zorvik" ] || fail "the hand-over socket stayed"
  echo "zorvik: no OpenGL implementation mapped; SIGTERM ends it cleanly"
fi
kill "$(cat "$ZORVIK_TRAYER_PIDFILE")" "$XVFB" 2>/dev/null || true
exit $status
