#include "sim/FakeUsbTree.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

bool writeText(const fs::path& p, const std::string& text)
{
    std::ofstream out(p, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string hex4(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x\n", v & 0xFFFF);
    return buf;
}

} // namespace

FakeUsbTree::FakeUsbTree(std::string sysfsRoot, std::string devRoot, Kind kind, int index, int port,
                         unsigned vendor, unsigned product, std::string serial)
    : m_sysfs(std::move(sysfsRoot)), m_dev(std::move(devRoot)), m_kind(kind), m_index(index), m_port(port),
      m_vendor(vendor), m_product(product), m_serial(std::move(serial))
{
}

std::string FakeUsbTree::deviceName() const
{
    return m_kind == Kind::Printer ? "usb/lp" + std::to_string(m_index) : "ttyACM" + std::to_string(m_index);
}

std::string FakeUsbTree::nodePath() const
{
    return m_dev + "/" + deviceName();
}

std::string FakeUsbTree::classEntry() const
{
    return m_kind == Kind::Printer ? m_sysfs + "/class/usbmisc/lp" + std::to_string(m_index)
                                   : m_sysfs + "/class/tty/ttyACM" + std::to_string(m_index);
}

std::string FakeUsbTree::usbDeviceDir() const
{
    return m_sysfs + "/devices/usb1/1-" + std::to_string(m_port);
}

bool FakeUsbTree::plug(const std::string& target, std::string* error)
{
    remove();
    std::error_code ec;
    const std::string dev = usbDeviceDir();
    const std::string iface = dev + "/1-" + std::to_string(m_port) + ":1.0";
    const std::string entry = classEntry();
    fs::create_directories(iface, ec);
    if (!ec)
        fs::create_directories(entry, ec);
    if (!ec)
        fs::create_directories(fs::path(nodePath()).parent_path(), ec);
    if (ec) {
        if (error)
            *error = "cannot create the fake USB tree: " + ec.message();
        return false;
    }
    const bool printer = m_kind == Kind::Printer;
    std::string uevent = std::string("MAJOR=") + (printer ? "180" : "166") + "\nMINOR=" + std::to_string(m_index) +
                         "\nDEVNAME=" + deviceName() + "\n";
    bool ok = writeText(dev + "/idVendor", hex4(m_vendor)) && writeText(dev + "/idProduct", hex4(m_product)) &&
              writeText(dev + "/bcdDevice", "0100\n") && writeText(entry + "/uevent", uevent) &&
              (m_serial.empty() || writeText(dev + "/serial", m_serial + "\n"));
    if (ok) {
        fs::create_symlink(iface, entry + "/device", ec);
        if (!ec)
            fs::create_symlink(target, nodePath(), ec);
        ok = !ec;
    }
    m_plugged = true; // so that remove() clears a half-made tree
    if (!ok) {
        if (error)
            *error = "cannot create the fake USB tree: " + (ec ? ec.message() : std::string("write failed"));
        remove();
        return false;
    }
    return true;
}

void FakeUsbTree::remove()
{
    if (!m_plugged)
        return;
    std::error_code ec;
    fs::remove(nodePath(), ec);
    fs::remove_all(classEntry(), ec);
    fs::remove_all(usbDeviceDir(), ec);
    m_plugged = false;
}
