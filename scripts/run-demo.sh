#!/usr/bin/env bash
# `make run`: the tool on its built-in default. With a display, the desktop tool; without
# one, a headless tavroctl session.
set -euo pipefail
BUILD=${1:-build}
BIN="$BUILD/bin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BIN/tavroset"
fi

echo "No display: a headless tavroctl session." >&2
"$BIN/tavroctl" --version
"$BIN/tavroctl" --help
