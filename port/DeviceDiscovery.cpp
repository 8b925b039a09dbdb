#include "port/DeviceDiscovery.h"

#include "app/CErrorLog.h"
#include "app/PortName.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The number of parent levels searched above a class device's "device" link for the USB
// device's ids: the link points at the interface (1-1:1.0), the ids sit on the device (1-1);
// usb-serial adds a port level (ttyUSB0 -> 1-1:1.0/ttyUSB0).
constexpr int kMaxParentLevels = 4;

std::optional<std::string> readFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

// DEVNAME=... of a uevent file; nullopt when missing.
std::optional<std::string> devNameOf(const fs::path& classEntry)
{
    std::ifstream in(classEntry / "uevent");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("DEVNAME=", 0) == 0) {
            std::string name = line.substr(8);
            // A DEVNAME that climbs out of the device root is not a device node of ours.
            if (name.empty() || name.find("..") != std::string::npos || name.front() == '/')
                return std::nullopt;
            return name;
        }
    }
    return std::nullopt;
}

bool parseHex16(const std::string& text, unsigned& value)
{
    if (text.empty() || text.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                               ? c - '0'
                                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    value = v;
    return true;
}

// The hardware id "USB\VID_5A3E&PID_3302[&REV_0100]" and the serial number of the USB device
// above a class entry.
struct UsbIdentity {
    std::string hardwareId;
    std::string serial;
};

std::optional<UsbIdentity> usbIdentityOf(const fs::path& classEntry)
{
    std::error_code ec;
    fs::path dir = fs::canonical(classEntry / "device", ec);
    if (ec)
        return std::nullopt;
    for (int level = 0; level <= kMaxParentLevels; ++level) {
        auto vendor = readFirstLine(dir / "idVendor");
        auto product = readFirstLine(dir / "idProduct");
        if (!vendor || !product) {
            if (dir == dir.parent_path())
                break;
            dir = dir.parent_path();
            continue;
        }
        unsigned vid = 0, pid = 0;
        if (!parseHex16(*vendor, vid) || !parseHex16(*product, pid))
            return std::nullopt;
        char text[64];
        std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X", vid, pid);
        std::string id = text;
        unsigned rev = 0;
        if (auto bcd = readFirstLine(dir / "bcdDevice"); bcd && parseHex16(*bcd, rev)) {
            std::snprintf(text, sizeof text, "&REV_%04X", rev);
            id += text;
        }
        // The kernel gives the string descriptor as the device sent it; a device without one
        // has no "serial" file. Only printable ASCII is kept: it becomes a key and a text.
        std::string serial = readFirstLine(dir / "serial").value_or("");
        if (serial.size() > 126 || !std::all_of(serial.begin(), serial.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
            serial.clear();
        return UsbIdentity{id, serial};
    }
    return std::nullopt;
}

// "lp10" sorts after "lp9": by prefix, then by number.
bool naturalLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1])))
            --i;
        long n = i < s.size() && s.size() - i < 9 ? std::strtol(s.c_str() + i, nullptr, 10) : -1;
        return std::make_pair(s.substr(0, i), n);
    };
    auto sa = split(a), sb = split(b);
    if (sa.first != sb.first)
        return sa.first < sb.first;
    if (sa.second != sb.second)
        return sa.second < sb.second;
    return a < b;
}

// Entry names of a folder beginning with prefix, in natural order; nullopt when the folder
// cannot be read.
std::optional<std::vector<std::string>> entriesWithPrefix(const fs::path& folder, std::string_view prefix)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        return std::nullopt;
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

bool allDigitsAfter(const std::string& name, size_t prefixLength)
{
    return name.size() > prefixLength &&
           std::all_of(name.begin() + static_cast<long>(prefixLength), name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Walks the class folder like the Windows device enumeration: each entry gives its node and
// hardware id, or the step that failed.
enum class EntryFailure { None, NoDetail, NoProperty };
struct ClassEntry {
    UsbDeviceEntry entry;
    EntryFailure failure = EntryFailure::None;
};

std::vector<ClassEntry> walkClass(const DeviceRoots& roots, const fs::path& classFolder,
                                  std::initializer_list<std::string_view> prefixes)
{
    std::vector<ClassEntry> out;
    for (auto prefix : prefixes) {
        auto names = entriesWithPrefix(classFolder, prefix);
        if (!names)
            continue;
        for (auto& name : *names) {
            if (!allDigitsAfter(name, prefix.size()))
                continue;
            ClassEntry ce;
            ce.entry.name = name;
            fs::path entry = classFolder / name;
            auto devName = devNameOf(entry);
            if (!devName) {
                ce.failure = EntryFailure::NoDetail;
                out.push_back(ce);
                continue;
            }
            ce.entry.node = (roots.dev / *devName).string();
            auto id = usbIdentityOf(entry);
            if (!id) {
                ce.failure = EntryFailure::NoProperty;
            } else {
                ce.entry.hardwareId = id->hardwareId;
                ce.entry.serial = id->serial;
            }
            out.push_back(ce);
        }
    }
    return out;
}

std::vector<UsbDeviceEntry> usable(const std::vector<ClassEntry>& entries)
{
    std::vector<UsbDeviceEntry> out;
    for (auto& ce : entries)
        if (ce.failure == EntryFailure::None)
            out.push_back(ce.entry);
    return out;
}

} // namespace

DeviceRoots DeviceRoots::fromEnvironment()
{
    DeviceRoots roots;
    if (const char* s = std::getenv("TAVRO_SYSFS_ROOT"); s && *s)
        roots.sysfs = s;
    if (const char* d = std::getenv("TAVRO_DEV_ROOT"); d && *d)
        roots.dev = d;
    if (const char* extra = std::getenv("TAVRO_EXTRA_PORTS"); extra && *extra) {
        std::stringstream list(extra);
        std::string item;
        while (std::getline(list, item, ':'))
            if (!item.empty())
                roots.extraPorts.push_back(item);
    }
    return roots;
}

bool hardwareIdMatches(std::string_view hardwareId, std::string_view id)
{
    if (id.empty() || hardwareId.size() < id.size())
        return false;
    return toUpperAscii(hardwareId.substr(0, id.size())) == toUpperAscii(id);
}

std::vector<UsbDeviceEntry> listUsbPrinters(const DeviceRoots& roots)
{
    return usable(walkClass(roots, roots.sysfs / "class" / "usbmisc", {"lp"}));
}

std::vector<UsbDeviceEntry> listUsbSerialPorts(const DeviceRoots& roots)
{
    return usable(walkClass(roots, roots.sysfs / "class" / "tty", {"ttyACM", "ttyUSB"}));
}

std::string usbSerialNumber(const std::string& node, const std::vector<std::string>& ids, const DeviceRoots& roots)
{
    if (node.empty()) {
        const auto printers = listUsbPrinters(roots);
        for (const auto& id : ids)
            for (const auto& p : printers)
                if (hardwareIdMatches(p.hardwareId, id))
                    return p.serial;
        return {};
    }
    std::vector<UsbDeviceEntry> entries = listUsbPrinters(roots);
    for (auto& e : listUsbSerialPorts(roots))
        entries.push_back(std::move(e));
    for (const auto& entry : entries)
        if (entry.node == node)
            return entry.serial;
    // The node named by another path that leads to the same device node.
    std::error_code ec;
    const fs::path wanted = fs::canonical(node, ec);
    if (ec)
        return {};
    for (const auto& entry : entries) {
        std::error_code e;
        if (fs::canonical(entry.node, e) == wanted && !e)
            return entry.serial;
    }
    return {};
}

PortList listSerialPorts(const DeviceRoots& roots)
{
    PortList list;
    fs::path ttyClass = roots.sysfs / "class" / "tty";
    auto ttyS = entriesWithPrefix(ttyClass, "ttyS");
    if (!ttyS) {
        list.ok = false;
    } else {
        for (auto& name : *ttyS) {
            if (!allDigitsAfter(name, 4))
                continue;
            // The 8250 driver registers ttyS0..31 whether or not a UART answers; only ports
            // with a device behind them and a known UART type (0 = none) are real.
            std::error_code ec;
            if (!fs::exists(ttyClass / name / "device", ec))
                continue;
            if (auto type = readFirstLine(ttyClass / name / "type"); type && *type == "0")
                continue;
            list.names.push_back((roots.dev / name).string());
        }
        for (auto& port : listUsbSerialPorts(roots))
            list.names.push_back(port.node);
    }
    for (auto& extra : roots.extraPorts)
        if (portKindOf(extra) == PortKind::Serial)
            list.names.push_back(extra);
    return list;
}

PortList listParallelPorts(const DeviceRoots& roots)
{
    PortList list;
    for (std::string_view prefix : {"lp", "parport"}) {
        auto names = entriesWithPrefix(roots.dev, prefix);
        if (!names)
            continue;
        for (auto& name : *names)
            if (allDigitsAfter(name, prefix.size()))
                list.names.push_back((roots.dev / name).string());
    }
    for (auto& extra : roots.extraPorts)
        if (portKindOf(extra) == PortKind::Parallel)
            list.names.push_back(extra);
    return list;
}

int OpenUsbPrinter(const std::string& id, std::string& devicePath, CErrorLog& log, const DeviceRoots& roots)
{
    std::error_code ec;
    if (!fs::is_directory(roots.sysfs / "class", ec)) {
        log.WriteLog("[Error] SetupDiGetClassDevs");
        return -1;
    }
    for (auto& ce : walkClass(roots, roots.sysfs / "class" / "usbmisc", {"lp"})) {
        if (ce.failure == EntryFailure::NoDetail) {
            log.WriteLog("[Error] SetupDiGetDeviceInterfaceDetail");
            return -1;
        }
        devicePath = ce.entry.node;
        if (ce.failure == EntryFailure::NoProperty) {
            log.WriteLog("[Error] SetupDiGetDeviceRegistryProperty");
            return -1;
        }
        if (!hardwareIdMatches(ce.entry.hardwareId, id))
            continue;
        // Non-blocking so that every write and read has our own deadline; O_NOCTTY because
        // the node may be a terminal (the simulator's pty).
        int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            log.WriteLog("CreateFile Success [%X]", static_cast<unsigned>(fd));
            return fd;
        }
        int error = errno;
        log.WriteLog("CreateFile Fail [%d]", error);
        return -1;
    }
    // The end of the list: Windows reports ERROR_NO_MORE_ITEMS (259) here, and the service
    // staff read the log with that code.
    log.WriteLog("[Error] SetupDiEnumDeviceInterfaces(%d)\r\n", 259);
    return -1;
}

int CountUsbPrinters(const std::string& id, CErrorLog& log, const DeviceRoots& roots)
{
    int count = 0;
    for (auto& ce : walkClass(roots, roots.sysfs / "class" / "usbmisc", {"lp"})) {
        if (ce.failure == EntryFailure::NoDetail) {
            log.WriteLog("[Error]SetupDiGetDeviceInterfaceDetail");
            return -1;
        }
        if (ce.failure == EntryFailure::NoProperty) {
            log.WriteLog("[Error]SetupDiGetDeviceRegistryProperty");
            return -1;
        }
        if (!hardwareIdMatches(ce.entry.hardwareId, id))
            continue;
        ++count;
        int fd = ::open(ce.entry.node.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            log.WriteLog("Create File error\r\n");
            break;
        }
        ::close(fd);
    }
    return count == 0 ? -1 : count;
}

std::string FindUsbVirtualCom(const std::string& id, const DeviceRoots& roots)
{
    for (auto& port : listUsbSerialPorts(roots))
        if (hardwareIdMatches(port.hardwareId, id))
            return port.node;
    return {};
}

bool IsUsbSerialDevice(const std::string& id, const DeviceRoots& roots)
{
    auto ports = listUsbSerialPorts(roots);
    return !ports.empty() && hardwareIdMatches(ports.front().hardwareId, id);
}
