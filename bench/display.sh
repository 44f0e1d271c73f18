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
