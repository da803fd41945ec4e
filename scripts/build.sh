#!/usr/bin/env bash
# Configures (once) and builds Zorvik into build/ (or the folder given as DIR, with the
# extra CMake arguments that follow it). Fast when nothing changed.
#   scripts/build.sh [--target NAME]... [DIR [CMAKE_ARGS...]]
# --target builds only that target and what it needs (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
while [ "${1:-}" = --target ]; do
  targets+=(--target "$2")
  shift 2
done
dir=${1:-build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
