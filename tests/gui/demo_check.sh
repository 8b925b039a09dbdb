#!/usr/bin/env bash
# What `make run` does after building — scripts/run-demo.sh with a display — with the tool
# replaced by tavroset-demo-check, which runs the same tool and presses OK, User Setup and
# Get Value without choosing anything. Under Xvfb when it is installed, else on Qt's
# offscreen platform (the script only needs to see a display).
#   demo_check.sh SOURCE_DIR BUILD_DIR [korean]
# With "korean" the tool runs as on a Korean system (a system locale file saying ko_KR),
# else as on an English one.
set -u
SRC=$1
BUILD=$2
XVFB_PID=
ETC=
cleanup() {
  [ -n "$XVFB_PID" ] && { kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; }
  [ -n "$ETC" ] && rm -rf "$ETC"
}
trap cleanup EXIT
# Without "korean" the tool runs as on an English system, whatever this machine's language.
ETC=$(mktemp -d)
mkdir -p "$ETC/default"
if [ "${3:-}" = korean ]; then
  echo 'LANG="ko_KR.UTF-8"' >"$ETC/default/locale"
else
  echo 'LANG="en_US.UTF-8"' >"$ETC/default/locale"
fi
export TAVRO_ETC_ROOT="$ETC"

if command -v Xvfb >/dev/null 2>&1; then
  FD_FILE=$(mktemp)
  # A display number of its own (-displayfd), a 1280x720 screen, no TCP.
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$FD_FILE" </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$FD_FILE" ] && break
    sleep 0.1
  done
  NUM=$(head -n1 "$FD_FILE")
  rm -f "$FD_FILE"
  [ -n "$NUM" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$NUM"
  export QT_QPA_PLATFORM=xcb
  echo "demo check: Xvfb on $DISPLAY" >&2
else
  export DISPLAY=offscreen
  export QT_QPA_PLATFORM=offscreen
  echo "demo check: no Xvfb, Qt offscreen platform" >&2
fi
unset WAYLAND_DISPLAY
export TAVRO_DEMO_TOOL="$BUILD/bin/tavroset-demo-check"
# Every transport of the demo's printer, its TCP and UDP ports free ones: the demo's own
# 127.0.0.1:6001 may be taken by another run of this check or a demo the user started.
export TAVRO_DEMO_SIM_ARGS="--serial --parallel --usb --usb-serial --tcp 127.0.0.1:0 --udp 127.0.0.2:0"
bash "$SRC/scripts/run-demo.sh" "$BUILD" </dev/null
RC=$?
exit $RC
