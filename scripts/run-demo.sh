#!/usr/bin/env bash
# `make run`: the tool on its built-in default. With a display, the desktop tool; without
# one, a headless tavroctl session.
set -euo pipefail
BUILD=${1:-build}
BIN="$BUILD/bin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With the virtual printer built, start it and hand its ports to the desktop tool: its
  # serial port is listed under PORT for the "TAVRO36/38 S" entry, its TCP port answers the
  # "TAVRO36/38 E-II" entry at 127.0.0.1:6001.
  if [ -x "$BIN/tavro-sim" ]; then
    RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tavro-demo-XXXXXX")
    SIM_OUT="$RUN_DIR/sim.out"
    "$BIN/tavro-sim" --run-dir "$RUN_DIR/run" --state "$RUN_DIR/state" >"$SIM_OUT" 2>"$RUN_DIR/sim.err" &
    SIM_PID=$!
    trap 'kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; rm -rf "$RUN_DIR"' EXIT
    for _ in $(seq 1 100); do
      grep -qx READY "$SIM_OUT" 2>/dev/null && break
      kill -0 "$SIM_PID" 2>/dev/null || { cat "$RUN_DIR/sim.err" >&2; exit 1; }
      sleep 0.1
    done
    while IFS= read -r line; do
      [ "$line" = READY ] && break
      case "$line" in
        TAVRO_*=*) export "${line?}" ;;
      esac
    done <"$SIM_OUT"
    echo "Virtual printer running: pick DEVICE \"TAVRO36/38 S\" and PORT ${TAVRO_EXTRA_PORTS%%:*}" >&2
    "$BIN/tavroset"
    exit $?
  fi
  exec "$BIN/tavroset"
fi

echo "No display: a headless tavroctl session." >&2
"$BIN/tavroctl" --version
"$BIN/tavroctl" --help
