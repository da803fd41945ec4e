# Swarm helpers for script tests: a loopback opentracker, libtorrent seeders and leechers,
# random payloads and torrents, and zorvik-cli runs in the background. Source it after
# sandbox.sh (everything here runs inside the sandbox's network namespace):
#   source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
#   source "$ZORVIK_SOURCE/tests/support/swarm.sh"
SWARM_PY="$ZORVIK_SOURCE/tests/support/swarm_peer.py"
SWARM_TRACKER=http://127.0.0.1:6969/announce
SWARM_TRACKER_DIR="$SANDBOX_WORK/opentracker"

# Polls a command every 0.2 s until it succeeds; fails after the given seconds.
#   wait_until 10 test -f "$file"
wait_until() {
  local limit=$1 end
  shift
  end=$(($(date +%s%N) / 1000000 + limit * 1000))
  until "$@"; do
    [ $(($(date +%s%N) / 1000000)) -lt $end ] || return 1
    sleep 0.2
  done
}

# Milliseconds of the monotonic-enough wall clock, for timing a step.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Random bytes into a file (creates its folder).
swarm_payload() { # file bytes
  mkdir -p "$(dirname "$1")"
  head -c "$2" /dev/urandom >"$1"
}

# The scripted wire-protocol peer (seeder, flood) of the script tests.
WIRE_PEER_PY="$ZORVIK_SOURCE/tests/support/wire_peer.py"

# A payload of random bytes at $SANDBOX_WORK/src/big.bin and its torrent big.torrent
# (256 KiB pieces), for tests that give their peers directly: no tracker, no favourites.
swarm_direct_payload() { # bytes
  swarm_payload "$SANDBOX_WORK/src/big.bin" "$1"
  swarm_make "$SANDBOX_WORK/src/big.bin" "$SANDBOX_WORK/big.torrent" 262144 >/dev/null
  : >"$ZORVIK_HOME/trackerFavorite.txt"
}

# A v1 torrent of a file or folder announcing to the loopback tracker; prints its info-hash.
swarm_make() { # root out.torrent piece_size
  /usr/bin/python3 "$SWARM_PY" make "$1" "$2" "$3" "$SWARM_TRACKER"
}

# Starts opentracker on 127.0.0.1:6969 serving the given info-hashes (Debian's opentracker
# serves only torrents on its list) and waits until it answers.
swarm_tracker_start() { # hash...
  mkdir -p "$SWARM_TRACKER_DIR"
  chmod 755 "$SWARM_TRACKER_DIR"
  : >"$SWARM_TRACKER_DIR/whitelist"
  local h
  for h in "$@"; do echo "$h" >>"$SWARM_TRACKER_DIR/whitelist"; done
  chmod 644 "$SWARM_TRACKER_DIR/whitelist"
  # It changes its root to its folder, so the list is named from there.
  opentracker -i 127.0.0.1 -p 6969 -P 6969 -d "$SWARM_TRACKER_DIR" -w /whitelist \
    >"$SWARM_TRACKER_DIR/log" 2>&1 &
  SWARM_TRACKER_PID=$!
  local probe="$SWARM_TRACKER?info_hash=%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00%00"
  wait_until 10 curl -s --noproxy '*' -o /dev/null "$probe" || fail "opentracker did not start"
}

# "complete incomplete downloaded" of a torrent as the tracker counts them.
swarm_scrape() { # hash
  /usr/bin/python3 "$SWARM_PY" scrape "$SWARM_TRACKER" "$1"
}

# A libtorrent seeder in the background; waits until it serves. Its pid goes to the variable
# named by the first argument.
swarm_seed() { # pid_var torrent save_dir port [--peer ip:port]...
  local _var=$1 _log="$SANDBOX_WORK/seed-$4.log"
  shift
  /usr/bin/python3 -u "$SWARM_PY" seed "$@" >"$_log" 2>&1 &
  printf -v "$_var" '%s' $!
  wait_until 30 grep -q seeding "$_log" || fail "libtorrent seeder did not start: $(cat "$_log")"
}

# A libtorrent leecher in the foreground: returns 0 once it holds the whole torrent.
swarm_leech() { # torrent save_dir port [--peer ip:port]... [--timeout s]
  /usr/bin/python3 -u "$SWARM_PY" leech "$@"
}

# zorvik-cli get in the background, output to NAME.log; its pid goes to the variable
# NAME_pid. Runs given the same HOME share a data folder (piece-state files of single-file
# torrents live there), other runs are separate copies. Every run has -noupnp.
cli_get_bg() { # name home args...
  local _name=$1 _home="$SANDBOX_WORK/home-$2"
  shift 2
  mkdir -p "$_home"
  cp "$ZORVIK_HOME/trackerFavorite.txt" "$_home/"
  ZORVIK_HOME="$_home" "$CLI" get -noupnp "$@" >"$SANDBOX_WORK/$_name.log" 2>&1 &
  printf -v "${_name}_pid" '%s' $!
}

# The listening port a zorvik-cli run reported in its log.
cli_port() { # name
  sed -n 's/.*(listening on port \([0-9]*\)).*/\1/p' "$SANDBOX_WORK/$1.log" | head -n 1
}

# Waits for a background process to end; its exit status goes to the variable named by the
# third argument (124 when it still runs after the limit).
wait_exit() { # pid seconds var
  local _end=$(($(now_ms) + $2 * 1000)) _status=0
  while kill -0 "$1" 2>/dev/null; do
    [ "$(now_ms)" -lt $_end ] || { printf -v "$3" '%s' 124; return; }
    sleep 0.1
  done
  wait "$1" || _status=$?
  printf -v "$3" '%s' $_status
}
