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
