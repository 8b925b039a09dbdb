#include "app/ConnectionRules.h"

#include "app/PortName.h"

#include <cstdio>

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool startsWithAny(std::string_view text, std::initializer_list<std::string_view> prefixes)
{
    for (auto p : prefixes)
        if (startsWith(text, p))
            return true;
    return false;
}

std::string usbId(const char* pid)
{
    return std::string("USB\\VID_5A3E&PID_") + pid;
}

} // namespace

ModelFamily familyForDeviceChange(std::string_view name)
{
    if (startsWith(name, "TAVRO15"))
        return kFamilyTavro15;
    if (startsWithAny(name, {"TAVRO25II", "QMX-51", "KLM 07II", "VB-6040"}))
        return kFamilyTavro25II;
    if (startsWithAny(name, {"TAVRO25", "WAN550"}))
        return kFamilyTavro25;
    if (startsWith(name, "ZQR-4000"))
        return kFamilyTavro44i;
    if (startsWith(name, "TAVRO36"))
        return kFamilyTavro36;
    if (startsWith(name, "TAVRO46"))
        return kFamilyTavro46;
    if (startsWith(name, "T46"))
        return kFamilyTavro44i;
    if (startsWith(name, kOemPrefix))
        return kFamilyTavro36;
    if (startsWithAny(name, {"DK61", "VB-90"}))
        return kFamilyTavro46;
    return kFamilyNone;
}

ModelFamily familyForOk(std::string_view name)
{
    if (startsWith(name, "TAVRO15"))
        return kFamilyTavro15;
    if (startsWithAny(name, {"TAVRO25II", "QMX-5170", "KLM 07II", "VB-6040"}))
        return kFamilyTavro25II;
    if (startsWith(name, "ZQR-4000"))
        return kFamilyTavro44i;
    if (startsWithAny(name, {"TAVRO36", kOemPrefix}))
        return kFamilyTavro36;
    if (startsWith(name, "TAVRO46"))
        return kFamilyTavro46;
    return kFamilyTavro25;
}

int interfaceKindOf(std::string_view name, ModelFamily family)
{
    if (endsWith(name, "E-II"))
        return kInterfaceEthernet;
    if (endsWith(name, "W"))
        return kInterfaceWireless;
    if (endsWith(name, "II") && family != kFamilyTavro15)
        return kInterfaceUsbPrinter;
    if (endsWith(name, "P"))
        return kInterfaceParallel;
    if (endsWith(name, "S"))
        return kInterfaceSerial;
    if (endsWith(name, "-I"))
        return kInterfaceUsbSerial;
    return kInterfaceNone;
}

std::string familyLabel(ModelFamily family)
{
    switch (family) {
    case kFamilyTavro15: return "TAVRO15 - ";
    case kFamilyTavro44i: return "TAVRO44i - ";
    case kFamilyTavro46: return "TAVRO46/48 - ";
    case kFamilyTavro36: return "TAVRO36/38 - ";
    default: return "TAVRO25 - ";
    }
}

std::vector<std::string> usbSearchIds(ModelFamily family)
{
    switch (family) {
    case kFamilyTavro25: return {usbId("0101")};
    case kFamilyTavro25II: return {usbId("0102")};
    case kFamilyTavro44i: return {usbId("3004")};
    case kFamilyTavro36: return {usbId("3302"), usbId("3304")};
    case kFamilyTavro46: return {usbId("3312"), usbId("3314")};
    default: return {};
    }
}

std::vector<std::string> usbOpenIds(ModelFamily family)
{
    switch (family) {
    case kFamilyTavro25II:
    case kFamilyTavro44i: return {usbId("3004")};
    case kFamilyTavro36: return {usbId("3302"), usbId("3304")};
    case kFamilyTavro46: return {usbId("3312"), usbId("3314")};
    default: return {usbId("0101")};
    }
}

std::string virtualSerialId(ModelFamily family)
{
    switch (family) {
    case kFamilyTavro44i: return usbId("3003");
    case kFamilyTavro46: return usbId("3311");
    default: return usbId("3301");
    }
}

std::vector<std::string> builtInDeviceList()
{
    return {"TAVRO36/38 U-I", "TAVRO36/38 U-II", "TAVRO36/38 S", "TAVRO36/38 P", "TAVRO36/38 E-II"};
}

std::string connectionSummary(const ConnectionSettings& s)
{
    PortKind kind = portKindOf(s.portName);
    if (kind == PortKind::Serial) {
        char buffer[160];
        std::string text = familyLabel(s.modelFamily) + s.portName + "\r\n";
        std::snprintf(buffer, sizeof buffer, "Baud : %d\r\nData : %d bit\r\n", s.baudRate, s.byteSize);
        text += buffer;
        text += s.parity == 0 ? "None Parity\r\n" : s.parity == 1 ? "Odd Parity\r\n" : "Even Parity\r\n";
        text += s.flowCtrl == 1   ? "H/W Flow control\r\n"
                : s.flowCtrl == 2 ? "S/W Flow control\r\n"
                                  : "None Flow control\r\n";
        text += s.stopBits == 0 ? "One Stop Bit" : s.stopBits == 1 ? "1.5 Stop Bits" : "Two Stop Bits";
        return text;
    }
    if (kind == PortKind::Usb)
        return "TAVRO \r\nUSB-II Interface";
    return familyLabel(s.modelFamily) + s.portName;
}

int stopBitsCode(std::string_view text)
{
    if (text == "1.5")
        return 1;
    if (text == "2")
        return 2;
    return 0;
}

bool ConnectionSettings::fitsInterface() const
{
    const PortKind k = kind();
    if (interfaceKind == kInterfaceNone || k == PortKind::PrintToFile)
        return true;
    switch (interfaceKind) {
    case kInterfaceSerial:
    case kInterfaceUsbSerial: return k == PortKind::Serial;
    case kInterfaceParallel: return k == PortKind::Parallel;
    case kInterfaceUsbPrinter: return k == PortKind::Usb;
    case kInterfaceEthernet:
    case kInterfaceWireless: return k == PortKind::Ethernet;
    default: return false;
    }
}

const char* portKindName(PortKind kind)
{
    switch (kind) {
    case PortKind::Serial: return "serial port";
    case PortKind::Parallel: return "parallel port";
    case PortKind::Usb: return "USB printer";
    case PortKind::Ethernet:
    case PortKind::Wifi: return "network printer";
    case PortKind::PrintToFile:
    case PortKind::File: return "file";
    }
    return "port";
}

bool isDeviceKind(PortKind kind)
{
    return kind == PortKind::Serial || kind == PortKind::Parallel || kind == PortKind::Usb;
}

std::string ConnectionSettings::describe() const
{
    switch (kind()) {
    case PortKind::Serial: return "serial port " + portName;
    case PortKind::Parallel: return "parallel port " + portName;
    case PortKind::Usb: return toUpperAscii(portName) == "USB" ? "USB printer" : "USB printer " + portName;
    case PortKind::Ethernet:
    case PortKind::Wifi: return host.empty() ? "network printer" : "tcp " + host + ":" + std::to_string(tcpPort);
    case PortKind::PrintToFile: return "file " + (outputFile.empty() ? std::string("temp.prn") : outputFile);
    case PortKind::File: return "file " + portName;
    }
    return portName;
}
