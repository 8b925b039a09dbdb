#!/usr/bin/env bash
# Judges the parallel scenarios by what the printer at the far end of the machine's parallel
# port received (its event log). The machine ran, in this order: a test page over /dev/lp0,
# LP0 lines over /dev/lp0, a test page over /dev/parport0, PARPORT0 lines over /dev/parport0.
# A scenario the machine passed turns to FAIL when its bytes did not arrive whole.
#
#   parallel-check.sh EVENTS.jsonl RESULTS_DIR
set -euo pipefail
EVENTS=$1
RESULTS=$2

verdicts=$(awk '
  function section(name) { sec = name }
  BEGIN { sec = "lp0_test_page" }
  !/"via":"parallel"/ { next }
  {
    tag = ""
    if (match($0, /"text":"(LP0|PARPORT0) [0-9]+ abcdefghijklm"/)) {
      split(substr($0, RSTART + 8, RLENGTH - 9), f, " ")
      tag = f[1]; num = f[2] + 0
    }
    if (tag == "LP0") {
      section("lp0_send")
      if (num != ++lines["LP0"] && !bad["LP0"]) bad["LP0"] = "line " lines["LP0"] " is " num
      next
    }
    if (tag == "PARPORT0") {
      section("parport0_send")
      if (num != ++lines["PARPORT0"] && !bad["PARPORT0"]) bad["PARPORT0"] = "line " lines["PARPORT0"] " is " num
      next
    }
    if (sec == "lp0_send") section("parport0_test_page")
    if (/"cmd":"text"/ && /0123456789/) digits[sec]++
    if (/"cmd":"cut"/) cuts[sec]++
  }
  END {
    split("lp0_test_page parport0_test_page", pages, " ")
    for (i = 1; i <= 2; i++) {
      p = pages[i]
      if (digits[p] < 7 || cuts[p] < 1)
        print p " the far end got " digits[p] + 0 " digit lines and " cuts[p] + 0 " cuts of the test page"
      else
        print p " ok"
    }
    split("LP0:lp0_send PARPORT0:parport0_send", sends, " ")
    for (i = 1; i <= 2; i++) {
      split(sends[i], kv, ":")
      if (bad[kv[1]] != "") print kv[2] " the far end got " kv[1] " out of order: " bad[kv[1]]
      else if (lines[kv[1]] != 20000) print kv[2] " the far end got " lines[kv[1]] + 0 " of the 20000 " kv[1] " lines"
      else print kv[2] " ok"
    }
  }' "$EVENTS" 2>/dev/null || true)

while read -r name rest; do
  [ -n "$name" ] || continue
  f="$RESULTS/$name"
  [ -f "$f" ] || continue              # not run in the machine (a scenario subset)
  first=
  read -r first <"$f" || true
  [[ $first == PASS* ]] || continue
  [ "$rest" = ok ] || echo "FAIL: $rest" >"$f"
done <<<"$verdicts"
