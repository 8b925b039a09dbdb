#pragma once
// A fake sysfs tree and device folder laid out like the kernel's, for discovery tests: USB
// printers under class/usbmisc, USB virtual serial ports and UARTs under class/tty, device
// nodes (symlinks to a pty slave, or any path) under the device folder. Point the port
// layer at sysfsRoot()/devRoot() (or TAVRO_SYSFS_ROOT/TAVRO_DEV_ROOT).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class FakeSysfs {
public:
    // Creates <base>/sys and <base>/dev (base must exist).
    explicit FakeSysfs(const std::filesystem::path& base);

    const std::filesystem::path& sysfsRoot() const { return m_sys; }
    const std::filesystem::path& devRoot() const { return m_dev; }

    // class/usbmisc/<name> ("lp0") on a new USB device with the ids; the node
    // <dev>/usb/<name> is a symlink to nodeTarget (nothing when empty); the device's serial
    // number file when serial is not empty. Returns the node path.
    std::string addUsbPrinter(const std::string& name, std::uint16_t vendor, std::uint16_t product,
                              std::optional<std::uint16_t> bcdDevice, const std::string& nodeTarget,
                              const std::string& serial = {});
    // class/tty/<name> ("ttyACM0", "ttyUSB0") on a new USB device; node <dev>/<name>.
    // usb-serial ports (ttyUSB) get the extra port level the kernel gives them.
    std::string addUsbSerial(const std::string& name, std::uint16_t vendor, std::uint16_t product,
                             const std::string& nodeTarget, const std::string& serial = {});
    // class/tty/<name> ("ttyS0") with a UART "type" file; withDevice adds the device link
    // that real hardware has.
    void addUart(const std::string& name, int type, bool withDevice);
    // <dev>/<relative> as a symlink to target (or an empty file when target is empty).
    std::string addDevNode(const std::string& relative, const std::string& target);
    // Writes a file under the sysfs root (for malformed entries).
    void writeSysFile(const std::string& relative, const std::string& content);

private:
    std::filesystem::path newUsbDevice(std::uint16_t vendor, std::uint16_t product,
                                       std::optional<std::uint16_t> bcdDevice, const std::string& serial);

    std::filesystem::path m_sys;
    std::filesystem::path m_dev;
    int m_nextPort = 1;
};
