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

# The gateway: miniupnpd in a namespace of its own behind a veth pair.
miniupnpd_gateway_start "$W" 3b9e5c21-7d4a-4f60-8e12-6a0c9d7b2e58
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
