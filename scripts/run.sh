#!/usr/bin/env bash
# Installs what is missing, builds and starts Telmora on its built-in simulated device (the
# demo); arguments replace --demo, e.g. scripts/run.sh --port ttyUSB0 --connect. Without a
# display it starts under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)" --target telmora
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting under Xvfb (use --screenshot FILE to see the window)"
  set -- "${@:---demo}"
  exec xvfb-run -a build/app/telmora "$@"
fi
exec build/app/telmora "${@:---demo}"
