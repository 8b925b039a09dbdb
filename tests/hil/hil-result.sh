#!/usr/bin/env bash
# One scenario's verdict from the rig's machine run (hil-vm.sh): exit 0 PASS, 1 FAIL, 77 SKIP.
#   hil-result.sh OUT_DIR NAME
OUT=$1
NAME=$2
status=$(head -n 1 "$OUT/status" 2>/dev/null || true)
case "$status" in
  SKIP:*) echo "$NAME: the machine could not run here: ${status#SKIP: }"; exit 77 ;;
  RAN:*) ;;
  "") echo "$NAME: the machine did not run (no $OUT/status)"; exit 1 ;;
  *) echo "$NAME: $status"; exit 1 ;;
esac
f="$OUT/results/$NAME"
if [ ! -f "$f" ]; then
  echo "$NAME: no verdict from the machine ($status)"
  exit 1
fi
cat "$f"
case "$(head -n 1 "$f")" in
  PASS*) exit 0 ;;
  SKIP*) exit 77 ;;
  *) exit 1 ;;
esac
