#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, integration, corpus replay).
# Extra arguments go to ctest (for example: -L storage, -R Bencode).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh build
cd build
ctest --output-on-failure -j "$(nproc)" "$@"
