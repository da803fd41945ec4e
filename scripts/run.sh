#!/usr/bin/env bash
# Installs what is missing, builds, and starts Zorvik. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
scripts/build.sh build >/dev/null
if [ $# -eq 0 ]; then
  exec build/src/app/zorvik-cli --help
fi
exec build/src/app/zorvik-cli "$@"
