#!/usr/bin/env bash
# Without a display the window program says so in one line, names zorvik-cli and ends
# with a non-zero status: no toolkit abort text, no core dump.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
ZORVIK="$ZORVIK_BUILD/src/app/zorvik"
ulimit -c unlimited
cd "$SANDBOX_WORK"
for display in unset ":987"; do
  if [ "$display" = unset ]; then
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$ZORVIK" -noupnp 2>&1); status=$?
  else
    out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$ZORVIK" -noupnp 2>&1); status=$?
  fi
  [ "$status" -ne 0 ] || fail "exit status 0 without a display ($display)"
  [ "$status" -lt 128 ] || fail "killed by a signal ($status) without a display ($display)"
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "more than one line: $out"
  grep -q 'zorvik-cli' <<<"$out" || fail "the line does not name zorvik-cli: $out"
  grep -qi 'display' <<<"$out" || fail "the line does not say what is missing: $out"
  ls core* >/dev/null 2>&1 && fail "a core file was left"
done
echo "ok: $out"
