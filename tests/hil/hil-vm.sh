#!/usr/bin/env bash
# Boots a small virtual machine in which tavroctl meets tavro-sim through the kernel's own
# drivers: a USB printer (usblp <-> g_printer through dummy_hcd), a USB virtual serial port
# (cdc-acm <-> g_serial), a UART pair (8250) and a parallel port (parport_pc, lp, ppdev) whose
# far end is a FIFO on this machine, served by a second tavro-sim here.
#
#   hil-vm.sh BIN_DIR OUT_DIR [CACHE_DIR]
#
# Everything comes from Debian packages: the kernel named by linux-image-amd64's dependency
# (fetched with apt-get download, unpacked with dpkg -x, kept in CACHE_DIR by version), busybox
# from busybox-static, qemu from qemu-system-x86. The scenarios run inside (scenarios.sh); each
# one's verdict lands in OUT_DIR/results/NAME as "PASS", "FAIL: why" or "SKIP: why", and
# OUT_DIR/status says whether the machine ran at all. Exit 0 when the machine ran (whatever the
# verdicts), 77 when it could not start here (the reason is in OUT_DIR/status), 1 on a fault of
# the rig itself.
#
# The caller holds the build lock; this script takes no lock of its own.
set -euo pipefail

BIN=$(cd "$1" && pwd)
OUT=$2
HERE=$(cd "$(dirname "$0")" && pwd)
CACHE=${3:-$OUT/../hil-cache}
BOOT_TIMEOUT=${TAVRO_HIL_TIMEOUT:-240}

mkdir -p "$OUT" "$CACHE"
OUT=$(cd "$OUT" && pwd)
CACHE=$(cd "$CACHE" && pwd)
rm -rf "$OUT/results" "$OUT/status" "$OUT/console.log" "$OUT/initramfs" "$OUT/initramfs.cpio"
mkdir -p "$OUT/results"

skip() {
  echo "SKIP: $*" >"$OUT/status"
  echo "hil: skipped: $*" >&2
  exit 77
}
log() { echo "hil: $*" >&2; }

[ "$(id -u)" -eq 0 ] || skip "not root (apt-get download into the cache and the VM's device setup need it)"
for tool in qemu-system-x86_64 busybox cpio dpkg apt-get apt-cache ldd python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ -x "$BIN/tavroctl" ] && [ -x "$BIN/tavro-sim" ] || skip "tavroctl or tavro-sim is not built in $BIN"
avail_kb=$(df -Pk "$CACHE" | awk 'NR==2 {print $4}')
[ "${avail_kb:-0}" -gt 400000 ] || skip "less than 400 MB free in $CACHE"

# --- the kernel ------------------------------------------------------------------------------
KPKG=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '!found && /Depends: linux-image-[0-9]/ {print $2; found = 1}')
[ -n "$KPKG" ] || skip "apt-cache does not know linux-image-amd64's kernel package (apt-get update?)"
KDIR="$CACHE/$KPKG"
MODULES=(configfs usb-common usbcore udc-core libcomposite dummy_hcd usb_f_printer usblp
         u_serial usb_f_acm cdc-acm parport parport_pc lp ppdev)
if [ ! -f "$KDIR/ready" ]; then
  log "fetching $KPKG"
  rm -rf "$KDIR" "$CACHE/dl"
  mkdir -p "$CACHE/dl" "$KDIR/modules"
  (cd "$CACHE/dl" && apt-get download "$KPKG" >/dev/null 2>"$CACHE/dl/apt.err") ||
    skip "apt-get download $KPKG failed: $(tail -n 1 "$CACHE/dl/apt.err")"
  dpkg -x "$CACHE"/dl/*.deb "$CACHE/dl/x"
  cp "$CACHE"/dl/x/boot/vmlinuz-* "$KDIR/vmlinuz"
  for m in "${MODULES[@]}"; do
    f=$(find "$CACHE/dl/x/lib/modules" \( -name "$m.ko" -o -name "$m.ko.xz" -o -name "$m.ko.zst" \) -print -quit)
    [ -n "$f" ] || { log "module $m missing in $KPKG"; exit 1; }
    case "$f" in
      *.xz) xz -dc "$f" >"$KDIR/modules/$m.ko" ;;
      *.zst) zstd -qdc "$f" >"$KDIR/modules/$m.ko" ;;
      *) cp "$f" "$KDIR/modules/$m.ko" ;;
    esac
  done
  rm -rf "$CACHE/dl"
  touch "$KDIR/ready"
fi

# --- the initramfs ---------------------------------------------------------------------------
ROOT="$OUT/initramfs"
mkdir -p "$ROOT"/{bin,lib,lib64,dev,proc,sys,tmp,hil,modules,etc}
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$ROOT/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$ROOT/etc/group"
cp "$(command -v busybox)" "$ROOT/bin/busybox"
cp "$KDIR"/modules/*.ko "$ROOT/modules/"
# The programs without their debug information, and the shared libraries they load.
for prog in tavroctl tavro-sim; do
  objcopy --strip-debug "$BIN/$prog" "$ROOT/bin/$prog"
  ldd "$BIN/$prog" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}' | while read -r lib; do
    dest="$ROOT$lib"
    mkdir -p "$(dirname "$dest")"
    [ -f "$dest" ] || cp -L "$lib" "$dest"
  done
done
cp "$HERE/vm-init.sh" "$ROOT/init"
cp "$HERE/scenarios.sh" "$ROOT/hil/scenarios.sh"
chmod +x "$ROOT/init"
# The send payloads: numbered text lines, so that the far end can tell each one arrived whole
# and in order. About 500 kB each.
make_payload() {
  awk -v tag="$1" 'BEGIN { for (i = 1; i <= 20000; i++) printf "%s %06d abcdefghijklm\n", tag, i }' >"$2"
}
for tag in USBLP ACM UART LP0 PARPORT0; do make_payload "$tag" "$ROOT/hil/$tag.txt"; done
# The logo pictures with the rasters the printer must hold, the firmware image with the digest
# its program area must leave.
python3 "$HERE/payloads.py" "$ROOT/hil"
(cd "$ROOT" && find . | cpio -o -H newc --quiet) >"$OUT/initramfs.cpio"

# --- the parallel port's far end: a FIFO served by tavro-sim on this machine ---------------------
PAR="$OUT/parallel"
rm -rf "$PAR"
mkdir -p "$PAR"
mkfifo "$PAR/lpt.in" "$PAR/lpt.out"
SIM_PID=
QEMU_PID=
cleanup() {
  [ -n "$QEMU_PID" ] && kill "$QEMU_PID" 2>/dev/null || true
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
}
trap cleanup EXIT
"$BIN/tavro-sim" --family 5 --quiet --parallel-far-end "$PAR/lpt.out" --run-dir "$PAR/run" \
  --state "$PAR/state" >"$PAR/sim.out" 2>"$PAR/sim.err" &
SIM_PID=$!
for _ in $(seq 1 100); do
  grep -qx READY "$PAR/sim.out" 2>/dev/null && break
  kill -0 "$SIM_PID" 2>/dev/null || break
  sleep 0.1
done
grep -qx READY "$PAR/sim.out" || { log "host tavro-sim did not start: $(cat "$PAR/sim.err")"; exit 1; }

# --- boot ----------------------------------------------------------------------------------
# TCG only: /dev/kvm may exist on these machines without working. The UART pair is one
# ISA port (ttyS1, the tool's) wired to a PCI 16550 (the printer's) through a socket inside qemu.
# A subset of the scenarios (while working on one): TAVRO_HIL_SCENARIOS="usb_send acm_send".
APPEND="console=ttyS0 edd=off panic=-1 quiet loglevel=1 tsc=unstable"
[ -n "${TAVRO_HIL_SCENARIOS:-}" ] && APPEND="$APPEND hil_scenarios=$(echo "$TAVRO_HIL_SCENARIOS" | tr ' ' ',')"
log "booting $KPKG"
start=$(date +%s.%N)
timeout --kill-after=10 "$BOOT_TIMEOUT" qemu-system-x86_64 -accel tcg -m 640 -smp 1 -nographic -no-reboot \
  -kernel "$KDIR/vmlinuz" -initrd "$OUT/initramfs.cpio" \
  -append "$APPEND" \
  -serial "file:$OUT/console.log" \
  -chardev "socket,id=uarta,path=$OUT/uart.sock,server=on,wait=off" -serial chardev:uarta \
  -chardev "socket,id=uartb,path=$OUT/uart.sock" -device pci-serial,chardev=uartb \
  -chardev "pipe,id=lpt,path=$PAR/lpt" -parallel chardev:lpt \
  -net none -monitor none </dev/null >"$OUT/qemu.log" 2>&1 &
QEMU_PID=$!
qemu_rc=0
wait "$QEMU_PID" || qemu_rc=$?
QEMU_PID=
end=$(date +%s.%N)
rm -f "$OUT/uart.sock"

# Give the far end a moment to take what is still in the FIFO, then stop it.
sleep 0.5
kill "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=

# The rig's own lines, without the terminal resets the firmware writes in front of them.
tr -d '\r' <"$OUT/console.log" | sed -n 's/.*\(HIL-\(BOOTED\|RESULT\|DONE\|FATAL\|LOG\)\)/\1/p' >"$OUT/console.txt"
if ! grep -q '^HIL-BOOTED' "$OUT/console.txt"; then
  if grep -q "failed to initialize\|Could not access KVM\|cannot allocate" "$OUT/qemu.log"; then
    skip "qemu could not start: $(head -n 1 "$OUT/qemu.log")"
  fi
  log "the machine did not come up (qemu exit $qemu_rc); console:"
  tail -n 30 "$OUT/console.log" >&2
  cat "$OUT/qemu.log" >&2
  echo "FAIL: the machine did not come up (qemu exit $qemu_rc)" >"$OUT/status"
  exit 1
fi

# One file per scenario: "HIL-RESULT NAME VERDICT [why]".
grep '^HIL-RESULT ' "$OUT/console.txt" | while read -r _ name verdict rest; do
  case "$verdict" in
    PASS) echo "PASS" >"$OUT/results/$name" ;;
    SKIP) echo "SKIP: $rest" >"$OUT/results/$name" ;;
    *) echo "FAIL: $rest" >"$OUT/results/$name" ;;
  esac
done
# What the parallel port carried is judged here, where its far end ran.
bash "$HERE/parallel-check.sh" "$PAR/state/events.jsonl" "$OUT/results"

booted=$(awk '/^HIL-BOOTED/ {print $2; exit}' "$OUT/console.txt")
total=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}')
if grep -q '^HIL-DONE' "$OUT/console.txt"; then
  echo "RAN: booted in ${booted}s, machine ran ${total}s" >"$OUT/status"
else
  echo "RAN: the machine stopped before the end (qemu exit $qemu_rc, after ${total}s)" >"$OUT/status"
fi
log "$(cat "$OUT/status")"
for f in "$OUT"/results/*; do log "$(basename "$f"): $(head -n 1 "$f")"; done
# The printer's view of each failure goes with its verdict.
# (None when every scenario passed: grep finding nothing is no fault of the rig.)
{ grep '^HIL-LOG ' "$OUT/console.txt" || true; } | while read -r _ name line; do
  [ -f "$OUT/results/$name" ] && echo "  $line" >>"$OUT/results/$name"
done
exit 0
