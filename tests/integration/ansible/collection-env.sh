# Sourced by the collection's tests: a scratch folder (removed on exit, with every process the
# test started), the collection built from the source tree with ansible-galaxy and installed into
# it, and an environment that uses Debian's Python and nothing of the user's home.
# Needs: SOURCE_DIR. Sets: SCRATCH, COLLECTION (the installed collection's folder).
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

for program in ansible-galaxy ansible-playbook ansible-test; do
  command -v "$program" >/dev/null || skip "$program is not installed (scripts/install-deps.sh installs ansible-core)"
done

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/tavro-ansible-XXXXXX")
TAVRO_PIDS=()
TAVRO_CLEANUP=()
cleanup() {
  local status=$?
  for command in "${TAVRO_CLEANUP[@]}"; do eval "$command" || true; done
  for pid in "${TAVRO_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${TAVRO_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$SCRATCH"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Debian's ansible and Python only: a Python of the user's own (pyenv, a venv) lacks the Debian
# packages the tests use, and ansible-test keeps its environments under $HOME.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export HOME=$SCRATCH/home
export ANSIBLE_COLLECTIONS_PATH=$SCRATCH/collections
export ANSIBLE_LOCAL_TEMP=$SCRATCH/home/.ansible/tmp
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0
export LC_ALL=C.UTF-8
mkdir -p "$HOME"

ansible-galaxy collection build --output-path "$SCRATCH/dist" "$SOURCE_DIR/ansible/tavro/printer" >/dev/null ||
  fail "ansible-galaxy collection build"
tarballs=("$SCRATCH"/dist/tavro-printer-*.tar.gz)
ansible-galaxy collection install -p "$ANSIBLE_COLLECTIONS_PATH" "${tarballs[0]}" >/dev/null 2>&1 ||
  fail "ansible-galaxy collection install ${tarballs[0]}"
COLLECTION=$ANSIBLE_COLLECTIONS_PATH/ansible_collections/tavro/printer
[ -f "$COLLECTION/MANIFEST.json" ] || fail "the collection was not installed into $ANSIBLE_COLLECTIONS_PATH"

# start_sim OUT [PREFIX...] -- ARGS...: starts tavro-sim (behind PREFIX, e.g. `ip netns exec BOX`)
# with its lines in OUT and waits (at most 10 s) for its READY line. Its PID joins TAVRO_PIDS.
start_sim() {
  local out=$1; shift
  local prefix=()
  while [ "$1" != -- ]; do prefix+=("$1"); shift; done
  shift
  "${prefix[@]}" "$BIN_DIR/tavro-sim" --quiet "$@" >"$out" 2>&1 &
  TAVRO_PIDS+=($!)
  for _ in $(seq 100); do
    grep -qx READY "$out" && return 0
    kill -0 "${TAVRO_PIDS[-1]}" 2>/dev/null || fail "tavro-sim exited: $(cat "$out")"
    sleep 0.1
  done
  fail "tavro-sim printed no READY within 10 s: $(cat "$out")"
}
sim_value() { sed -n "s/^$2=//p" "$1"; }
