#!/usr/bin/env bash
# The program's command line as a user meets it: help, version, bad options, a screenshot.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

out=$("$bin" --help); rc=$?
check "--help exits 0 and shows usage" '[ $rc -eq 0 ] && [[ "$out" == *"--screenshot FILE"* ]]'
out=$("$bin" --version); rc=$?
check "--version prints the version" '[ $rc -eq 0 ] && [[ "$out" == telmora\ * ]]'
err=$("$bin" --bogus 2>&1 >/dev/null); rc=$?
check "unknown option exits 2 with a message on stderr" '[ $rc -eq 2 ] && [[ "$err" == *"unknown option"* ]]'
# The port list needs no display: scripts run it anywhere. Every line names a device path.
out=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$bin" --list-ports); rc=$?
check "--list-ports without a display exits 0, one /dev path per line" \
  '[ $rc -eq 0 ] && { [ -z "$out" ] || ! grep -qv "^/dev/[^ ]" <<<"$out"; }'
tmp=$(mktemp -d)
"$bin" --screenshot "$tmp/shot.png" >/dev/null; rc=$?
check "--screenshot writes a PNG" '[ $rc -eq 0 ] && [ "$(head -c 8 "$tmp/shot.png" | od -An -tx1 | tr -d " \n")" = 89504e470d0a1a0a ]'
"$bin" --screenshot /nonexistent-dir/x.png 2>/dev/null; rc=$?
check "--screenshot into a missing folder fails with 1" '[ $rc -eq 1 ]'
rm -rf "$tmp"
exit $fail
