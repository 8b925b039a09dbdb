#!/usr/bin/env bash
# Renders every dialog of the desktop tool in English and in Korean into
# docs/screenshots/<dialog>-en.png and -ko.png. The language comes from a fake system locale
# (TAVRO_ETC_ROOT), so the pictures do not depend on this machine's. With tavro-sim built,
# the user setup dialog shows the values read from the virtual printer. The logo tool's pages
# show a logo the tool draws, in the list, in its preview and as the printer will print it.
#   scripts/screenshots.sh [BUILD_DIR]     (default: build)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
BIN="$BUILD/bin"
OUT="$ROOT/docs/screenshots"

if [ ! -x "$BIN/tavroset-screenshots" ]; then
  cmake --build "$BUILD" --target tavroset-screenshots
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tavro-shots-XXXXXX")
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Only the virtual printer's ports: the pictures must not show this machine's devices.
mkdir -p "$WORK/sys/class/tty" "$WORK/dev"
export TAVRO_SYSFS_ROOT="$WORK/sys" TAVRO_DEV_ROOT="$WORK/dev" TAVRO_EXTRA_PORTS=

if [ -x "$BIN/tavro-sim" ]; then
  "$BIN/tavro-sim" --serial --family 6 --run-dir "$WORK/run" --state "$WORK/state" \
    >"$WORK/sim.out" 2>"$WORK/sim.err" &
  SIM_PID=$!
  for _ in $(seq 1 100); do
    grep -qx READY "$WORK/sim.out" 2>/dev/null && break
    kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/sim.err" >&2; exit 1; }
    sleep 0.1
  done
  while IFS= read -r line; do
    [ "$line" = READY ] && break
    case "$line" in
      TAVRO_EXTRA_PORTS=*) export "${line?}" ;;
    esac
  done <"$WORK/sim.out"
fi

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mkdir -p "$OUT"
for lang in en:en_US.UTF-8 ko:ko_KR.UTF-8; do
  suffix=${lang%%:*}
  mkdir -p "$WORK/etc-$suffix" "$WORK/cwd-$suffix"
  echo "LANG=${lang#*:}" >"$WORK/etc-$suffix/locale.conf"
  (cd "$WORK/cwd-$suffix" && TAVRO_ETC_ROOT="$WORK/etc-$suffix" "$BIN/tavroset-screenshots" "$OUT" "$suffix")
done
echo "screenshots in $OUT" >&2
