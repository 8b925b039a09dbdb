#!/usr/bin/env bash
# The collection against tavro-sim on loopback, over Ansible's local connection: facts, check
# mode, apply, a second apply without changes, --diff, and a printer that fails.
# Usage: playbook-sim.sh SOURCE_DIR BIN_DIR
SOURCE_DIR=${1:?usage: playbook-sim.sh SOURCE_DIR BIN_DIR}
BIN_DIR=${2:?usage: playbook-sim.sh SOURCE_DIR BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/collection-env.sh"
[ -x "$BIN_DIR/tavroctl" ] && [ -x "$BIN_DIR/tavro-sim" ] || skip "tavroctl and tavro-sim are not built in $BIN_DIR"

# The network module on its own loopback address, with the raw TCP port on the same address, so
# that the search's answer is the printer the connection reaches.
start_sim "$SCRATCH/sim.out" -- --family 6 --tcp 127.77.0.5:0 --udp 127.77.0.5 --run-dir "$SCRATCH/sim"
tcp=$(sim_value "$SCRATCH/sim.out" TAVRO_SIM_TCP)
mkdir -p "$SCRATCH/xdg"
printf 'till ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n' >"$SCRATCH/hosts"
vars=(-e "scratch=$SCRATCH" -e "bin_dir=$BIN_DIR" -e "sim_tcp=$tcp")

ansible-playbook -i "$SCRATCH/hosts" "${vars[@]}" --diff "$HERE/playbooks/sim.yml" >"$SCRATCH/sim.log" 2>&1 ||
  fail "the playbook against the simulator failed: $(cat "$SCRATCH/sim.log")"
grep -q 'ok=9 .*changed=3 .*failed=0' "$SCRATCH/sim.log" || fail "unexpected recap: $(cat "$SCRATCH/sim.log")"
# --diff prints the before and the after of the last change.
grep -q '^-  *"settings.speed": "150"' "$SCRATCH/sim.log" && grep -q '^+  *"settings.speed": "180"' "$SCRATCH/sim.log" ||
  fail "--diff did not show the speed before and after: $(cat "$SCRATCH/sim.log")"

status=0
ansible-playbook -i "$SCRATCH/hosts" "${vars[@]}" "$HERE/playbooks/dead.yml" >"$SCRATCH/dead.log" 2>&1 || status=$?
[ "$status" = 2 ] || fail "a failing printer made ansible-playbook exit $status, not 2: $(cat "$SCRATCH/dead.log")"
grep -q "fatal: \[till\]: FAILED!.*cannot open serial port $SCRATCH/ttyGONE" "$SCRATCH/dead.log" ||
  fail "the failed task does not carry tavroctl's message: $(cat "$SCRATCH/dead.log")"
echo "PASS"
