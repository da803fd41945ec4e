#!/usr/bin/env bash
# The main window on a real X server (Xvfb) as a first start under an English and a Chinese
# locale, each with a fresh data folder: screenshots kept in the build tree as test
# artefacts; fails when a text is cut off or the locale's language is not the one shown.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
command -v xvfb-run >/dev/null || { echo "skip: xvfb-run is not installed"; exit 77; }
fc-list :lang=zh | grep -q . || { echo "skip: no CJK font"; exit 77; }
out="$ZORVIK_BUILD/tests/app/screenshots"
mkdir -p "$out"
rm -f "$out"/window_*.png
export LSAN_OPTIONS="suppressions=$ZORVIK_SOURCE/tests/app/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export XDG_RUNTIME_DIR="$SANDBOX_WORK/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
shot() { # name locale caption
  local home="$SANDBOX_WORK/home-$1"
  mkdir -p "$home"
  cp "$ZORVIK_HOME/trackerFavorite.txt" "$home/"
  env -u LC_ALL -u LC_MESSAGES ZORVIK_HOME="$home" LANG="$2" XDG_DOWNLOAD_DIR="$SANDBOX_WORK/save" \
    xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
    env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
    "$ZORVIK_BUILD/tests/app/window_screenshots" "$out" "$1" >"$SANDBOX_WORK/$1.log" 2>&1 ||
    fail "$1: $(cat "$SANDBOX_WORK/$1.log")"
  cat "$SANDBOX_WORK/$1.log"
  grep -q "^caption c1021: $3\$" "$SANDBOX_WORK/$1.log" || fail "$1: the caption is not \"$3\""
  [ -s "$home/Zorvik.res" ] || fail "$1: no language file written"
  for f in "window_$1" "window_$1_first_start" "window_$1_standard"; do
    [ -s "$out/$f.png" ] || fail "no $f.png"
  done
}
shot en en_US.UTF-8 "$(sed -n 87p "$ZORVIK_BUILD/src/app/Zorvik.en.res" | tr -d '\r')"
shot zh zh_CN.UTF-8 "文件大小"
echo "ok: main window screenshots in $out"
