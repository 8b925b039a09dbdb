#pragma once
// Finding the printer's ports on Linux: serial and parallel device nodes, USB printer-class
// devices (usblp, /sys/class/usbmisc/lp*) and USB virtual serial ports (cdc_acm/usb-serial,
// /sys/class/tty/ttyACM*, ttyUSB*), each USB device with its hardware id
// "USB\VID_%04X&PID_%04X[&REV_%04X]".
//
// Every function takes the roots to look under; DeviceRoots::fromEnvironment() is the one
// place that reads TAVRO_SYSFS_ROOT, TAVRO_DEV_ROOT and TAVRO_EXTRA_PORTS, so tests pass
// their own fake trees and the simulator's users set the variables. All functions may be
// called from any thread; none blocks longer than an open() of a device node.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class CErrorLog;

struct DeviceRoots {
    std::filesystem::path sysfs = "/sys";
    std::filesystem::path dev = "/dev";
    // Extra serial/parallel device paths (the simulator's symlinks), sorted into the
    // serial or parallel list by the kind of their name (app/PortName.h).
    std::vector<std::string> extraPorts;

    // TAVRO_SYSFS_ROOT, TAVRO_DEV_ROOT (unset or empty: /sys, /dev) and TAVRO_EXTRA_PORTS
    // (colon-separated paths, empty items ignored).
    static DeviceRoots fromEnvironment();
};

// One USB device found in sysfs.
struct UsbDeviceEntry {
    std::string name;       // "lp0", "ttyACM0"
    std::string hardwareId; // "USB\VID_5A3E&PID_3302&REV_0100"
    std::string node;       // "<dev>/usb/lp0", "<dev>/ttyACM0"
    std::string serial;     // the USB device's serial number ("" when it reports none)
};

// The hardware-id rule of the tool: the first strlen(id) characters of hardwareId, upper
// case, equal id upper case. An empty id matches nothing.
bool hardwareIdMatches(std::string_view hardwareId, std::string_view id);

// USB printer-class devices in name order (lp0, lp1, ...). Entries whose uevent has no
// DEVNAME or whose USB device has no idVendor/idProduct within 4 parent levels are left
// out. Empty when the class folder does not exist.
std::vector<UsbDeviceEntry> listUsbPrinters(const DeviceRoots& roots);
// USB virtual serial ports (ttyACM* then ttyUSB*, each in name order), same rules.
std::vector<UsbDeviceEntry> listUsbSerialPorts(const DeviceRoots& roots);

// The serial number of the USB device behind a connection, "" when there is none (no such
// device, or a device that reports no serial number): for a node path, the USB printer or
// virtual serial port whose node it is; for "USB" (empty node), the first USB printer whose
// hardware id matches one of ids, taken in that order as the open takes them.
std::string usbSerialNumber(const std::string& node, const std::vector<std::string>& ids,
                            const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// Serial device paths: ttyS* with real hardware behind them (a "device" link and a UART
// type other than 0), ttyUSB*, ttyACM*, then the serial extra ports. Fails (empty result,
// ok == false) only when <sysfs>/class/tty cannot be read; the extra ports are listed
// anyway in that case.
struct PortList {
    bool ok = true;
    std::vector<std::string> names;
};
PortList listSerialPorts(const DeviceRoots& roots);
// Parallel device paths: <dev>/lp<n> and <dev>/parport<n> in number order, then the
// parallel extra ports.
PortList listParallelPorts(const DeviceRoots& roots);

// Opens the first USB printer whose hardware id matches id for reading and writing
// (non-blocking, O_NOCTTY) and stores its node path in devicePath. Returns the fd, or -1.
// Logs, as service staff know them from the Windows tool: "[Error] SetupDiGetClassDevs"
// (no <sysfs>/class), "[Error] SetupDiEnumDeviceInterfaces(259)\r\n" (end of the list, no
// match), "[Error] SetupDiGetDeviceInterfaceDetail" (an lp entry without DEVNAME),
// "[Error] SetupDiGetDeviceRegistryProperty" (an lp entry without USB ids), "CreateFile
// Success [%X]" / "CreateFile Fail [%d]" (errno). Nothing stays held but the fd: two USB
// printers open at once are two independent opens.
int OpenUsbPrinter(const std::string& id, std::string& devicePath, CErrorLog& log,
                   const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// The number of matching USB printers (each node opened once for writing as a test; a node
// that does not open logs "Create File error\r\n" and ends the count, itself counted), or
// -1 when there is none.
int CountUsbPrinters(const std::string& id, CErrorLog& log,
                     const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// The node path of the USB virtual serial port whose device carries id ("<dev>/ttyACM0"),
// or "" when none does. Linux pairs every tty with its USB device, so the port returned is
// the one of the matching device (not merely the first port of the driver).
std::string FindUsbVirtualCom(const std::string& id,
                              const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// True when the first USB virtual serial port (in the order of listUsbSerialPorts) carries
// id.
bool IsUsbSerialDevice(const std::string& id,
                       const DeviceRoots& roots = DeviceRoots::fromEnvironment());

