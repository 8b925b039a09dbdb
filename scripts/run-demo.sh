#!/usr/bin/env bash
# `make run`: the tool on its built-in default, the virtual printer tavro-sim playing a
# TAVRO36/38 with every transport. With a display, the desktop tool connected to it; without
# one, a headless tavroctl session against it.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
BIN="$BUILD/bin"

RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tavro-demo-XXXXXX")
SIM_OUT="$RUN_DIR/sim.out"
SIM_PID=
cleanup() {
  [ -n "$SIM_PID" ] && { kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; }
  rm -rf "$RUN_DIR"
}
trap cleanup EXIT

# Starts the simulator, waits for READY and exports the NAME=VALUE lines it printed before.
start_sim() {
  "$BIN/tavro-sim" --family 5 "$@" --run-dir "$RUN_DIR/run" --state "$RUN_DIR/state" \
    >"$SIM_OUT" 2>"$RUN_DIR/sim.err" &
  SIM_PID=$!
  for _ in $(seq 1 100); do
    grep -qx READY "$SIM_OUT" 2>/dev/null && break
    kill -0 "$SIM_PID" 2>/dev/null || { cat "$RUN_DIR/sim.err" >&2; exit 1; }
    sleep 0.1
  done
  grep -qx READY "$SIM_OUT" || { echo "tavro-sim did not start" >&2; exit 1; }
  while IFS= read -r line; do
    [ "$line" = READY ] && break
    case "$line" in
      TAVRO_*=*) export "${line?}" ;;
    esac
  done <"$SIM_OUT"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # Its USB virtual serial port preselects "TAVRO36/38 U-I", its serial pty is listed under
  # PORT for "TAVRO36/38 S", its TCP port answers "TAVRO36/38 E-II" at 127.0.0.1:6001.
  # TAVRO_DEMO_SIM_ARGS replaces the transports (the tests' runs take free ports instead of
  # 6001 and 2918, so that two of them can run at once).
  read -ra sim_args <<<"${TAVRO_DEMO_SIM_ARGS:-}"
  start_sim "${sim_args[@]}"
  echo "Virtual printer running: DEVICE \"TAVRO36/38 U-I\" (preselected), or \"TAVRO36/38 S\" with PORT ${TAVRO_EXTRA_PORTS%%:*}" >&2
  cd "$RUN_DIR"
  # A profile in the start-up directory keeps the tool's profile and error log here, in the
  # run's temporary folder, instead of the user's XDG places.
  : >"$RUN_DIR/tavroset.INI"
  # TAVRO_DEMO_TOOL: the GUI test that plays a new user's first steps runs in its place.
  "${TAVRO_DEMO_TOOL:-$BIN/tavroset}"
  exit $?
fi

echo "No display: a headless tavroctl session against the virtual printer." >&2
start_sim --serial --parallel --usb --usb-serial --tcp 127.0.0.1:0 --udp 127.0.0.2
cd "$RUN_DIR"
SERIAL=${TAVRO_EXTRA_PORTS%%:*}
PARALLEL=${TAVRO_EXTRA_PORTS##*:}
step() { printf '\n$ tavroctl %s\n' "$*"; "$BIN/tavroctl" "$@"; }

step --version
step ports
step --device "TAVRO36/38 S" --port "$SERIAL" setup get
step --device "TAVRO36/38 S" --port "$SERIAL" setup set paper_width=58 columns=32 speed=150 margin=384 --verify
step --device "TAVRO36/38 S" --port "$SERIAL" setup get --save "$RUN_DIR/shop.ini"
step --device "TAVRO36/38 E-II" --port "tcp://$TAVRO_SIM_TCP" setup get --json
# The write restarted the printer: its USB printer node is gone for a moment.
for _ in $(seq 1 50); do [ -e "$TAVRO_DEV_ROOT/usb/lp0" ] && break; sleep 0.1; done
step --device "TAVRO36/38 U-II" --port usb setup diff "$RUN_DIR/shop.ini" || echo "(differences: exit $?)"
step --device "TAVRO36/38 P" --port "$PARALLEL" setup test-page
printf '\nThe virtual printer received:\n'
grep -v -E '^(TAVRO_.*=|READY$)' "$SIM_OUT" | tail -n 20
