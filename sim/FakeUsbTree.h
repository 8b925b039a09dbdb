#pragma once
// The part of a sysfs tree and a device root that makes a pseudo-terminal look like a USB
// printer (usbmisc lp*) or a USB virtual serial port (tty ttyACM*), laid out as the kernel
// does, so that the tool's discovery code finds it exactly as it would find real hardware:
//   $SYSFS/class/usbmisc/lp0/{uevent, device -> $SYSFS/devices/usb1/1-1/1-1:1.0}
//   $SYSFS/devices/usb1/1-1/{idVendor, idProduct, bcdDevice, serial}
//   $DEV/usb/lp0 -> /dev/pts/N
#include <string>

class FakeUsbTree {
public:
    enum class Kind { Printer, VirtualSerial };

    // `port` is the USB port number under usb1 ("1-<port>"); no serial file when serial is "".
    FakeUsbTree(std::string sysfsRoot, std::string devRoot, Kind kind, int index, int port,
                unsigned vendor, unsigned product, std::string serial = {});
    ~FakeUsbTree() { remove(); }
    FakeUsbTree(const FakeUsbTree&) = delete;
    FakeUsbTree& operator=(const FakeUsbTree&) = delete;

    // Creates the entries with the node pointing at `target`. Returns false with a reason.
    bool plug(const std::string& target, std::string* error);
    // Removes the entries (as an unplug or a printer restart does). Safe to repeat.
    void remove();

    bool plugged() const { return m_plugged; }
    std::string nodePath() const;   // $DEV/usb/lp0 or $DEV/ttyACM0
    std::string deviceName() const; // "usb/lp0" or "ttyACM0"

private:
    std::string classEntry() const;
    std::string usbDeviceDir() const;

    std::string m_sysfs, m_dev;
    Kind m_kind;
    int m_index, m_port;
    unsigned m_vendor, m_product;
    std::string m_serial;
    bool m_plugged = false;
};
