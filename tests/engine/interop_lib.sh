# Helpers for the interop scripts (sourced after sandbox.sh).
PY=/usr/bin/python3
DRIVER="$ZORVIK_BUILD/tests/engine/engine_peer_driver"
lt() { "$PY" "$ZORVIK_SOURCE/tests/engine/lt_peer.py" "$@"; }
# A libtorrent peer in the background: the job is the peer process itself, so the
# sandbox's clean-up (and `kill %n`) reaches it.
start_lt() { "$PY" "$ZORVIK_SOURCE/tests/engine/lt_peer.py" "$@" & }
driver() { "$DRIVER" --quiet "$@"; }

# Waits for a port file written by lt_peer.py and prints the port.
wait_port() {
  for _ in $(seq 1 200); do
    [ -s "$1" ] && { cat "$1"; return 0; }
    sleep 0.05
  done
  fail "no port in $1"
}

# Starts the driver in the background with its output in $1.
start_driver() {
  local out="$1"; shift
  "$DRIVER" --quiet "$@" > "$out" &
}

# The port a background driver listens on (its first output line).
driver_port() {
  for _ in $(seq 1 200); do
    if grep -q '^port ' "$1" 2>/dev/null; then
      sed -n 's/^port //p' "$1" | head -1
      return 0
    fi
    sleep 0.05
  done
  fail "the driver did not start"
}

# Stops every background peer of the script and waits for it, so the sandbox's clean-up
# finds nothing left (its kill of a finished job would fail the script).
finish() {
  local pids
  pids=$(jobs -p)
  [ -z "$pids" ] || kill $pids 2>/dev/null || true
  wait 2>/dev/null || true
}
