#!/usr/bin/env bash
# Runs every harness of a fuzz build for a set time each, one after the other.
#   tests/fuzz/run-fuzzers.sh BUILD_DIR SECONDS [NAME...]
# New inputs go to BUILD_DIR/fuzz-corpus/<name> (the seeds in tests/fuzz/corpus/<name> are only
# read); a failing input is kept as BUILD_DIR/fuzz-artifacts/<name>-crash-... and ends the
# script with a non-zero status after the other harnesses have run.
set -uo pipefail
build=${1:?build dir}
seconds=${2:?seconds per harness}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$build"/fuzz/fuzz_*; do
    [ -x "$f" ] && names+=("$(basename "$f")")
  done
fi
[ ${#names[@]} -gt 0 ] || { echo "run-fuzzers: no harness built in $build/fuzz" >&2; exit 1; }

mkdir -p "$build/fuzz-artifacts"
failed=()
for name in "${names[@]}"; do
  work="$build/fuzz-corpus/$name"
  mkdir -p "$work"
  seeds="$here/corpus/$name"
  [ -d "$seeds" ] || { echo "run-fuzzers: $name has no seed folder $seeds" >&2; failed+=("$name"); continue; }
  echo "== $name: $seconds s" >&2
  if ! "$build/fuzz/$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" "$seeds" \
      >"$build/fuzz-artifacts/$name.log" 2>&1; then
    tail -n 40 "$build/fuzz-artifacts/$name.log" >&2
    failed+=("$name")
  else
    grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$build/fuzz-artifacts/$name.log" | tr '\n' ' ' >&2
    echo >&2
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzzers: failed: ${failed[*]} (inputs and logs in $build/fuzz-artifacts)" >&2
  exit 1
fi
