#!/usr/bin/env bash
# zorvik-cli get without -noupnp prints the port mapping's status line: Debian's miniupnpd in
# a gateway namespace inside the sandbox's (SSDP multicast and HTTP over a veth pair; nothing
# leaves the machine) maps the listening port, and the mapping is gone after SIGINT.
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/miniupnpd.sh"
miniupnpd_require
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
miniupnpd_clear_mappable_ports
[ -x "$CLI" ] || fail "zorvik-cli not built"
W=$SANDBOX_WORK

# The gateway: miniupnpd in a namespace of its own behind a veth pair.
miniupnpd_gateway_start "$W" 0c6f1d52-8a3e-4b71-9d2c-5e8f7a1b3c46
# The gateway's forwarding rules, read whole (grep -q on a pipe would cut nft off, and
# pipefail would take that for a failure).
gateway_rules() { nsenter -t "$gateway" -n nft list chain inet filter prerouting_miniupnpd; }
gateway_maps() { local r; r=$(gateway_rules) && grep -q "$1" <<<"$r"; }

# A complete torrent that seeds: the run lasts until the mapping is made (the first attempt
# is due some 5 s after the listener opened) and it is stopped.
swarm_payload "$W/src/small.bin" 65536
swarm_make "$W/src/small.bin" "$W/small.torrent" 16384 >/dev/null
mkdir -p "$W/home"
cp "$ZORVIK_HOME/trackerFavorite.txt" "$W/home/"
# The route toward the gateway's side gives the program its home-network address. SIGINT
# (Ctrl-C) ends this run; a script's background job would ignore it unless told otherwise.
ZORVIK_HOME="$W/home" ZORVIK_PROBE_ADDRESS=10.200.1.1 env --default-signal=INT "$CLI" get -port45000 -ut5 "$W/small.torrent" "$W/src" \
  >"$W/get.log" 2>&1 &
pid=$!
wait_until 60 grep -q "UPnP创建成功!,1.2.3.4, port = 45000" "$W/get.log" ||
  fail "no mapping line: $(cat "$W/get.log") $(tail -20 "$W/miniupnpd.log")"
gateway_maps "dport 45000" || fail "the gateway holds no mapping: $(gateway_rules 2>&1)"
kill -INT "$pid"
wait_exit "$pid" 30 rc
[ "$rc" = 8 ] || fail "SIGINT gave $rc: $(cat "$W/get.log")"
! gateway_maps dnat || fail "the mapping was left on the gateway: $(gateway_rules 2>&1)"
echo "PASS"
