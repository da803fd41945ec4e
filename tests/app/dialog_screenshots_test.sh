#!/usr/bin/env bash
# Screenshots of the settings dialog and the help viewer in Chinese and English on a real
# X server (Xvfb), kept in the build tree as test artefacts; fails when a text of either
# dialog is cut off.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
command -v xvfb-run >/dev/null || { echo "skip: xvfb-run is not installed"; exit 77; }
fc-list :lang=zh | grep -q . || { echo "skip: no CJK font"; exit 77; }
out="$ZORVIK_BUILD/tests/app/screenshots"
mkdir -p "$out"
rm -f "$out"/settings_*.png "$out"/help_*.png
cd "$SANDBOX_WORK"
# In a sanitizer build: the D-Bus library the xcb platform loads leaks at exit, not our code.
export LSAN_OPTIONS="suppressions=$ZORVIK_SOURCE/tests/app/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
  "$ZORVIK_BUILD/tests/app/dialog_screenshots" "$out" "$ZORVIK_BUILD/src/app/Zorvik.en.res" \
  || fail "the dialogs do not fit their texts (or the shots failed)"
for f in settings_zh settings_en help_zh_01 help_en_01 help_zh_30 help_en_30; do
  [ -s "$out/$f.png" ] || fail "no $f.png"
done
echo "ok: $(ls "$out"/*.png | wc -l) screenshots in $out"
