# The rig's scenarios, run by the virtual machine's init (busybox sh) after the drivers are
# up: tavroctl on the host side of each real device, tavro-sim on the printer's side. Every
# scenario prints one "HIL-RESULT NAME PASS|FAIL|SKIP why" line; each asserts what the printer
# received and what the tool said, not only exit codes.
#
# The printer is a TAVRO36/38 (family 5): USB printer 5A3E:3302, virtual serial port 5A3E:3301.

UDC_PRINTER=/sys/kernel/config/usb_gadget/printer/UDC
UDC_ACM=/sys/kernel/config/usb_gadget/acm/UDC
# The cable pulled and put back, as the host sees it: the host lets the printer go (its USB
# device deauthorized: usblp is unbound, the node goes, the printer is unconfigured) and takes
# it again. Unbinding the printer's gadget from its UDC instead, while the host's write is held
# up, let the kernel's printer gadget complete a request on a list it had freed (a panic in
# rx_complete in one run of two under load); the gadget's disconnect at the UDC
# (soft_connect) is not seen again by dummy_hcd's host when it connects.
printer_usb_device() {
  for d in /sys/bus/usb/devices/*; do
    [ "$(cat "$d/idProduct" 2>/dev/null)" = 3302 ] && { echo "$d"; return 0; }
  done
  return 1
}
# within TENTHS COMMAND...: true once COMMAND succeeds, false when it still fails after TENTHS
# tenths of a second.
within() {
  within_tenths=$1
  shift
  within_i=0
  until "$@"; do
    [ $within_i -ge "$within_tenths" ] && return 1
    sleep 0.1
    within_i=$((within_i + 1))
  done
}
absent() { [ ! -e "$1" ]; }
# Off the bus once the host has let the printer go (its node is gone).
unplug_printer() {
  d=$(printer_usb_device) || return 1
  echo "$d" >/tmp/printer-unplugged
  echo 0 >"$d/authorized" && within 100 absent /dev/usb/lp0
}
# Back on the bus once the host has configured it again (its node is back): before that the
# gadget refuses to be opened (ENODEV).
plug_printer() {
  [ -e /tmp/printer-unplugged ] || return 0
  d=$(cat /tmp/printer-unplugged)
  rm -f /tmp/printer-unplugged
  echo 1 >"$d/authorized" && within 100 [ -e /dev/usb/lp0 ]
}

SIM_PID=
SIM_DIR=
N=0

# The printer's end of the UART pair: the PCI 16550 (the ISA ports are ttyS0, the console,
# and ttyS1, the tool's).
SIM_TTY=
for t in /sys/class/tty/ttyS*; do
  n=${t##*/}
  [ "$n" = ttyS0 ] || [ "$n" = ttyS1 ] && continue
  [ -e "$t/device" ] && [ "$(cat "$t/type" 2>/dev/null)" != 0 ] && { SIM_TTY=/dev/$n; break; }
done

fail() { echo "$*" >"$SIM_DIR/verdict"; exit 1; }
skip() { echo "$*" >"$SIM_DIR/verdict"; exit 77; }

# start_sim ARGS...: the virtual printer on the given device nodes, waiting for READY. It takes
# 200 ms to store settings before it restarts, as a real printer writes its flash first: one
# that went off the bus at once could do so on the machine's one CPU while the tool's write of
# the frame was still in the kernel, and usblp then answers ENODEV for bytes it delivered.
start_sim() {
  tavro-sim --family 5 --quiet --restart-ms 1500 --store-ms 200 --run-dir "$SIM_DIR/run" --state "$SIM_DIR/state" "$@" \
    >"$SIM_DIR/sim.out" 2>"$SIM_DIR/sim.err" &
  SIM_PID=$!
  echo $SIM_PID >>"$SIM_DIR/sim.pids"
  i=0
  until grep -qx READY "$SIM_DIR/sim.out" 2>/dev/null; do
    kill -0 $SIM_PID 2>/dev/null || fail "tavro-sim did not start: $(cat "$SIM_DIR/sim.err")"
    i=$((i + 1))
    [ $i -gt 100 ] && fail "tavro-sim did not become ready"
    sleep 0.1
  done
}
stop_sim() {
  [ -n "$SIM_PID" ] && { kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null; }
  SIM_PID=
}
events() { cat "$SIM_DIR/state/events.jsonl" 2>/dev/null; }
# count PATTERN: how many events match the extended regular expression.
count() { events | grep -cE "$1"; }

# tool OUTFILE SECONDS ARGS...: tavroctl with a hard bound; the exit code is kept in $RC.
tool() {
  out=$1
  secs=$2
  shift 2
  timeout "$secs" tavroctl "$@" >"$out" 2>&1
  RC=$?
  [ $RC -eq 143 ] && fail "tavroctl $* did not end within ${secs}s: $(tail -n 2 "$out" | tr '\n' ' ')"
  return 0
}
expect_ok() { [ "$RC" -eq 0 ] || fail "$1 failed (exit $RC): $(tail -n 3 "$2" | tr '\n' ' ')"; }
expect_line() { grep -qxF "$1" "$2" || fail "no line '$1' in $(basename "$2"): $(head -c 300 "$2" | tr '\n' '|')"; }

# The factory values of a TAVRO36/38, as the printer answers Get Value.
expect_factory() {
  for kv in "paper_width = 80" "speed = 180" "margin = 0" "bell_count = 3" "nv_graphic = 128" "cut_mode = partial"; do
    expect_line "$kv" "$1"
  done
}

# scenario NAME FUNCTION: runs FUNCTION in a subshell with its own folder and a fresh printer.
scenario() {
  N=$((N + 1))
  SIM_DIR=/tmp/s$N-$1
  mkdir -p "$SIM_DIR"
  start=$(cut -d' ' -f1 /proc/uptime)
  ( "$2" ) >"$SIM_DIR/log" 2>&1
  rc=$?
  stop_sim_of "$SIM_DIR"
  end=$(cut -d' ' -f1 /proc/uptime)
  why=$(head -n 1 "$SIM_DIR/verdict" 2>/dev/null)
  case $rc in
    0) echo "HIL-RESULT $1 PASS ($(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1fs", b - a}'))" ;;
    77) echo "HIL-RESULT $1 SKIP $why" ;;
    *) echo "HIL-RESULT $1 FAIL ${why:-exit $rc: $(tail -n 2 "$SIM_DIR/log" | tr '\n' ' ')}"
       # What the printer saw last, for whoever reads the failure.
       { tail -n 4 "$SIM_DIR/log"; tail -n 3 "$SIM_DIR/sim.err"; grep -v '"cmd":"text"' "$SIM_DIR/state/events.jsonl" | tail -n ${HIL_LOG_LINES:-8}; } 2>/dev/null |
         cut -c 1-300 | sed "s/^/HIL-LOG $1 /" ;;
  esac
}
# A scenario's printer outlives a failed check in its subshell: stop it from here, and wait
# until each of its processes is gone. A printer that was still ending held /dev/g_printer0
# (the gadget takes one opener) and the next scenario's printer found it busy.
stop_sim_of() {
  for p in $(cat "$1/sim.pids" 2>/dev/null); do
    kill "$p" 2>/dev/null
    within 50 ended "$p" || { kill -9 "$p" 2>/dev/null; within 50 ended "$p"; } ||
      echo "HIL-LOG $1 tavro-sim $p did not end" >&2
  done
  # Scenarios that unplug leave the gadget plugged in again for the next one.
  plug_printer
  [ -n "$(cat $UDC_PRINTER)" ] || echo dummy_udc.0 >$UDC_PRINTER
  [ -n "$(cat $UDC_ACM)" ] || echo dummy_udc.1 >$UDC_ACM
  wait_node /dev/usb/lp0
  wait_node '/dev/ttyACM*'
}
# ended PID: the process is gone, or a zombie whose descriptors are closed.
ended() { [ ! -d "/proc/$1" ] || grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; }
# wait_node PATTERN: up to 5 s for a node (the ACM port may come back under another number
# when the old one was still held open at the unplug).
wait_node() { within 50 exists "$1" || true; }
# exists PATTERN: a file matches the pattern.
exists() { ls $1 >/dev/null 2>&1; }

# --- discovery ---------------------------------------------------------------------------------
s_ports() {
  tool "$SIM_DIR/ports" 30 ports
  expect_ok "tavroctl ports" "$SIM_DIR/ports"
  # Found by id on the real sysfs: the USB printer under its id, the ACM port under its own.
  awk '/^USB printers:/ {s = 1; next} /^[^ ]/ {s = 0} s' "$SIM_DIR/ports" | grep -q 'VID_5A3E&PID_3302.*/dev/usb/lp0$' ||
    fail "the USB printer 5A3E:3302 at /dev/usb/lp0 is not listed under USB printers: $(tr '\n' '|' <"$SIM_DIR/ports")"
  awk '/^USB virtual serial ports:/ {s = 1; next} /^[^ ]/ {s = 0} s' "$SIM_DIR/ports" | grep -q 'VID_5A3E&PID_3301.*/dev/ttyACM0$' ||
    fail "the ACM port 5A3E:3301 at /dev/ttyACM0 is not listed: $(tr '\n' '|' <"$SIM_DIR/ports")"
  awk '/^Parallel ports:/ {s = 1; next} /^[^ ]/ {s = 0} s' "$SIM_DIR/ports" | grep -q '/dev/lp0$' ||
    fail "/dev/lp0 is not listed under Parallel ports: $(tr '\n' '|' <"$SIM_DIR/ports")"
  # A USB printer node is not a parallel port.
  awk '/^Parallel ports:/ {s = 1; next} /^[^ ]/ {s = 0} s' "$SIM_DIR/ports" | grep -q '/dev/usb/' &&
    fail "/dev/usb/lp0 is listed as a parallel port"
  return 0
}

# --- the user setup over one connection --------------------------------------------------------
# setup_get VIA ARGS...: Get Value reads the factory values, each answered once by the printer.
setup_get() {
  via=$1
  shift
  tool "$SIM_DIR/get" 60 "$@" setup get
  expect_ok "setup get" "$SIM_DIR/get"
  expect_factory "$SIM_DIR/get"
  n=$(count "\"via\":\"$via\".*\"cmd\":\"user-setting\".*\"fn\":6")
  [ "$n" -ge 17 ] || fail "the printer answered $n Function 6 requests over $via, expected at least 17"
}

# setup_set VIA RESTARTS ARGS...: Set Value with --verify, the values on the printer, and a
# second read (after the printer's restart where it restarts) that sees them.
setup_set() {
  via=$1
  restarts=$2
  shift 2
  tool "$SIM_DIR/set" 90 "$@" setup set paper_width=58 speed=150 margin=384 --verify
  expect_ok "setup set --verify" "$SIM_DIR/set"
  grep -qE '^verified [0-9]+ settings' "$SIM_DIR/set" || fail "no 'verified N settings': $(tr '\n' '|' <"$SIM_DIR/set")"
  [ "$(count "\"via\":\"$via\".*\"cmd\":\"user-setting\".*\"fn\":5")" -ge 1 ] || fail "no Function 5 (store) over $via"
  if [ "$restarts" = yes ]; then
    [ "$(count '"action":"unplugged"')" -ge 1 ] || fail "the printer did not restart (no unplug of its gadget)"
    # A serial connection does not wait for the restart: give the printer its restart time.
    i=0
    until [ "$(count '"action":"back"')" -ge 1 ] || [ $i -gt 50 ]; do sleep 0.1; i=$((i + 1)); done
    [ "$(count '"action":"back"')" -ge 1 ] || fail "the printer's node did not come back after the restart"
    wait_node '/dev/ttyACM*'
  fi
  tool "$SIM_DIR/get" 60 "$@" setup get
  expect_ok "setup get after the write" "$SIM_DIR/get"
  for kv in "paper_width = 58" "speed = 150" "margin = 384"; do expect_line "$kv" "$SIM_DIR/get"; done
}

# test_page VIA ARGS...: the test page's text and cut arrive.
test_page() {
  via=$1
  shift
  tool "$SIM_DIR/page" 60 "$@" setup test-page
  expect_ok "setup test-page" "$SIM_DIR/page"
  grep -q '^test page sent' "$SIM_DIR/page" || fail "no 'test page sent': $(tr '\n' '|' <"$SIM_DIR/page")"
  [ "$(count "\"via\":\"$via\".*\"cmd\":\"text\".*0123456789")" -ge 7 ] || fail "the test page's digit lines did not arrive"
  [ "$(count "\"via\":\"$via\".*\"cmd\":\"cut\"")" -ge 1 ] || fail "the test page's cut did not arrive"
}

# send_file VIA TAG ARGS...: 500 kB of numbered lines arrive whole and in order.
send_file() {
  via=$1
  tag=$2
  shift 2
  size=$(wc -c </hil/$tag.txt)
  tool "$SIM_DIR/send" 120 "$@" send /hil/$tag.txt
  expect_ok "send" "$SIM_DIR/send"
  grep -qxE "sent $size bytes to $(sent_where "$@")" "$SIM_DIR/send" || fail "no 'sent $size bytes': $(tr '\n' '|' <"$SIM_DIR/send")"
  sleep 0.5
  check_lines "$SIM_DIR/state/events.jsonl" "$via" "$tag"
}
sent_where() {
  case "$*" in
    *U-II*) echo "USB printer" ;;
    *U-I*) echo "serial port /dev/ttyACM[0-9]+" ;;
    *) echo "serial port $(echo "$*" | sed -n 's/.*--port \([^ ]*\).*/\1/p')" ;;
  esac
}
check_lines() {
  # The printer logs the lines as it prints them, behind the tool's last write: wait while
  # the count still grows (bounded), then judge.
  last=-1
  for _ in $(seq 60); do
    got=$(grep "\"via\":\"$2\"" "$1" | grep -o "\"text\":\"$3 [0-9]* abcdefghijklm\"" | awk -v tag="$3" '
      { n++; split($0, f, " "); k = f[2]; sub(/^0+/, "", k); if (k + 0 != n) { print "line " n " is " f[2]; bad = 1; exit } }
      END { if (!bad) print n + 0 }')
    [ "$got" = 20000 ] || [ "$got" = "$last" ] && break
    last=$got
    sleep 0.5
  done
  [ "$got" = 20000 ] || fail "the printer got $got of the 20000 lines of $3 whole and in order"
}

# --- NV logos and firmware: what the printer must hold afterwards --------------------------------
# logo_upload ARGS...: two pictures stored; the printer holds exactly the rasters worked out from
# their pixels when the machine was built (/hil/logo-K.raw), under the numbers given, and no
# raster byte arrived while its memory was still erasing.
logo_upload() {
  tool "$SIM_DIR/upload" 90 "$@" --yes --profile "$SIM_DIR/tavroset.INI" logo upload /hil/logo-1.bmp /hil/logo-2.bmp
  expect_ok "logo upload" "$SIM_DIR/upload"
  [ "$(count '"cmd":"nv-define".*"verdict":"stored"')" -eq 1 ] || fail "the printer did not store one definition: $(events | grep nv-define | tr '\n' '|')"
  i=0
  until cmp -s "$SIM_DIR/state/nv/index.txt" /hil/logo.index || [ $i -gt 30 ]; do sleep 0.1; i=$((i + 1)); done
  cmp -s "$SIM_DIR/state/nv/index.txt" /hil/logo.index ||
    fail "the printer's pictures are $(tr '\n' '|' <"$SIM_DIR/state/nv/index.txt" 2>&1), expected $(tr '\n' '|' </hil/logo.index)"
  for k in 1 2; do
    cmp "$SIM_DIR/state/nv/$k.raw" /hil/logo-$k.raw >"$SIM_DIR/cmp$k" 2>&1 || fail "picture $k is not the raster of logo-$k.bmp: $(cat "$SIM_DIR/cmp$k")"
  done
  [ "$(count 'still erasing')" -eq 0 ] || fail "raster data arrived while the NV memory was erasing"
  grep -q '^Logofile2=/hil/logo-2.bmp' "$SIM_DIR/tavroset.INI" || fail "no logo log after the upload: $(tr '\n' '|' <"$SIM_DIR/tavroset.INI")"
}

# firmware_ok ARGS...: the program area arrives whole, from the right place of the image (the
# printer's record of this download, after any of an earlier one).
firmware_ok() {
  before=$(count '"cmd":"firmware"')
  tool "$SIM_DIR/fw" 120 "$@" --yes firmware download /hil/fw.bin --area program
  expect_ok "firmware download" "$SIM_DIR/fw"
  expect_line "Update Complete." "$SIM_DIR/fw"
  expect_line "FileSize : 655360 bytes" "$SIM_DIR/fw"
  i=0
  until [ "$(count '"cmd":"firmware"')" -gt "$before" ] || [ $i -gt 30 ]; do sleep 0.1; i=$((i + 1)); done
  line=$(events | grep '"cmd":"firmware"' | tail -n 1)
  case "$line" in
    *"\"digest\":\"$(cat /hil/fw-program.digest)\""*'"verdict":"ok"'*) ;;
    *) fail "the printer's program area is not the image's 0x300000.. range: ${line:-no firmware event}" ;;
  esac
}
# interrupted_download PID OUT: the download PID (writing to OUT) ends as an interrupted one
# must: within its bound, not on a signal, never "Update Complete.", saying how much of the
# area left; the printer took no whole area.
interrupted_download() {
  t0=$(cut -d' ' -f1 /proc/uptime)
  wait "$1"
  RC=$?
  t1=$(cut -d' ' -f1 /proc/uptime)
  [ $RC -eq 143 ] && fail "the download still ran 60 s after it was interrupted"
  [ $RC -ge 128 ] && fail "tavroctl died on signal $((RC - 128)): $(tr '\n' '|' <"$2")"
  [ $RC -ne 0 ] || fail "the download reported success although it was interrupted"
  grep -q 'Update Complete' "$2" && fail "an interrupted download was reported complete: $(tr '\n' '|' <"$2")"
  sent=$(sed -n 's/.*; \([0-9]*\) of 655360 bytes sent).*/\1/p' "$2")
  [ -n "$sent" ] && [ "$sent" -lt 655360 ] || fail "the failure does not say how much of the area left: $(tr '\n' '|' <"$2")"
  [ "$(count '"cmd":"firmware".*"verdict":"ok"')" -eq 0 ] || fail "the printer took a whole area"
  echo "failure reported after $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')s, $sent bytes sent"
}
stalled() { [ "$(count '"fault":"stall"')" -ge 1 ]; }
# back_after_flash NODE: once it has written its flash the printer restarts (its gadget goes off
# the bus and comes back): wait, bounded, for the restart and the node before the next command.
back_after_flash() {
  within 100 flash_restarted || fail "the printer did not restart after writing its flash"
  within 100 back_again || fail "the printer's node did not come back 10 s after its restart"
  wait_node "$1"
}
flash_restarted() { [ "$(count '"cmd":"restart","reason":"firmware"')" -ge 1 ]; }
back_again() { [ "$(count '"action":"back"')" -ge "$(count '"action":"unplugged"')" ]; }

# --- USB printer (usblp <-> g_printer) -----------------------------------------------------------
# The printer gadget takes one opener at a time: the node is free once it opens. Under load the
# previous printer (or the drain below) may still be letting it go when the next one starts.
gadget_free() { (exec 3<>/dev/g_printer0) 2>/dev/null; }
gadget_holders() { ls -l /proc/[0-9]*/fd 2>/dev/null | grep -c g_printer0; }
sim_usb() {
  within 100 gadget_free || fail "/dev/g_printer0 is still busy after 10 s ($(gadget_holders) open descriptors)"
  start_sim --gadget-printer /dev/g_printer0,$UDC_PRINTER "$@"
}
# What the host had sent when the printer's program stopped is still in the gadget's buffers,
# where a real printer's restart would have lost it: read it away. The read then waits for
# more; two seconds without any end it.
drain_gadget() { timeout -s KILL 2 cat /dev/g_printer0 >/dev/null 2>&1; }
s_usb_setup_get() { sim_usb; setup_get usb --device "TAVRO36/38 U-II" --port usb; }
s_usb_setup_set() { sim_usb; setup_set usb yes --device "TAVRO36/38 U-II" --port usb; }
s_usb_test_page() { sim_usb; test_page usb --device "TAVRO36/38 U-II" --port usb; }
s_usb_send() { sim_usb; send_file usb USBLP --device "TAVRO36/38 U-II" --port usb; }
# The exact node may be named: /dev/usb/lp0 is a USB printer, not a parallel port.
s_usb_node_by_path() {
  sim_usb
  tool "$SIM_DIR/get" 60 --device "TAVRO36/38 U-II" --port /dev/usb/lp0 setup get
  expect_ok "setup get --port /dev/usb/lp0" "$SIM_DIR/get"
  expect_factory "$SIM_DIR/get"
}

# The NV logos and a program-area download. Every scenario in which the printer answers or
# restarts over the USB printer runs before usb_stall and usb_unplug: unplugging the printer
# gadget while the host's write is held up corrupts the kernel's printer gadget (f_printer of
# Debian 12's 6.1; seen as list or slab corruption in printer_write, dummy_timer and
# printer_func_unbind), and the next reply or restart through it crashes the machine. Only
# the rig has that gadget: a real printer is not a Linux gadget.
# Over the USB printer: the upload, the logo settings frame (the printer restarts: its gadget
# is unplugged and plugged in again for real, and the tool reopens the new node), then the
# sample receipt comes out with the top and bottom logos.
s_usb_logo() {
  sim_usb
  logo_upload --device "TAVRO36/38 U-II" --port usb
  tool "$SIM_DIR/settings" 60 --device "TAVRO36/38 U-II" --port usb logo settings --top on --top-number 1 --bottom on --bottom-number 2
  expect_ok "logo settings" "$SIM_DIR/settings"
  [ "$(count '"cmd":"logo-settings".*"topEnable":true,"topNumber":1,.*"bottomEnable":true,"bottomNumber":2,')" -eq 1 ] ||
    fail "the printer did not take the settings frame once: $(events | grep logo-settings | tr '\n' '|')"
  [ "$(count '"action":"unplugged"')" -ge 1 ] || fail "the printer did not restart after the settings frame (no unplug of its gadget)"
  tool "$SIM_DIR/receipt" 60 --device "TAVRO36/38 U-II" --port usb logo test-receipt
  expect_ok "logo test-receipt" "$SIM_DIR/receipt"
  i=0
  until [ "$(count '"cmd":"receipt"')" -ge 1 ] || [ $i -gt 30 ]; do sleep 0.1; i=$((i + 1)); done
  line=$(events | grep '"cmd":"receipt"' | tail -n 1)
  case "$line" in
    *'"top:1"'*'"bottom:2"'*) ;;
    *) fail "the sample receipt lacks the top logo 1 or the bottom logo 2: ${line:-no receipt}" ;;
  esac
  [ -s "$SIM_DIR/state/receipts/receipt-0001.png" ] || fail "no picture of the receipt: $(ls "$SIM_DIR/state/receipts" 2>&1)"
}

s_usb_firmware() { sim_usb; firmware_ok --device "TAVRO36/38 U-II" --port usb; }

# The printer's program stops in the middle of a download (it stops reading, then ends; the
# gadget is not unplugged, see above): the download fails as an interrupted one. With the
# program started again, a second download completes and the printer answers its settings.
s_usb_firmware_stop() {
  sim_usb --stall-after 300000 --stall-ms 60000
  timeout 60 tavroctl --device "TAVRO36/38 U-II" --port usb --stall 5 --yes firmware download /hil/fw.bin --area program \
    >"$SIM_DIR/fw" 2>&1 &
  pid=$!
  within 200 stalled || fail "the download never reached the printer's stall: $(tr '\n' '|' <"$SIM_DIR/fw")"
  kill -9 $SIM_PID
  wait $SIM_PID 2>/dev/null
  SIM_PID=
  interrupted_download $pid "$SIM_DIR/fw"
  drain_gadget
  sim_usb
  firmware_ok --device "TAVRO36/38 U-II" --port usb
  back_after_flash /dev/usb/lp0
  setup_get usb --device "TAVRO36/38 U-II" --port usb
}

# A printer that stops reading: the tool reports the stall within its deadline, never hangs, and
# the printer is usable again once it reads.
s_usb_stall() {
  sim_usb --stall-after 20000 --stall-ms 45000
  t0=$(cut -d' ' -f1 /proc/uptime)
  tool "$SIM_DIR/send" 40 --device "TAVRO36/38 U-II" --port usb send /hil/USBLP.txt
  t1=$(cut -d' ' -f1 /proc/uptime)
  [ $RC -ne 0 ] || fail "send reported success although the printer stopped reading"
  grep -qiE 'short write|stall|time|took no data' "$SIM_DIR/send" || fail "no stall reported: $(tr '\n' '|' <"$SIM_DIR/send")"
  echo "stall reported after $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')s"
  # Usable again: what is still queued drains, then the test page arrives whole.
  stop_sim
  sim_usb
  test_page usb --device "TAVRO36/38 U-II" --port usb
}

# Unplugged mid-transfer: a clear error, no hang, no crash; usable after plugging in again.
s_usb_unplug() {
  sim_usb --stall-after 100000 --stall-ms 60000
  timeout 40 tavroctl --device "TAVRO36/38 U-II" --port usb send /hil/USBLP.txt >"$SIM_DIR/send" 2>&1 &
  pid=$!
  i=0
  until [ "$(count '"fault":"stall"')" -ge 1 ] || [ $i -gt 100 ]; do sleep 0.1; i=$((i + 1)); done
  unplug_printer || fail "the host still has /dev/usb/lp0 10 s after it let the printer go ($(cat /tmp/printer-unplugged 2>/dev/null))"
  t0=$(cut -d' ' -f1 /proc/uptime)
  wait $pid
  RC=$?
  t1=$(cut -d' ' -f1 /proc/uptime)
  [ $RC -eq 143 ] && fail "send still running 40 s after the unplug"
  [ $RC -ge 128 ] && fail "send died on signal $((RC - 128)): $(tr '\n' '|' <"$SIM_DIR/send")"
  [ $RC -ne 0 ] || fail "send reported success although the printer was unplugged"
  grep -qiE 'No such device|short write|unplug|gone|closed the connection' "$SIM_DIR/send" || fail "unclear error: $(tr '\n' '|' <"$SIM_DIR/send")"
  echo "error after $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')s"
  stop_sim
  plug_printer || fail "no /dev/usb/lp0 10 s after the host took the printer again"
  wait_node /dev/usb/lp0
  sim_usb
  test_page usb --device "TAVRO36/38 U-II" --port usb
}

# --- USB virtual serial port (cdc-acm <-> g_serial), found by its id -----------------------------
sim_acm() { start_sim --gadget-serial /dev/ttyGS0,$UDC_ACM "$@"; }
s_acm_setup_get() { sim_acm; setup_get usb-serial --device "TAVRO36/38 U-I"; }
s_acm_setup_set() { sim_acm; setup_set usb-serial yes --device "TAVRO36/38 U-I"; }
s_acm_test_page() { sim_acm; test_page usb-serial --device "TAVRO36/38 U-I"; }
s_acm_send() { sim_acm; send_file usb-serial ACM --device "TAVRO36/38 U-I"; }

# The NV logos and a program-area download over the USB virtual serial port.
s_acm_logo() {
  sim_acm
  logo_upload --device "TAVRO36/38 U-I"
}
s_acm_firmware() { sim_acm; firmware_ok --device "TAVRO36/38 U-I"; }

# The printer unplugged in the middle of a download (here the USB virtual serial port, see
# usb_firmware above for why not the USB printer): the download fails as an interrupted one.
# Plugged in again, with the printer's program started again, a second download completes and
# the printer answers its settings.
s_acm_firmware_unplug() {
  sim_acm --stall-after 300000 --stall-ms 60000
  timeout 60 tavroctl --device "TAVRO36/38 U-I" --yes firmware download /hil/fw.bin --area program >"$SIM_DIR/fw" 2>&1 &
  pid=$!
  within 200 stalled || fail "the download never reached the printer's stall: $(tr '\n' '|' <"$SIM_DIR/fw")"
  echo >$UDC_ACM
  interrupted_download $pid "$SIM_DIR/fw"
  stop_sim
  echo dummy_udc.1 >$UDC_ACM
  within 100 exists '/dev/ttyACM*' || fail "no /dev/ttyACM* 10 s after the printer was plugged in again"
  sim_acm
  firmware_ok --device "TAVRO36/38 U-I"
  back_after_flash '/dev/ttyACM*'
  setup_get usb-serial --device "TAVRO36/38 U-I"
}

# --- UART (8250 <-> 8250), the printer on the same line settings ----------------------------------
sim_uart() {
  [ -n "$SIM_TTY" ] || skip "no second UART in the machine"
  start_sim --tty "$SIM_TTY,$1"
  # The printer's port really runs on those settings.
  stty -F "$SIM_TTY" -a >"$SIM_DIR/stty" 2>&1
  for w in $2; do grep -qw -- "$w" "$SIM_DIR/stty" || fail "the printer's port is not at $1: no $w in $(tr '\n' ' ' <"$SIM_DIR/stty")"; done
}
S8="115200 cs8 -parenb -cstopb"
S7="9600 cs7 parenb -parodd cstopb"
s_uart_8n1_setup_get() { sim_uart 115200,8N1 "$S8"; setup_get serial --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 115200 --data 8 --parity none --stop 1 --flow none; }
s_uart_8n1_setup_set() { sim_uart 115200,8N1 "$S8"; setup_set serial no --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 115200 --data 8 --parity none --stop 1 --flow none; }
s_uart_8n1_test_page() { sim_uart 115200,8N1 "$S8"; test_page serial --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 115200 --data 8 --parity none --stop 1 --flow none; }
s_uart_8n1_send() { sim_uart 115200,8N1 "$S8"; send_file serial UART --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 115200 --data 8 --parity none --stop 1 --flow none; }
s_uart_7e2_setup_get() {
  sim_uart 9600,7E2 "$S7"
  setup_get serial --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 9600 --data 7 --parity even --stop 2 --flow none
  # A real UART keeps the line settings the tool set (a pty would have kept 8N1).
  stty -F /dev/ttyS1 -a >"$SIM_DIR/tool-stty" 2>&1
  for w in $S7; do grep -qw -- "$w" "$SIM_DIR/tool-stty" || fail "the tool left /dev/ttyS1 without $w: $(tr '\n' ' ' <"$SIM_DIR/tool-stty")"; done
}
s_uart_7e2_setup_set() { sim_uart 9600,7E2 "$S7"; setup_set serial no --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 9600 --data 7 --parity even --stop 2 --flow none; }
s_uart_7e2_test_page() { sim_uart 9600,7E2 "$S7"; test_page serial --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 9600 --data 7 --parity even --stop 2 --flow none; }
s_uart_7e2_send() { sim_uart 9600,7E2 "$S7"; send_file serial UART --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 9600 --data 7 --parity even --stop 2 --flow none; }

# While the tool has the port, no other program opens it (an unprivileged one: root passes
# TIOCEXCL); once the tool is done, the port is free again.
s_uart_exclusive() {
  sim_uart 115200,8N1 "$S8"
  chmod 666 /dev/ttyS1
  su nobody -c "stty -F /dev/ttyS1" >"$SIM_DIR/probe0" 2>&1 || fail "an unprivileged program cannot open the idle port: $(cat "$SIM_DIR/probe0")"
  tavroctl --device "TAVRO36/38 S" --port /dev/ttyS1 --baud 115200 --data 8 --parity none --stop 1 --flow none \
    send /hil/UART.txt >"$SIM_DIR/send" 2>&1 &
  pid=$!
  i=0
  until [ "$(count '"text":"UART 000100 ')" -ge 1 ] || [ $i -gt 100 ]; do sleep 0.1; i=$((i + 1)); done
  su nobody -c "stty -F /dev/ttyS1" >"$SIM_DIR/probe1" 2>&1
  probe=$?
  wait $pid
  RC=$?
  expect_ok "send" "$SIM_DIR/send"
  [ $probe -ne 0 ] || fail "another program opened /dev/ttyS1 while the tool was sending on it"
  grep -qi busy "$SIM_DIR/probe1" || fail "the other program failed, but not as busy: $(cat "$SIM_DIR/probe1")"
  su nobody -c "stty -F /dev/ttyS1" >"$SIM_DIR/probe2" 2>&1 || fail "the port stays locked after the tool: $(cat "$SIM_DIR/probe2")"
  sleep 0.5
  check_lines "$SIM_DIR/state/events.jsonl" serial UART
}

# --- parallel port (parport_pc, lp, ppdev): write-only here, judged by the far end's printer -------
# The far end runs outside the machine; parallel-check.sh checks what it received, in this
# order: the test page over /dev/lp0, LP0 lines, the test page over /dev/parport0, PARPORT0 lines.
s_lp0_test_page() {
  tool "$SIM_DIR/page" 60 --device "TAVRO36/38 P" --port /dev/lp0 setup test-page
  expect_ok "setup test-page over /dev/lp0" "$SIM_DIR/page"
  expect_line "test page sent to parallel port /dev/lp0" "$SIM_DIR/page"
}
s_lp0_send() {
  tool "$SIM_DIR/send" 120 --device "TAVRO36/38 P" --port /dev/lp0 send /hil/LP0.txt
  expect_ok "send over /dev/lp0" "$SIM_DIR/send"
  expect_line "sent $(wc -c </hil/LP0.txt) bytes to parallel port /dev/lp0" "$SIM_DIR/send"
}
s_parport0_test_page() {
  tool "$SIM_DIR/page" 60 --device "TAVRO36/38 P" --port /dev/parport0 setup test-page
  expect_ok "setup test-page over /dev/parport0" "$SIM_DIR/page"
  expect_line "test page sent to parallel port /dev/parport0" "$SIM_DIR/page"
}
s_parport0_send() {
  tool "$SIM_DIR/send" 120 --device "TAVRO36/38 P" --port /dev/parport0 send /hil/PARPORT0.txt
  expect_ok "send over /dev/parport0" "$SIM_DIR/send"
  expect_line "sent $(wc -c </hil/PARPORT0.txt) bytes to parallel port /dev/parport0" "$SIM_DIR/send"
}

# Every s_NAME function above, in order, or the ones named on the kernel command line.
for s in ${HIL_SCENARIOS:-$(sed -n 's/^s_\([a-z0-9_]*\)() .*/\1/p' /hil/scenarios.sh)}; do
  scenario "$s" "s_$s"
done
