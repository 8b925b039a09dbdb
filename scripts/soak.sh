#!/usr/bin/env bash
# make soak: hunts the checks that fail by chance. Runs the whole suite of a build RUNS times,
# each time with JOBS tests at once (by default twice the cores, so that the tests crowd each
# other and their timing differs from run to run), then lists every test that failed even once
# and how often. With --deb-check, the package check of the build's packages runs RUNS times
# too, after each pass of the suite. Each pass keeps its full log in BUILD/soak/.
#   soak.sh BUILD RUNS JOBS [--deb-check] [CTEST_ARGS...]
# Exit status 0 when nothing failed, 1 otherwise.
set -uo pipefail
BUILD=$(cd "${1:?usage: soak.sh BUILD RUNS JOBS [--deb-check] [CTEST_ARGS...]}" && pwd)
RUNS=${2:-5}
JOBS=${3:-$(($(nproc) * 2))}
shift 3 2>/dev/null || shift $#
DEB_CHECK=0
if [ "${1:-}" = --deb-check ]; then
  DEB_CHECK=1
  shift
fi
SRC=$(cd "$(dirname "$0")/.." && pwd)
OUT="$BUILD/soak"
rm -rf "$OUT"
mkdir -p "$OUT"
: >"$OUT/failures"

for run in $(seq 1 "$RUNS"); do
  start=$(date +%s)
  (cd "$BUILD" && ctest -j "$JOBS" --timeout 300 --output-on-failure "$@") >"$OUT/run-$run.log" 2>&1
  rc=$?
  # ctest ends a run with a failure with "The following tests FAILED:" and one line per test:
  #   "	 12 - port_serial.Stall (Failed)"
  failed=$(sed -n '/^The following tests FAILED:/,$p' "$OUT/run-$run.log" |
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(.*\))$/\1 (\2)/p')
  summary=$(grep -E '^[0-9]+% tests passed' "$OUT/run-$run.log" || echo "no summary (ctest exit $rc)")
  echo "soak: run $run/$RUNS, $((($(date +%s) - start)))s: $summary"
  if [ -n "$failed" ]; then
    sed "s/^/  run $run: /" <<<"$failed"
    sed "s/^/$run /" <<<"$failed" >>"$OUT/failures"
  elif [ "$rc" -ne 0 ]; then
    echo "  run $run: ctest exited $rc without naming a test" | tee -a "$OUT/failures"
  fi
  if [ "$DEB_CHECK" -eq 1 ]; then
    if bash "$SRC/packaging/check-debs.sh" "$BUILD/packages" >"$OUT/deb-$run.log" 2>&1; then
      echo "soak: run $run/$RUNS: package check passed"
    else
      echo "soak: run $run/$RUNS: package check FAILED: $(tail -n 1 "$OUT/deb-$run.log")"
      echo "$run deb-check ($(tail -n 1 "$OUT/deb-$run.log"))" >>"$OUT/failures"
    fi
  fi
done

if [ ! -s "$OUT/failures" ]; then
  echo "soak: $RUNS runs with $JOBS jobs, no test failed"
  exit 0
fi
echo "soak: tests that failed in $RUNS runs with $JOBS jobs (times failed, test):"
cut -d' ' -f2- "$OUT/failures" | sed 's/ (.*)$//' | sort | uniq -c | sort -rn
exit 1
