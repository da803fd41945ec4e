#!/usr/bin/env bash
# zorvik-cli info over every file of the corpus of good and malformed torrents (tests/data): each
# gets a definite answer (0 with the details, or 2 with one line saying what is wrong), and
# the accepted ones agree with libtorrent.
source "$ZORVIK_SOURCE/tests/support/sandbox.sh"
set -eu
[ -x "$CLI" ] || fail "zorvik-cli not built"
/usr/bin/python3 "$ZORVIK_SOURCE/tests/app/cli_info_check.py" corpus "$CLI" "$ZORVIK_TESTDATA/torrents"
# Unreadable files exit 3 with the reason.
set +e
"$CLI" info "$SANDBOX_WORK/absent.torrent" 2>"$SANDBOX_WORK/err"; rc=$?
set -e
[ $rc -eq 3 ] || fail "absent file: exit $rc, expected 3"
grep -q "cannot read .*absent.torrent: No such file" "$SANDBOX_WORK/err" || fail "absent file: $(cat "$SANDBOX_WORK/err")"
printf 'd4:infoi1ee' > "$SANDBOX_WORK/bad.torrent"
set +e
"$CLI" info "$SANDBOX_WORK/bad.torrent" 2>"$SANDBOX_WORK/err"; rc=$?
set -e
[ $rc -eq 2 ] || fail "bad torrent: exit $rc, expected 2"
grep -q '"info" is not a dictionary' "$SANDBOX_WORK/err" || fail "bad torrent: $(cat "$SANDBOX_WORK/err")"
echo "ok"
