#pragma once
// The rules that turn a DEVICE entry into a model family and an interface, the USB ids of
// each family, and the connection summary of the function menu. Pure functions: the
// connection dialog, the menu and tavroctl all use these.
#include "app/PortName.h"

#include <string>
#include <string_view>
#include <vector>

// The printer models that differ in what they take. The numbers are those of tavroctl's
// --family, tavro-sim's --family and of stored files.
enum class ModelFamily : int {
    None = 0,
    Tavro25 = 1,
    Tavro15 = 2,
    Tavro25II = 3,
    Tavro44i = 4,
    Tavro36 = 5, // TAVRO36/38
    Tavro46 = 6, // TAVRO46/48
};
inline constexpr ModelFamily kFamilyNone = ModelFamily::None;
inline constexpr ModelFamily kFamilyTavro25 = ModelFamily::Tavro25;
inline constexpr ModelFamily kFamilyTavro15 = ModelFamily::Tavro15;
inline constexpr ModelFamily kFamilyTavro25II = ModelFamily::Tavro25II;
inline constexpr ModelFamily kFamilyTavro44i = ModelFamily::Tavro44i;
inline constexpr ModelFamily kFamilyTavro36 = ModelFamily::Tavro36;
inline constexpr ModelFamily kFamilyTavro46 = ModelFamily::Tavro46;

// The family's number (1..6, 0 for none), and the family of a number (None outside 1..6).
constexpr int familyNumber(ModelFamily family) { return static_cast<int>(family); }
constexpr ModelFamily familyOfNumber(int number)
{
    return number >= 1 && number <= 6 ? static_cast<ModelFamily>(number) : ModelFamily::None;
}

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
ModelFamily familyForDeviceChange(std::string_view deviceName);
// The family stored by OK (its own table: unknown names give TAVRO25).
ModelFamily familyForOk(std::string_view deviceName);
// The interface from the end of the DEVICE name; family is the device-change family.
int interfaceKindOf(std::string_view deviceName, ModelFamily family);

// "TAVRO36/38 - " and the other labels in front of the connection summary.
std::string familyLabel(ModelFamily family);

// "USB\VID_5A3E&PID_xxxx" hardware ids.
std::vector<std::string> usbSearchIds(ModelFamily family); // device change; empty for TAVRO15
std::vector<std::string> usbOpenIds(ModelFamily family);   // CPorts::Open of "USB"
std::string virtualSerialId(ModelFamily family);           // "-I" entries

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
    ModelFamily modelFamily = ModelFamily::None;
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
    // The connection fits the interface of the DEVICE entry it came from (always when none
    // was named; a file takes any printer's bytes).
    bool fitsInterface() const;
};

// "serial port", "parallel port", "USB printer", "network printer", "file".
const char* portKindName(PortKind kind);
// A name of a device node (serial, parallel or USB printer), not a network or file name.
bool isDeviceKind(PortKind kind);

// The text the tool dialogs show in their model area ("\r\n" between lines).
std::string connectionSummary(const ConnectionSettings& settings);

// The stop-bit code of a Stop Bit text: "1.5" 1, "2" 2, anything else 0.
int stopBitsCode(std::string_view text);
