#!/usr/bin/env bash
# Installs the Debian packages Zorvik needs, only those that are missing.
#   scripts/deps.sh build   # compiler, CMake, libraries
#   scripts/deps.sh test    # the above plus test tools, test peers and a test tracker
set -euo pipefail

build_pkgs=(g++ cmake ninja-build pkg-config qt6-base-dev libcurl4-openssl-dev libssl-dev
            libminiupnpc-dev libasound2-dev libgtest-dev libgmock-dev libbenchmark-dev)
test_pkgs=(clang-format python3-libtorrent opentracker mktorrent miniupnpd nftables iproute2 util-linux clang
           libclang-rt-14-dev xvfb xauth trayer fonts-wqy-microhei)

wanted=("${build_pkgs[@]}")
[ "${1:-build}" = test ] && wanted+=("${test_pkgs[@]}")

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Test daemons are started only by the tests themselves, inside their own network
# namespace: never leave a packaged tracker or gateway service running.
for svc in opentracker miniupnpd; do
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    "${sudo[@]}" systemctl disable --now "$svc" >/dev/null 2>&1 || true
  elif [ -x "/etc/init.d/$svc" ]; then
    "${sudo[@]}" "/etc/init.d/$svc" stop >/dev/null 2>&1 || true
  fi
done
