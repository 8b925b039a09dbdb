#!/bin/busybox sh
# PID 1 of the rig's virtual machine: mounts what the drivers need, loads the modules, plugs a
# USB printer gadget and a USB serial gadget into dummy_hcd's two virtual buses, runs the
# scenarios and powers off. Results leave through the console as "HIL-RESULT NAME VERDICT"
# lines.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts

fatal() {
  echo "HIL-FATAL $*"
  poweroff -f
}

load() {
  insmod "/modules/$1.ko" "$2" 2>/tmp/insmod.err || fatal "insmod $1: $(cat /tmp/insmod.err)"
}
# In dependency order (no depmod here).
for m in configfs usb-common usbcore udc-core libcomposite; do load $m; done
load dummy_hcd num=2
for m in usb_f_printer usblp u_serial usb_f_acm cdc-acm parport parport_pc lp ppdev; do load $m; done
mount -t configfs none /sys/kernel/config || fatal "configfs"

# gadget NAME UDC FUNCTION PID: one USB device on the printer's vendor id.
gadget() {
  g=/sys/kernel/config/usb_gadget/$1
  mkdir -p $g/strings/0x409 $g/configs/c.1 $g/functions/$3 || fatal "gadget $1"
  echo 0x5A3E >$g/idVendor
  echo "$4" >$g/idProduct
  echo 0x0100 >$g/bcdDevice
  echo "TAVRO" >$g/strings/0x409/manufacturer
  echo "HIL $1" >$g/strings/0x409/product
  echo "HIL$1" >$g/strings/0x409/serialnumber
  ln -s $g/functions/$3 $g/configs/c.1/ || fatal "gadget $1 link"
  echo "$2" >$g/UDC || fatal "gadget $1 bind"
}
# A TAVRO36/38 (family 5): the USB printer 5A3E:3302, the virtual serial port 5A3E:3301.
gadget printer dummy_udc.0 printer.usb0 0x3302
gadget acm dummy_udc.1 acm.usb0 0x3301

# Wait for the host side of both (enumeration runs asynchronously).
i=0
while [ ! -e /dev/usb/lp0 ] || [ ! -e /dev/ttyACM0 ] || [ ! -e /dev/g_printer0 ] || [ ! -e /dev/ttyGS0 ]; do
  i=$((i + 1))
  [ $i -gt 100 ] && fatal "USB devices did not appear: $(ls /dev/usb /dev/tty[AG]* 2>&1 | tr '\n' ' ')"
  sleep 0.1
done
read -r up _ </proc/uptime
echo "HIL-BOOTED $up"

for w in $(cat /proc/cmdline); do
  case $w in hil_scenarios=*) HIL_SCENARIOS=$(echo "${w#hil_scenarios=}" | tr ',' ' ') ;; esac
done
cd /tmp
. /hil/scenarios.sh
read -r up _ </proc/uptime
echo "HIL-DONE $up"
sync
poweroff -f
