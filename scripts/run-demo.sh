#!/usr/bin/env bash
# `make run`: the tool on its built-in default. With a display, the desktop tool; without
# one, a headless tavroctl session.
set -euo pipefail
BUILD=${1:-build}
BIN="$BUILD/bin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With the virtual printer built, start it as a TAVRO36/38 with every transport and hand
  # its ports to the desktop tool: its USB virtual serial port preselects "TAVRO36/38 U-I",
  # its serial pty is listed under PORT for "TAVRO36/38 S", its TCP port answers
  # "TAVRO36/38 E-II" at 127.0.0.1:6001.
  if [ -x "$BIN/tavro-sim" ]; then
    RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tavro-demo-XXXXXX")
    SIM_OUT="$RUN_DIR/sim.out"
    "$BIN/tavro-sim" --family 5 --run-dir "$RUN_DIR/run" --state "$RUN_DIR/state" >"$SIM_OUT" 2>"$RUN_DIR/sim.err" &
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
    echo "Virtual printer running: DEVICE \"TAVRO36/38 U-I\" (preselected), or \"TAVRO36/38 S\" with PORT ${TAVRO_EXTRA_PORTS%%:*}" >&2
    "$BIN/tavroset"
    exit $?
  fi
  exec "$BIN/tavroset"
fi

echo "No display: a headless tavroctl session." >&2
"$BIN/tavroctl" --version
"$BIN/tavroctl" --help
