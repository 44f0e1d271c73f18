#!/usr/bin/env bash
# Recording and replay through the program: the demo recorded, the file replayed as fast as
# possible while a second recording runs, and both files holding the same values in order.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" "$own_dir"' EXIT
fail=0
timeout 60 "$bin" --demo --record "$tmp/a.csv" --screenshot "$tmp/a.png" >/dev/null 2>"$tmp/err"; rc=$?
if [ $rc -ne 0 ]; then echo "FAIL: --demo --record exited $rc: $(cat "$tmp/err")"; fail=1; fi
if [ "$(head -1 "$tmp/a.csv")" != $'Zeit,Instrument,Wert,Einheit\r' ]; then echo "FAIL: header: $(head -1 "$tmp/a.csv")"; fail=1; fi
lines=$(($(wc -l <"$tmp/a.csv") - 1))
if [ "$lines" -lt 50 ]; then echo "FAIL: only $lines records in 1.5 s of demo"; fail=1; fi
if ! grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2},[0-9]+,' "$tmp/a.csv"; then
  echo "FAIL: no ISO time in: $(sed -n 2p "$tmp/a.csv")"; fail=1
fi
out=$(timeout 60 "$bin" --replay "$tmp/a.csv" --speed 0 --record "$tmp/b.csv" --screenshot "$tmp/b.png" 2>"$tmp/err"); rc=$?
if [ $rc -ne 0 ] || [[ "$out" != *"replaying $tmp/a.csv on /dev/pts/"* ]]; then echo "FAIL: --replay exited $rc: $out $(cat "$tmp/err")"; fail=1; fi
if ! diff <(cut -d, -f2- "$tmp/a.csv") <(cut -d, -f2- "$tmp/b.csv") >/dev/null; then
  echo "FAIL: the replay's values differ from the recording's"; fail=1
fi
err=$("$bin" --replay "$tmp/a.csv" --record "$tmp/./a.csv" 2>&1 >/dev/null); rc=$?
if [ $rc -ne 2 ] || [[ "$err" != *"would overwrite"* ]] || [ "$(wc -l <"$tmp/a.csv")" -ne $((lines + 1)) ]; then
  echo "FAIL: recording over the replayed file: $rc $err"; fail=1
fi
err=$("$bin" --replay "$tmp/a.png" --screenshot "$tmp/c.png" 2>&1 >/dev/null); rc=$?
if [ $rc -ne 1 ] || [[ "$err" != *"is not a Telmora recording"* ]]; then echo "FAIL: a picture replayed: $rc $err"; fail=1; fi
[ $fail -eq 0 ] && echo "ok: record"
exit $fail
