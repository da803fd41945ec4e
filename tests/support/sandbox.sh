# Sourced by every script test that runs the program or a peer. It re-runs the calling
# script inside a new network namespace with only loopback up, and gives it a fresh
# ZORVIK_HOME, so nothing ever leaves the machine or touches the real home folder.
#   source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
# Network namespaces need root: anyone else gets the test skipped (status 77, which every
# script test registers as its skip code), never a failure.
if [ -z "${ZORVIK_IN_SANDBOX:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: the test's network namespace needs root"; exit 77; }
  export ZORVIK_IN_SANDBOX=1
  # A PID namespace too: when the script ends, every process it started ends with it,
  # so a stray peer can never hold the test runner's output open.
  exec unshare --net --pid --fork --mount-proc bash "$0" "$@"
fi
ip link set lo up
export ZORVIK_PROBE_ADDRESS=127.0.0.1
export ZORVIK_HOME="$(mktemp -d /tmp/zorvik-home-XXXXXX)"
export XDG_DATA_HOME="$ZORVIK_HOME/xdg-data" XDG_CONFIG_HOME="$ZORVIK_HOME/xdg-config"
export HOME="$ZORVIK_HOME"
printf 'http://127.0.0.1:6969/announce\r\n' > "$ZORVIK_HOME/trackerFavorite.txt"
SANDBOX_WORK="$(mktemp -d /tmp/zorvik-work-XXXXXX)"
sandbox_cleanup() {
  jobs -p | xargs -r kill 2>/dev/null
  rm -rf "$ZORVIK_HOME" "$SANDBOX_WORK"
}
trap sandbox_cleanup EXIT
CLI="$ZORVIK_BUILD/src/app/zorvik-cli"
fail() { echo "FAIL: $*" >&2; exit 1; }
