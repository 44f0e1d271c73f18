#!/usr/bin/env bash
# The demo as a newcomer starts it: the built-in device connects and the meters move.
set -u
bin="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
out=$(timeout 60 "$bin" --demo --screenshot "$tmp/demo.png" 2>"$tmp/err"); rc=$?
if [ $rc -ne 0 ]; then echo "FAIL: --demo --screenshot exited $rc: $(cat "$tmp/err")"; fail=1; fi
if [[ "$out" != *"demo running on the simulated device /dev/pts/"* ]]; then echo "FAIL: no device line: $out"; fail=1; fi
if grep -q "Unable\|failed" "$tmp/err"; then echo "FAIL: errors: $(cat "$tmp/err")"; fail=1; fi
if [ ! -s "$tmp/demo.png" ]; then echo "FAIL: no screenshot"; fail=1; fi
# The same start without the device shows no meters: the demo's picture must differ from it.
timeout 60 "$bin" --screenshot "$tmp/plain.png" >/dev/null 2>&1
if cmp -s "$tmp/demo.png" "$tmp/plain.png"; then echo "FAIL: the demo shows the same picture as a plain start"; fail=1; fi
err=$("$bin" --demo --connect 2>&1 >/dev/null); rc=$?
if [ $rc -ne 2 ] || [[ "$err" != *"cannot be combined"* ]]; then echo "FAIL: --demo --connect: $rc $err"; fail=1; fi
[ $fail -eq 0 ] && echo "ok: demo"
exit $fail
