#!/usr/bin/env bash
# Installs what is missing, builds the program, and starts the Zorvik window. Arguments go
# to the program (a .torrent path or a -set line is handed to a copy that already runs).
# Only the program is built here; scripts/test.sh builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
scripts/build.sh --target zorvik build >/dev/null
exec build/src/app/zorvik "$@"
