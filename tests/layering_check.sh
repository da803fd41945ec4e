#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder above it, or when a
# folder below the window layer includes Qt.
set -u
src=${1:?usage: layering_check.sh SRC_DIR}
declare -A allowed=(
  [base]="base"
  [metainfo]="base metainfo"
  [storage]="base metainfo storage"
  [net]="base metainfo storage net"
  [tracker]="base metainfo storage net tracker"
  [engine]="base metainfo storage net tracker engine"
  [registry]="base metainfo storage registry"
  [upnp]="base metainfo storage net upnp"
  [ui]="base metainfo storage net tracker engine registry upnp ui"
  [app]="base metainfo storage net tracker engine registry upnp ui app"
)
qt_ok=" ui app "
status=0
for folder in "${!allowed[@]}"; do
  [ -d "$src/$folder" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    inc=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"${line#*:}")
    if [[ " ${allowed[$folder]} " != *" $inc "* ]]; then
      echo "layering: $file includes a header of '$inc', which '$folder' may not use"
      status=1
    fi
  done < <(grep -rHE '^#include "[a-z_]+/' "$src/$folder" 2>/dev/null)
  if [[ "$qt_ok" != *" $folder "* ]]; then
    if grep -rlE '^#include <Q' "$src/$folder" >/dev/null 2>&1; then
      grep -rHE '^#include <Q' "$src/$folder" | sed 's/^/layering: Qt outside the window layer: /'
      status=1
    fi
  fi
done
[ $status -eq 0 ] && echo "layering: ok"
exit $status
