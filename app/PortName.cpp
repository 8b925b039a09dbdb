#include "app/PortName.h"

#include <cctype>

namespace {

std::string_view basenameOf(std::string_view name)
{
    auto slash = name.find_last_of('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// "COM3" -> 3, "LPT1" -> 1; 0 when the name is not prefix + digits.
int numberAfter(std::string_view name, std::string_view prefix)
{
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 3 || !startsWithNoCase(name, prefix))
        return 0;
    int n = 0;
    for (char c : name.substr(prefix.size())) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::string toUpperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && toUpperAscii(text.substr(0, prefix.size())) == toUpperAscii(prefix);
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

PortKind portKindOf(std::string_view portName)
{
    std::string upper = toUpperAscii(portName);
    if (upper == "USB")
        return PortKind::Usb;
    if (upper == "ETHERNET_II")
        return PortKind::Ethernet;
    if (upper == "WIFI")
        return PortKind::Wifi;
    if (upper == "FILE")
        return PortKind::PrintToFile;
    if (numberAfter(portName, "COM") > 0)
        return PortKind::Serial;
    if (numberAfter(portName, "LPT") > 0)
        return PortKind::Parallel;
    std::string_view base = basenameOf(portName);
    // usblp's nodes live in /dev/usb/ and are named lp<n> like the parallel ports: the
    // folder, not the name, tells a USB printer apart (a technician names the node to pick
    // one of two printers).
    if (base.substr(0, 2) == "lp" && base.size() < portName.size() && basenameOf(portName.substr(0, portName.size() - base.size() - 1)) == "usb")
        return PortKind::Usb;
    if (base.substr(0, 3) == "tty")
        return PortKind::Serial;
    if (base.substr(0, 2) == "lp" || base.substr(0, 7) == "parport")
        return PortKind::Parallel;
    return PortKind::File;
}

std::string devicePathOf(std::string_view portName)
{
    if (int n = numberAfter(portName, "COM"); n > 0)
        return "/dev/ttyS" + std::to_string(n - 1);
    if (int n = numberAfter(portName, "LPT"); n > 0)
        return "/dev/lp" + std::to_string(n - 1);
    return std::string(portName);
}

bool isUsbVirtualSerialPort(std::string_view portName)
{
    auto slash = portName.rfind('/');
    std::string_view base = slash == std::string_view::npos ? portName : portName.substr(slash + 1);
    return portKindOf(portName) == PortKind::Serial && base.substr(0, 6) == "ttyACM";
}
