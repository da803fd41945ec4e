# aria2 peers for script tests: aria2c on 127.0.0.1 only, without DHT, local peer
# discovery, peer exchange or IPv6. Source it after sandbox.sh and swarm.sh.
ARIA2_OPTS=(--enable-dht=false --enable-dht6=false --bt-enable-lpd=false --enable-peer-exchange=false
  --disable-ipv6=true --file-allocation=none --console-log-level=warn --summary-interval=1
  --bt-stop-timeout=0 --check-certificate=false --no-conf=true)

# A seeder in the background serving the data in FOLDER (trusted, not checked), with an
# upload limit when given (aria2's form: 1500K); its pid goes to the variable named first.
# Its readout (uploaded totals) goes to aria2-PORT.log.
aria2_seed() { # pid_var torrent folder port [upload_limit]
  local _var=$1
  aria2c "${ARIA2_OPTS[@]}" --dir="$3" --listen-port="$4" --seed-ratio=0.0 --bt-seed-unverified=true \
    --max-upload-limit="${5:-0}" \
    --log="$SANDBOX_WORK/aria2-$4.info" --log-level=info "$2" >"$SANDBOX_WORK/aria2-$4.log" 2>&1 &
  printf -v "$_var" '%s' $!
  wait_until 10 grep -qi "listening on TCP port $4" "$SANDBOX_WORK/aria2-$4.info" ||
    fail "aria2c seeder did not start: $(tail "$SANDBOX_WORK/aria2-$4.log")"
}

# True once the seeder on PORT has sent payload to some peer.
aria2_uploaded() { # port
  grep -Eq 'UL:[^(]*\(([1-9][0-9.]*|0\.[0-9]*[1-9])[KMG]?i?B\)' "$SANDBOX_WORK/aria2-$1.log"
}

# A leecher in the foreground: 0 once it holds the whole torrent, else its status.
aria2_leech() { # torrent folder port seconds
  timeout "$4" aria2c "${ARIA2_OPTS[@]}" --dir="$2" --listen-port="$3" --seed-time=0 \
    --log="$SANDBOX_WORK/aria2-$3.info" --log-level=info "$1" >"$SANDBOX_WORK/aria2-$3.log" 2>&1
}
