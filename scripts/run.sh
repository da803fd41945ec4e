#!/usr/bin/env bash
# Installs what is missing, builds the program, and starts Zorvik. Arguments go to the
# program. Only the program is built here; scripts/test.sh builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
scripts/build.sh --target zorvik-cli build >/dev/null
if [ $# -eq 0 ]; then
  exec build/src/app/zorvik-cli --help
fi
exec build/src/app/zorvik-cli "$@"
