#!/usr/bin/env bash
# The miniupnpc client against Debian's miniupnpd, all inside a private network
# namespace: a veth pair whose two ends both stay in the namespace (veth0 = the
# gateway's outside, veth1 = the home network with our address), nftables chains for
# the daemon's rules, and SSDP multicast that never leaves. Needs root, miniupnpd and nft.
set -euo pipefail
source "$ZORVIK_SOURCE/tests/support/miniupnpd.sh"
miniupnpd_require
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"

TESTS="$ZORVIK_BUILD/tests/upnp/upnp_tests"
[ -x "$TESTS" ] || fail "build upnp_tests first"

ip link add veth0 type veth peer name veth1
ip addr add 10.200.0.1/24 dev veth0
ip addr add 10.200.1.1/24 dev veth1
ip link set veth0 up
ip link set veth1 up

miniupnpd_chains
miniupnpd_clear_mappable_ports

miniupnpd_conf "$SANDBOX_WORK/miniupnpd.conf" veth0 veth1 "$SANDBOX_WORK" 7f3c2a10-5b1e-4c8d-9a61-2e4b8c0d1f35
/usr/sbin/miniupnpd -d -f "$SANDBOX_WORK/miniupnpd.conf" -P "$SANDBOX_WORK/miniupnpd.pid" \
  >"$SANDBOX_WORK/miniupnpd.log" 2>&1 &
GATEWAY_PID=$!
for _ in $(seq 50); do
  curl -sf -o /dev/null http://10.200.1.1:5555/rootDesc.xml && break
  sleep 0.1
done
curl -sf -o /dev/null http://10.200.1.1:5555/rootDesc.xml || { cat "$SANDBOX_WORK/miniupnpd.log"; fail "miniupnpd did not start"; }

export ZORVIK_TEST_GATEWAY_URL=http://10.200.1.1:5555/rootDesc.xml
export ZORVIK_TEST_LOCAL_IP=10.200.1.1
export ZORVIK_TEST_EXTERNAL_IP=1.2.3.4
export ZORVIK_TEST_SSDP=1
status=0
"$TESTS" --gtest_filter='RealGateway*:-RealGateway.GatewayWithPrivateOutside*' >"$SANDBOX_WORK/tests.log" 2>&1 || status=$?
cat "$SANDBOX_WORK/tests.log"
grep -q '^\[  SKIPPED \]' "$SANDBOX_WORK/tests.log" && { echo "FAIL: a real-gateway test was skipped" >&2; status=1; }

# What the gateway did: every mapping added by the tests was deleted again.
if nft list chain inet filter prerouting_miniupnpd | grep -q dnat; then
  nft list chain inet filter prerouting_miniupnpd
  status=1
  echo "FAIL: a mapping was left on the gateway" >&2
fi
for what in 'AddPortMapping: ext port' 'SOAPAction: .*#DeletePortMapping' 'SSDP M-SEARCH'; do
  echo "gateway log, lines matching '$what': $(grep -c "$what" "$SANDBOX_WORK/miniupnpd.log" || true)"
done
kill "$GATEWAY_PID"
wait "$GATEWAY_PID" 2>/dev/null || true

# The same gateway without a declared outside address: its own (veth0) is private, so it
# calls itself not connected. Discovery must still take it and ask for the mapping.
sed '/^ext_ip=/d' "$SANDBOX_WORK/miniupnpd.conf" >"$SANDBOX_WORK/private.conf"
/usr/sbin/miniupnpd -d -f "$SANDBOX_WORK/private.conf" -P "$SANDBOX_WORK/miniupnpd.pid" \
  >"$SANDBOX_WORK/private.log" 2>&1 &
GATEWAY_PID=$!
for _ in $(seq 50); do
  curl -sf -o /dev/null http://10.200.1.1:5555/rootDesc.xml && break
  sleep 0.1
done
ZORVIK_TEST_PRIVATE_OUTSIDE=1 "$TESTS" --gtest_filter='RealGateway.GatewayWithPrivateOutside*' \
  >"$SANDBOX_WORK/private_tests.log" 2>&1 || status=$?
cat "$SANDBOX_WORK/private_tests.log"
grep -q '^\[  SKIPPED \]' "$SANDBOX_WORK/private_tests.log" && { echo "FAIL: skipped" >&2; status=1; }
grep -q 'AddPortMapping: ext port' "$SANDBOX_WORK/private.log" \
  || { echo "FAIL: the not-connected gateway was never asked" >&2; status=1; }
kill "$GATEWAY_PID"
wait "$GATEWAY_PID" 2>/dev/null || true
[ $status -eq 0 ] || { tail -40 "$SANDBOX_WORK/miniupnpd.log"; fail "real gateway tests failed"; }
echo "upnp_miniupnpd: ok"
