# Sourced by the benchmark scripts: a private X server when Xvfb exists, else Qt's offscreen
# platform. start_display sets DISPLAY (or QT_QPA_PLATFORM) and XPID; stop_display ends it.
start_display() {
  XPID=
  if command -v Xvfb >/dev/null; then
    local n
    for ((n = 71; n < 99; n++)); do
      [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XPID=$!
    for ((i = 0; i < 100; i++)); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.05
    done
    export DISPLAY=":$n"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
  else
    export QT_QPA_PLATFORM=offscreen
  fi
}
stop_display() {
  if [[ -n ${XPID:-} ]]; then
    kill "$XPID" 2>/dev/null || true
    wait "$XPID" 2>/dev/null || true
  fi
}
# What both scripts start with: the built program ($telmora, from BUILD_DIR or $TELMORA), a display
# and a scratch folder ($work), both gone when the script ends.
prepare_run() {
  telmora=${TELMORA:-$1/app/telmora}
  [[ -x $telmora ]] || { echo "no $telmora: build it first" >&2; exit 1; }
  start_display
  work=$(mktemp -d)
  trap 'stop_display; rm -rf "$work"' EXIT
}
