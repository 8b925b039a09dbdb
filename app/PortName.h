#pragma once
// The kind of a port name (m_PortName). Every "is it serial / parallel / network" question
// of the tools goes through portKindOf, so that Linux device paths, the old "COMn"/"LPTn"
// names and the special names are told apart in one place.
#include <string>
#include <string_view>

enum class PortKind {
    Serial,    // basename "tty..." or "COMn"
    Parallel,  // basename "lp..." / "parport..." or "LPTn"
    Usb,       // "USB": the USB printer-class device of the model family; or a node under
               // a "usb" folder (/dev/usb/lp0): that very USB printer
    Ethernet,  // "ETHERNET_II": the network library
    Wifi,      // "WIFI": only between the connection dialog and its network dialog
    PrintToFile, // "FILE": ask for an output file name at Open
    File,      // any other name: an output file
};

PortKind portKindOf(std::string_view portName);

// The device node behind a serial or parallel name: "COM3" -> "/dev/ttyS2",
// "LPT1" -> "/dev/lp0"; a path is returned unchanged.
std::string devicePathOf(std::string_view portName);

// A USB virtual serial port (cdc-acm's ttyACM*): it goes away while the printer restarts
// and comes back under the same name.
bool isUsbVirtualSerialPort(std::string_view portName);

// Text helpers for the name rules of the tool (ASCII only).
std::string toUpperAscii(std::string_view text);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
