#include "FakeSysfs.h"

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string hex4(std::uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

void link(const fs::path& target, const fs::path& at)
{
    fs::create_directories(at.parent_path());
    std::error_code ec;
    fs::remove(at, ec);
    fs::create_symlink(target, at);
}

} // namespace

FakeSysfs::FakeSysfs(const fs::path& base) : m_sys(base / "sys"), m_dev(base / "dev")
{
    fs::create_directories(m_sys / "class");
    fs::create_directories(m_dev);
}

fs::path FakeSysfs::newUsbDevice(std::uint16_t vendor, std::uint16_t product, std::optional<std::uint16_t> bcdDevice,
                                 const std::string& serial)
{
    fs::path device = m_sys / "devices" / "usb1" / ("1-" + std::to_string(m_nextPort++));
    writeText(device / "idVendor", hex4(vendor) + "\n");
    writeText(device / "idProduct", hex4(product) + "\n");
    if (bcdDevice)
        writeText(device / "bcdDevice", hex4(*bcdDevice) + "\n");
    if (!serial.empty())
        writeText(device / "serial", serial + "\n");
    fs::path interface = device / (device.filename().string() + ":1.0");
    fs::create_directories(interface);
    return interface;
}

std::string FakeSysfs::addUsbPrinter(const std::string& name, std::uint16_t vendor, std::uint16_t product,
                                     std::optional<std::uint16_t> bcdDevice, const std::string& nodeTarget,
                                     const std::string& serial)
{
    fs::path interface = newUsbDevice(vendor, product, bcdDevice, serial);
    fs::path entry = m_sys / "class" / "usbmisc" / name;
    fs::create_directories(entry);
    writeText(entry / "uevent", "MAJOR=180\nMINOR=0\nDEVNAME=usb/" + name + "\n");
    link(interface, entry / "device");
    fs::path node = m_dev / "usb" / name;
    if (!nodeTarget.empty())
        link(nodeTarget, node);
    return node.string();
}

std::string FakeSysfs::addUsbSerial(const std::string& name, std::uint16_t vendor, std::uint16_t product,
                                    const std::string& nodeTarget, const std::string& serial)
{
    fs::path interface = newUsbDevice(vendor, product, std::nullopt, serial);
    fs::path parent = interface;
    if (name.rfind("ttyUSB", 0) == 0) {
        parent = interface / name;
        fs::create_directories(parent);
    }
    fs::path entry = m_sys / "class" / "tty" / name;
    fs::create_directories(entry);
    writeText(entry / "uevent", "MAJOR=166\nMINOR=0\nDEVNAME=" + name + "\n");
    link(parent, entry / "device");
    fs::path node = m_dev / name;
    if (!nodeTarget.empty())
        link(nodeTarget, node);
    return node.string();
}

void FakeSysfs::addUart(const std::string& name, int type, bool withDevice)
{
    fs::path entry = m_sys / "class" / "tty" / name;
    writeText(entry / "uevent", "MAJOR=4\nMINOR=64\nDEVNAME=" + name + "\n");
    writeText(entry / "type", std::to_string(type) + "\n");
    if (withDevice) {
        fs::path platform = m_sys / "devices" / "platform" / ("serial8250-" + name);
        fs::create_directories(platform);
        link(platform, entry / "device");
    }
}

std::string FakeSysfs::addDevNode(const std::string& relative, const std::string& target)
{
    fs::path node = m_dev / relative;
    if (target.empty())
        writeText(node, "");
    else
        link(target, node);
    return node.string();
}

void FakeSysfs::writeSysFile(const std::string& relative, const std::string& content)
{
    writeText(m_sys / relative, content);
}
