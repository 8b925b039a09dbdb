#!/usr/bin/env bash
# POS boxes reached over SSH: a LAN of network namespaces (a controller and four boxes on one
# bridge), each box with its own sshd and its own virtual printer on a serial pty, and
# ansible-playbook in the controller running a rollout in batches. First every box's printer
# reaches the state; then one box's printer is gone and the rollout stops after its batch.
# Usage: pos-boxes-ssh.sh SOURCE_DIR BIN_DIR   (root; exits 77 where it cannot run)
SOURCE_DIR=${1:?usage: pos-boxes-ssh.sh SOURCE_DIR BIN_DIR}
BIN_DIR=${2:?usage: pos-boxes-ssh.sh SOURCE_DIR BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root for network namespaces and sshd"; exit 77; }
source "$HERE/collection-env.sh"
# As root in CI this test must run: what it lacks there is a failure, not a skip.
[ -z "${CI:-}" ] || skip() { fail "as root in CI: $*"; }
for program in ip sshd ssh ssh-keygen; do
  command -v "$program" >/dev/null || skip "$program is not installed (scripts/install-deps.sh installs it)"
done
[ -x "$BIN_DIR/tavroctl" ] && [ -x "$BIN_DIR/tavro-sim" ] || skip "tavroctl and tavro-sim are not built in $BIN_DIR"

tag=tva$$
ctl=$tag-ctl
boxes=(1 2 3 4)
TAVRO_CLEANUP+=("ip netns del $ctl 2>/dev/null")
ip netns add "$ctl" 2>"$SCRATCH/netns.err" || skip "cannot make a network namespace here: $(cat "$SCRATCH/netns.err")"
ip -n "$ctl" link set lo up
ip -n "$ctl" link add br0 type bridge
ip -n "$ctl" addr add 10.77.0.1/24 dev br0
ip -n "$ctl" link set br0 up
if [ ! -d /run/sshd ]; then
  mkdir -p /run/sshd
  TAVRO_CLEANUP+=("rmdir /run/sshd")
fi

ssh-keygen -q -t ed25519 -N '' -f "$SCRATCH/id" -C tavro-test
ssh-keygen -q -t ed25519 -N '' -f "$SCRATCH/hostkey" -C tavro-box
inventory=$SCRATCH/hosts
printf '[pos]\n' >"$inventory"
declare -A sim_pid
for n in "${boxes[@]}"; do
  box=$tag-b$n dir=$SCRATCH/box$n addr=10.77.0.$((10 + n))
  mkdir -p "$dir/xdg"
  TAVRO_CLEANUP+=("ip netns del $box 2>/dev/null")
  ip netns add "$box"
  ip -n "$box" link set lo up
  ip link add "$tag-v$n" netns "$ctl" type veth peer name eth0 netns "$box"
  ip -n "$ctl" link set "$tag-v$n" master br0 up
  ip -n "$box" addr add "$addr/24" dev eth0
  ip -n "$box" link set eth0 up
  cat >"$dir/sshd_config" <<CONFIG
ListenAddress $addr
PidFile $dir/sshd.pid
HostKey $SCRATCH/hostkey
AuthorizedKeysFile $SCRATCH/id.pub
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp /usr/lib/openssh/sftp-server
CONFIG
  ip netns exec "$box" /usr/sbin/sshd -D -f "$dir/sshd_config" -E "$dir/sshd.log" &
  TAVRO_PIDS+=($!)
  # The box's till printer: a virtual printer on a serial pty, started inside the box.
  start_sim "$dir/sim.out" ip netns exec "$box" -- --family 6 --serial --run-dir "$dir/sim"
  sim_pid[$n]=${TAVRO_PIDS[-1]}
  printf 'box%s ansible_host=%s box_dir=%s printer_port=%s\n' "$n" "$addr" "$dir" "$dir/sim/ttySIM0" >>"$inventory"
done
cat >>"$inventory" <<VARS
[pos:vars]
ansible_user=root
ansible_ssh_private_key_file=$SCRATCH/id
ansible_ssh_common_args='-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o ConnectTimeout=10'
ansible_python_interpreter=/usr/bin/python3
tavroctl_path=$BIN_DIR/tavroctl
VARS

# speed_of N: the speed box N's printer reports now.
speed_of() {
  XDG_STATE_HOME=$SCRATCH/box$1/xdg "$BIN_DIR/tavroctl" --device 'TAVRO46/48 S' --port "$SCRATCH/box$1/sim/ttySIM0" \
    --json setup get | /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["speed"])'
}
# Ansible's SSH master connections live in the scratch folder and are closed before it goes.
export ANSIBLE_SSH_CONTROL_PATH_DIR=$SCRATCH/cp
TAVRO_CLEANUP+=('for s in "$SCRATCH"/cp/*; do [ -S "$s" ] && ssh -o ControlPath="$s" -O exit box >/dev/null 2>&1; done')
playbook() {
  ip netns exec "$ctl" ansible-playbook -i "$inventory" -f 4 -e "speed=$1" "$HERE/playbooks/rollout.yml"
}

# Every box's printer reaches the state, batch by batch.
for _ in $(seq 50); do
  all=1
  for n in "${boxes[@]}"; do [ -s "$SCRATCH/box$n/sshd.pid" ] || all=; done
  [ -n "$all" ] && break
  sleep 0.1
done
playbook 150 >"$SCRATCH/first.log" 2>&1 || fail "the rollout failed: $(cat "$SCRATCH/first.log")"
for n in "${boxes[@]}"; do
  grep -q "^box$n .*changed=1 .*failed=0" "$SCRATCH/first.log" || fail "box$n: $(cat "$SCRATCH/first.log")"
  [ "$(speed_of "$n")" = 150 ] || fail "box$n's printer reports speed $(speed_of "$n") after the rollout"
done

# Box 2's printer goes away. Batches: box1 | box2 box3 | box4: box2 fails, its batch ends, box4
# is never reached.
kill "${sim_pid[2]}"
wait "${sim_pid[2]}" 2>/dev/null || true
status=0
playbook 180 >"$SCRATCH/second.log" 2>&1 || status=$?
[ "$status" = 2 ] || fail "a failed box made ansible-playbook exit $status, not 2: $(cat "$SCRATCH/second.log")"
grep -q "fatal: \[box2\]: FAILED!.*cannot open serial port" "$SCRATCH/second.log" ||
  fail "box2's failure does not carry tavroctl's message: $(cat "$SCRATCH/second.log")"
grep -q "^box4 " "$SCRATCH/second.log" && fail "the rollout went on to box4: $(cat "$SCRATCH/second.log")"
[ "$(speed_of 1)" = 180 ] || fail "box1 (first batch) was not changed"
[ "$(speed_of 3)" = 180 ] || fail "box3 (box2's batch) was not changed"
[ "$(speed_of 4)" = 150 ] || fail "box4 (after the failed batch) was changed"
echo "PASS"
