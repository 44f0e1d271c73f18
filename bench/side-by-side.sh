#!/usr/bin/env bash
# Telmora beside the serial programs installed here and a minimal reader (one read() per wake-up,
# bytes discarded), each on its own pseudo-terminal fed the same way: a paced stream (records
# written once per millisecond) and a flood (16 MiB of LF-terminated text as fast as taken).
# Prints CPU (of one core, the program's whole process tree) and MB/s per program and run.
#   bench/side-by-side.sh [BUILD_DIR] [RUNS] [RATE] [SECONDS]
#       defaults: build-rel, 3 runs, 37500 records/s, 10 s per paced run
# The X server's CPU is printed beside (%X) when Xvfb is installed; without it Telmora runs
# offscreen.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-rel}
runs=${2:-3}
rate=${3:-37500}
seconds=${4:-10}
source "$here/display.sh"
prepare_run "$build"

# name|command line ({PORT} is the pseudo-terminal). A console program gets a terminal of its own
# from script(1), whose output goes to /dev/null; script's own CPU is left out of the figures.
programs=("minimal reader|python3 $here/ptyfeed.py read {PORT}"
          "telmora|$telmora --settings $work/t.ini --port {PORT} --connect --page Terminal")
console() { # name, command
  programs+=("$1|script -qfec '$2' /dev/null")
}
command -v picocom >/dev/null && console picocom "picocom -q -b 3000000 {PORT}"
command -v minicom >/dev/null && console minicom "minicom -o -b 3000000 -D {PORT}"
command -v screen >/dev/null && console screen "screen -D -m {PORT} 3000000"
command -v cutecom >/dev/null && echo "cutecom is installed but has no option to open a port at start: skipped"
command -v gtkterm >/dev/null && [[ -n ${XPID:-} ]] && programs+=("gtkterm|gtkterm -p {PORT} -s 3000000")

run() { # mode, name, command, extra options
  local mode=$1 name=$2 command=$3
  shift 3
  # Through sh, so that the quoting of a console program's script(1) line holds.
  python3 "$here/ptyfeed.py" "$mode" "$@" --label "$name" --exclude script ${XPID:+--also $XPID} -- \
    sh -c "exec $command" ||
    echo "$name: failed"
}

echo "load before: $(uptime | sed 's/.*load average: //')"
echo "== paced: $rate records/s, once per ms, $seconds s =="
for ((i = 1; i <= runs; i++)); do
  for p in "${programs[@]}"; do run paced "${p%%|*}" "${p#*|}" --rate "$rate" --seconds "$seconds"; done
done
echo "== flood: 16 MiB of text =="
for ((i = 1; i <= runs; i++)); do
  for p in "${programs[@]}"; do run flood "${p%%|*}" "${p#*|}"; done
done
echo "load after: $(uptime | sed 's/.*load average: //')"
