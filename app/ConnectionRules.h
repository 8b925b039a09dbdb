#pragma once
// The rules that turn a DEVICE entry into a model family and an interface, the USB ids of
// each family, and the connection summary of the function menu. Pure functions: the
// connection dialog, the menu and tavroctl all use these.
#include "app/PortName.h"

#include <string>
#include <string_view>
#include <vector>

enum ModelFamily : int {
    kFamilyNone = 0,
    kFamilyTavro25 = 1,
    kFamilyTavro15 = 2,
    kFamilyTavro25II = 3,
    kFamilyTavro44i = 4,
    kFamilyTavro36 = 5, // TAVRO36/38
    kFamilyTavro46 = 6, // TAVRO46/48
};

enum InterfaceKind : int {
    kInterfaceNone = 0,
    kInterfaceSerial = 1,      // "S"
    kInterfaceParallel = 2,    // "P"
    kInterfaceUsbSerial = 3,   // "-I": the USB virtual serial port
    kInterfaceUsbPrinter = 4,  // "II": USB printer class (not for TAVRO15)
    kInterfaceEthernet = 6,    // "E-II"
    kInterfaceWireless = 7,    // "W"
};

// Our own OEM name prefix, read from DEVICELIST entries: "NRX..." names are TAVRO36/38
// printers sold under a dealer's label.
inline constexpr const char* kOemPrefix = "NRX";

// The family of a DEVICE name when the selection changes (first match of the prefix
// table); kFamilyNone when the name is not a known model.
int familyForDeviceChange(std::string_view deviceName);
// The family stored by OK (its own table: unknown names give TAVRO25).
int familyForOk(std::string_view deviceName);
// The interface from the end of the DEVICE name; family is the device-change family.
int interfaceKindOf(std::string_view deviceName, int family);

// "TAVRO36/38 - " and the other labels in front of the connection summary.
std::string familyLabel(int family);

// "USB\VID_5A3E&PID_xxxx" hardware ids.
std::vector<std::string> usbSearchIds(int family); // device change; empty for TAVRO15
std::vector<std::string> usbOpenIds(int family);   // CPorts::Open of "USB"
std::string virtualSerialId(int family);           // "-I" entries

// The built-in DEVICE list, used when the profile names none.
std::vector<std::string> builtInDeviceList();

// The one description of a printer connection: what the connection dialog's OK and
// tavroctl's options produce, what CPorts is configured from (CPorts::Configure) and what
// makeConnection builds a connection from.
struct ConnectionSettings {
    // m_PortName: a serial or parallel device path (or "COMn"/"LPTn"), a USB printer node
    // under /dev/usb/, "USB" (the family's USB printer, found by its id), "ETHERNET_II",
    // "FILE" (output file asked for at open), or an output file name.
    std::string portName;
    int baudRate = -1;
    int byteSize = -1;
    int parity = -1;   // 0 none, 1 odd, 2 even
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
    int flowCtrl = -1; // 1 H/W, 2 S/W, 3 none
    int modelFamily = 0;
    // Network printer ("ETHERNET_II"): empty host means the address the network dialog
    // handed to the network library.
    std::string host;
    int tcpPort = 0;
    // "FILE": the output file to use without asking (empty: ask, "temp.prn" by default).
    std::string outputFile;
    // The interface of the DEVICE entry it came from (kInterface...), 0 when none was named.
    int interfaceKind = 0;

    PortKind kind() const { return portKindOf(portName); }
    // One line for messages: "serial port /dev/ttyUSB0", "tcp 10.0.0.5:6001",
    // "file out.prn", "USB printer" (or "USB printer /dev/usb/lp1" for a named node).
    std::string describe() const;
};

// The text the tool dialogs show in their model area ("\r\n" between lines).
std::string connectionSummary(const ConnectionSettings& settings);

// The stop-bit code of a Stop Bit text: "1.5" 1, "2" 2, anything else 0.
int stopBitsCode(std::string_view text);
