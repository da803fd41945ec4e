# Helpers for tests that run Debian's miniupnpd inside their sandbox.
#   source "$ZORVIK_SOURCE/tests/support/miniupnpd.sh"

# Before the sandbox: skips the test (exit 77) unless root, miniupnpd and nft are there.
miniupnpd_require() {
  [ -n "${ZORVIK_IN_SANDBOX:-}" ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: a network namespace needs root"; exit 77; }
  [ -x /usr/sbin/miniupnpd ] || { echo "SKIP: miniupnpd is not installed"; exit 77; }
  command -v nft >/dev/null || { echo "SKIP: nft (nftables) is not installed"; exit 77; }
}

# Inside the sandbox: outgoing connections take their ports above the mappable range, so a
# fixed test port there (a listener, a mapping) is never held by one of them.
miniupnpd_clear_mappable_ports() {
  echo "50000 60999" >/proc/sys/net/ipv4/ip_local_port_range
}

# The nftables chains miniupnpd adds its forwarding rules to (its defaults), in the
# current network namespace.
miniupnpd_chains() {
  nft -f - <<'NFT'
table inet filter {
    chain forward {
        type filter hook forward priority 0; policy accept;
        jump miniupnpd
    }
    chain miniupnpd {
    }
    chain prerouting {
        type nat hook prerouting priority -100; policy accept;
        jump prerouting_miniupnpd
    }
    chain postrouting {
        type nat hook postrouting priority 100; policy accept;
        jump postrouting_miniupnpd
    }
    chain prerouting_miniupnpd {
    }
    chain postrouting_miniupnpd {
    }
}
NFT
}

# Writes a configuration: the outside interface declares 1.2.3.4 (miniupnpd refuses to map
# behind a private address; no packet is ever sent to it), the daemon listens on the home
# interface, and only ports 40000-49999 of 10.200.1.0/24 may be mapped.
miniupnpd_conf() { # file ext_if listen_if work_dir uuid
  cat >"$1" <<CONF
ext_ifname=$2
ext_ip=1.2.3.4
listening_ip=$3
http_port=5555
enable_natpmp=no
enable_upnp=yes
secure_mode=no
system_uptime=yes
lease_file=$4/upnp.leases
uuid=$5
allow 40000-49999 10.200.1.0/24 40000-49999
deny 0-65535 0.0.0.0/0 0-65535
CONF
}

# Inside the sandbox: starts miniupnpd in a gateway namespace of its own (our listening
# port must not look taken on its outside), joined to ours by a veth pair: veth1 here
# (10.200.1.1), veth0 there (10.200.1.254), and an outside veth there (10.200.0.1,
# declared as 1.2.3.4). Sets `gateway` to the gateway's pid; its log is
# WORK/miniupnpd.log. Needs sandbox.sh's wait_until and fail.
miniupnpd_gateway_start() { # work_dir uuid
  local work=$1
  cat >"$work/gateway.sh" <<GATEWAY
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
exec /usr/sbin/miniupnpd -d -f "$work/miniupnpd.conf" -P "$work/miniupnpd.pid"
GATEWAY
  miniupnpd_conf "$work/miniupnpd.conf" ext0 veth0 "$work" "$2"
  unshare --net bash "$work/gateway.sh" >"$work/miniupnpd.log" 2>&1 &
  gateway=$!
  # Until unshare has made the gateway's namespace, its pid still names ours: moving veth0
  # there would leave it here and the gateway would wait for it for ever.
  own_netns=$(readlink /proc/self/ns/net)
  gateway_netns_ready() { [ "$(readlink "/proc/$gateway/ns/net" 2>/dev/null)" != "$own_netns" ]; }
  wait_until 30 gateway_netns_ready || fail "the gateway's namespace was never made"
  ip link add veth0 type veth peer name veth1
  wait_until 30 ip link set veth0 netns "$gateway" || fail "cannot move veth0 to the gateway"
  ip addr add 10.200.1.1/24 dev veth1
  ip link set veth1 up
  # A loaded machine (ctest -j2 with the other script tests) can take a while to get the
  # gateway's namespace and daemon going.
  wait_until 40 curl -sf --noproxy '*' -o /dev/null http://10.200.1.254:5555/rootDesc.xml ||
    fail "miniupnpd did not start: $(cat "$work/miniupnpd.log")"
}
