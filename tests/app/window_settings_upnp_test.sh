#!/usr/bin/env bash
# The settings dialog's UPnP box in the real window: started with -noupnp, ticking the box
# maps the listening port on Debian's miniupnpd (in a gateway namespace inside the
# sandbox's, joined by a veth pair; nothing leaves the machine), the stored setting
# survives the mapping's success, and the mapping is gone once the window has ended.
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/miniupnpd.sh"
miniupnpd_require
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
source "$ZORVIK_SOURCE/tests/support/swarm.sh"
miniupnpd_clear_mappable_ports
TESTS="$ZORVIK_BUILD/tests/app/app_window_tests"
[ -x "$TESTS" ] || fail "app_window_tests not built"
W=$SANDBOX_WORK

# The gateway's namespace: veth0 (10.200.1.254) toward us, an outside veth (10.200.0.1,
# declared as 1.2.3.4).
cat >"$W/gateway.sh" <<GATEWAY
set -e
until ip link show veth0 >/dev/null 2>&1; do sleep 0.05; done
ip link set lo up
ip addr add 10.200.1.254/24 dev veth0
ip link set veth0 up
ip link add ext0 type veth peer name ext1
ip link set ext1 up
ip addr add 10.200.0.1/24 dev ext0
ip link set ext0 up
source "$ZORVIK_SOURCE/tests/support/miniupnpd.sh"
miniupnpd_chains
exec /usr/sbin/miniupnpd -d -f "$W/miniupnpd.conf" -P "$W/miniupnpd.pid"
GATEWAY
miniupnpd_conf "$W/miniupnpd.conf" ext0 veth0 "$W" 3b9e5c21-7d4a-4f60-8e12-6a0c9d7b2e58
unshare --net bash "$W/gateway.sh" >"$W/miniupnpd.log" 2>&1 &
gateway=$!
ip link add veth0 type veth peer name veth1
wait_until 10 ip link set veth0 netns "$gateway" || fail "cannot move veth0 to the gateway"
ip addr add 10.200.1.1/24 dev veth1
ip link set veth1 up
# A loaded machine (ctest -j2 with the other script tests) can take a while to get the
# gateway's namespace and daemon going.
wait_until 40 curl -sf --noproxy '*' -o /dev/null http://10.200.1.254:5555/rootDesc.xml ||
  fail "miniupnpd did not start: $(cat "$W/miniupnpd.log"); gateway job: $(jobs -l)"
gateway_rules() { nsenter -t "$gateway" -n nft list chain inet filter prerouting_miniupnpd; }

ZORVIK_TEST_UPNP_LOCAL_IP=10.200.1.1 "$TESTS" \
  --gtest_filter='WindowSettings.TickingUpnpMapsThePortAndTheSettingOutlivesTheMapping' >"$W/tests.log" 2>&1 ||
  { cat "$W/tests.log"; tail -20 "$W/miniupnpd.log"; fail "the window test failed"; }
grep -q '^\[  SKIPPED \]' "$W/tests.log" && { cat "$W/tests.log"; fail "the window test was skipped"; }
grep -q '^\[       OK \] WindowSettings.TickingUpnp' "$W/tests.log" || { cat "$W/tests.log"; fail "the window test did not run"; }
grep -q 'AddPortMapping: ext port 45000' "$W/miniupnpd.log" || fail "the gateway was never asked: $(tail -20 "$W/miniupnpd.log")"
rules=$(gateway_rules)
! grep -q dnat <<<"$rules" || fail "the mapping was left on the gateway: $rules"
echo "PASS"
