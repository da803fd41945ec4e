#!/usr/bin/env bash
# Installs the Debian packages Zorvik needs, only those that are missing.
#   scripts/deps.sh build   # compiler, CMake, libraries
#   scripts/deps.sh test    # the above plus test tools, test peers and a test tracker
# A fresh Debian 12 machine may be as small as a minbase root with git and sudo: every
# program a build or a test calls is listed here unless Debian marks its package
# Essential (coreutils, util-linux, bsdutils, diffutils, findutils, grep, sed, mawk, ...).
# One package per line, grouped by purpose, so additions merge without conflicts.
set -euo pipefail

build_pkgs=(
  # compiler and build tools
  g++
  cmake
  ninja-build
  pkg-config
  # libraries
  qt6-base-dev
  libcurl4-openssl-dev
  libssl-dev
  libminiupnpc-dev
  libasound2-dev
  # unit tests and benchmarks
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
)

test_pkgs=(
  # what the test scripts call: ip, curl, pgrep/ps, nft
  iproute2
  curl
  procps
  nftables
  # formatting check, fuzzers and the LeakSanitizer runtime for clang
  clang-format
  clang
  libclang-rt-14-dev
  # real peers, tracker, torrent maker and gateway (peers run under /usr/bin/python3)
  python3
  python3-libtorrent
  opentracker
  mktorrent
  miniupnpd
  aria2
  transmission-daemon
  transmission-cli
  # the window under a virtual display
  xvfb
  xauth
  trayer
  fonts-wqy-microhei
)

wanted=("${build_pkgs[@]}")
[ "${1:-build}" = test ] && wanted+=("${test_pkgs[@]}")

# One query for all of them, so a run with nothing missing is quick. A package dpkg has
# never heard of is not in the answer, so it counts as missing too.
declare -A installed=()
while read -r pkg status; do
  [ "$status" = installed ] && installed[$pkg]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null || true)
missing=()
for p in "${wanted[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
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
for svc in opentracker miniupnpd transmission-daemon; do
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    "${sudo[@]}" systemctl disable --now "$svc" >/dev/null 2>&1 || true
  elif [ -x "/etc/init.d/$svc" ]; then
    "${sudo[@]}" "/etc/init.d/$svc" stop >/dev/null 2>&1 || true
  fi
done
