#!/usr/bin/env bash
# The flood through the real program: 16 MiB of LF-terminated text written to a pseudo-terminal
# as fast as Telmora takes it, with its Terminal page shown; prints MB/s and Telmora's CPU per run.
#   bench/flood.sh [BUILD_DIR] [RUNS] [BYTES]     (default build-rel, 3 runs, 16 MiB;
#                                                 TELMORA=PATH runs another binary)
# Runs under Xvfb when it is installed (its CPU is printed beside), else offscreen.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-rel}
runs=${2:-3}
bytes=${3:-$((16 << 20))}
source "$here/display.sh"
prepare_run "$build"
echo "load: $(uptime | sed 's/.*load average: //')"
for ((i = 1; i <= runs; i++)); do
  python3 "$here/ptyfeed.py" flood --bytes "$bytes" --label "telmora run $i" ${XPID:+--also $XPID} -- \
    "$telmora" --settings "$work/t.ini" --port '{PORT}' --connect --page Terminal
done
echo "load: $(uptime | sed 's/.*load average: //')"
