#!/usr/bin/env bash
# Configures (once) and builds Zorvik into build/ (or the folder given as $1 with the
# extra CMake arguments that follow). Fast when nothing changed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
