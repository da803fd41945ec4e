# Transmission peers for script tests: one transmission-daemon per call of tr_start, with
# its own configuration folder, listening and answering RPC on 127.0.0.1 only, without
# DHT, local peer discovery, peer exchange, uTP, port mapping or encryption. Source it
# after sandbox.sh and swarm.sh.

# Starts a daemon; NAME names its folder and log. Peer port PORT, RPC port PORT + 1000,
# upload limit KB/s (none when not given).
tr_start() { # name port [upload_limit]
  local dir="$SANDBOX_WORK/tr-$1"
  mkdir -p "$dir/config" "$dir/downloads"
  cat >"$dir/config/settings.json" <<JSON
{
  "bind-address-ipv4": "127.0.0.1",
  "bind-address-ipv6": "::1",
  "dht-enabled": false,
  "download-dir": "$dir/downloads",
  "encryption": 0,
  "incomplete-dir-enabled": false,
  "lpd-enabled": false,
  "message-level": 2,
  "peer-limit-global": 200,
  "peer-limit-per-torrent": 60,
  "peer-port": $2,
  "peer-port-random-on-start": false,
  "pex-enabled": false,
  "port-forwarding-enabled": false,
  "ratio-limit-enabled": false,
  "rpc-authentication-required": false,
  "rpc-bind-address": "127.0.0.1",
  "rpc-port": $(($2 + 1000)),
  "rpc-whitelist-enabled": false,
  "rpc-host-whitelist-enabled": false,
  "speed-limit-down-enabled": false,
  "speed-limit-up": ${3:-0},
  "speed-limit-up-enabled": $([ -n "${3:-}" ] && echo true || echo false),
  "start-added-torrents": true,
  "utp-enabled": false,
  "watch-dir-enabled": false
}
JSON
  transmission-daemon -f -g "$dir/config" --logfile "$dir/log" >"$dir/out" 2>&1 &
  printf -v "TR_PID_$1" '%s' $!
  printf -v "TR_RPC_$1" '%s' $(($2 + 1000))
  wait_until 10 tr_remote "$1" -l >/dev/null 2>&1 || fail "transmission-daemon $1 did not start: $(cat "$dir/out" "$dir/log")"
}

tr_remote() { # name args...
  local var="TR_RPC_$1"
  shift
  transmission-remote "127.0.0.1:${!var}" "$@"
}

# Adds a torrent whose data is (or is to be) in FOLDER.
tr_add() { # name torrent folder
  tr_remote "$1" -a "$2" -w "$3" >/dev/null || fail "transmission $1 did not take $2"
}

# Payload bytes the daemon's first torrent has sent ("None" before any).
tr_uploaded() { # name
  tr_remote "$1" -t 1 -i | sed -n 's/^ *Uploaded: *//p'
}

# The percent done of the daemon's first torrent ("100%" when complete).
tr_done() { # name
  tr_remote "$1" -t 1 -i | sed -n 's/^ *Percent Done: *//p'
}

# Waits until the daemon's first torrent is complete; fails after the given seconds.
tr_wait_complete() { # name seconds
  wait_until "$2" tr_is_complete "$1"
}

tr_is_complete() { [ "$(tr_done "$1")" = "100%" ]; }

# A seeder: the daemon checks the data in FOLDER, then serves it.
tr_seed() { # name port torrent folder [upload_limit]
  tr_start "$1" "$2" "${5:-}"
  tr_add "$1" "$3" "$4"
  tr_remote "$1" -t 1 -v >/dev/null
  tr_wait_complete "$1" 60 || fail "transmission $1 did not verify its data: $(tr_remote "$1" -t 1 -i)"
}
