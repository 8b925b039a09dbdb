#!/usr/bin/env bash
# Many printers at once against the virtual fleet: settings and two logos over TCP.
#
#   bench/fleet_apply_bench.sh BUILD_DIR [N ...]        (default N: 20 200)
#
# For each N: one printer alone (tavroctl apply --port tcp://...), then N printers with
# --parallel N (or 500 when N > 500) from a printer list, then --check over the same N with
# nothing to change and one `plan` alone. Each run gets a fresh fleet (tavro-sim --printers N)
# and a fresh record. Prints wall time and tavroctl's peak memory (GNU time's maximum resident
# size) for each, and the ratios the goals are stated in.
set -euo pipefail
build=${1:?usage: fleet_apply_bench.sh BUILD_DIR [N ...]}
shift
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(20 200)
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

convert -size 384x120 xc:white -fill black -draw "rectangle 10,10 370,110" -monochrome "BMP3:$work/head.bmp"
convert -size 384x80 xc:white -fill black -draw "circle 192,40 192,5" -monochrome "BMP3:$work/foot.bmp"
cat >"$work/shop.yaml" <<EOF
tavro: 1
settings:
  speed: 150
  cut_mode: partial
logos:
  files: [head.bmp, foot.bmp]
EOF

# start_fleet N: a fresh fleet, its run folder under $work/fleet-N.
start_fleet() {
    local n=$1
    rm -rf "$work/fleet-$n"
    "$bin/tavro-sim" --printers "$n" --family 6 --quiet --run-dir "$work/fleet-$n" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 200); do
        grep -q '^READY' "$work/sim.out" && return 0
        sleep 0.05
    done
    echo "the fleet did not start: $(cat "$work/sim.err")" >&2
    exit 1
}
stop_fleet() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}
# address K: the fleet's address of printer K (127.0.1.1 ... 127.0.1.254, 127.0.2.1 ...).
address() {
    local i=$(($1 - 1))
    echo "127.0.$((1 + i / 254)).$((1 + i % 254))"
}
# timed LABEL ARGS...: runs tavroctl with a fresh record unless KEEP_RECORD is set; prints
# "LABEL seconds peak-kB exit".
timed() {
    local label=$1
    shift
    [ -n "${KEEP_RECORD:-}" ] || rm -rf "$work/state"
    local rc=0
    (cd "$work" && XDG_STATE_HOME="$work/state" /usr/bin/time -f "%e %M" -o "$work/time.out" \
        "$bin/tavroctl" --device "TAVRO46/48 E-II" "$@" >"$work/out.txt" 2>"$work/err.txt") || rc=$?
    # GNU time writes a "Command exited" line first when the status is not 0.
    secs=$(tail -1 "$work/time.out" | cut -d' ' -f1)
    kb=$(tail -1 "$work/time.out" | cut -d' ' -f2)
    echo "$label $secs $kb $rc"
}

# One printer alone finds its module's MAC with a search sent to its own address (loopback).
search1="--broadcast $(address 1) --bind 127.0.0.1"
printf '%-34s %8s %10s %5s\n' "run" "seconds" "peak kB" "exit"
for n in "${sizes[@]}"; do
    parallel=$n
    [ "$n" -gt 500 ] && parallel=500
    {
        echo "printers:"
        for k in $(seq 1 "$n"); do
            echo "  - {name: p$k, port: 'tcp://$(address "$k"):6001'}"
        done
    } >"$work/fleet.yaml"

    start_fleet 1
    read -r _ one_s one_kb one_rc < <(timed one apply shop.yaml --port "tcp://$(address 1):6001" $search1)
    stop_fleet
    start_fleet "$n"
    read -r _ all_s all_kb all_rc < <(timed all apply shop.yaml --targets fleet.yaml --parallel "$parallel" --json)
    summary=$(tail -1 "$work/out.txt")
    read -r _ check_s check_kb check_rc < <(KEEP_RECORD=1 timed check apply shop.yaml --targets fleet.yaml --parallel "$parallel" --check --json)
    read -r _ plan_s plan_kb plan_rc < <(KEEP_RECORD=1 timed plan plan shop.yaml --port "tcp://$(address 1):6001" $search1)
    stop_fleet

    printf '%-34s %8s %10s %5s\n' "1 printer alone" "$one_s" "$one_kb" "$one_rc"
    printf '%-34s %8s %10s %5s\n' "$n printers, --parallel $parallel" "$all_s" "$all_kb" "$all_rc"
    printf '%-34s %8s %10s %5s\n' "$n printers --check, unchanged" "$check_s" "$check_kb" "$check_rc"
    printf '%-34s %8s %10s %5s\n' "1 plan alone" "$plan_s" "$plan_kb" "$plan_rc"
    awk -v a="$all_s" -v o="$one_s" -v c="$check_s" -v p="$plan_s" -v n="$n" \
        'BEGIN { printf "  ratio apply %d / one: %.2f   check %d / one plan: %.2f\n", n, a / o, n, c / p }'
    echo "  summary: $summary"
done
