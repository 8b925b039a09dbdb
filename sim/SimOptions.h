#pragma once
// What tavro-sim was asked to offer: transports, addresses, folders, fault switches.
#include "sim/DeviceEndpoint.h"
#include "sim/NetworkRecord.h"
#include "sim/SimHost.h"

#include <string>
#include <vector>

struct SimOptions {
    SimSettings settings;
    bool serial = false, parallel = false, usb = false, usbSerial = false, tcp = false;
    std::string tcpAddress = "127.0.0.1";
    int tcpPort = 6001;
    std::vector<std::string> udpAddresses; // "127.0.0.2" or "127.0.0.2:0"
    int udpPort = 2918;                    // listening port where an address names none
    int udpReplyPort = 2918;               // where answers go on the requester's address
    NetModuleOptions network;              // LAN mode, restart time, faults, first record
    std::string runDir;                    // "" = a fresh folder under $XDG_RUNTIME_DIR or /tmp
    std::string stateDir;                  // "" = <run dir>/state
    bool json = false;                     // stdout lines as JSON
    bool quiet = false;                    // no per-command lines on stdout
    unsigned usbProductId = 0;             // 0 = the family's USB printer id
    unsigned usbSerialProductId = 0;       // 0 = the family's virtual serial id
    std::string usbSerialNumber = "SIM0000001"; // the USB devices' serial number ("" none)
    bool usbSingleOpen = false;            // the USB printer node refuses a second open, as usblp
    std::vector<DeviceSpec> devices;       // real device nodes (USB gadgets, ttys, a parallel far end)
    bool keepPaper = true;                 // render receipts (memory and time grow with an uncut receipt)

    // With no transport switch the printer offers every transport on its default.
    void defaultTransports()
    {
        if (!serial && !parallel && !usb && !usbSerial && !tcp && udpAddresses.empty() && devices.empty()) {
            serial = parallel = usb = usbSerial = tcp = true;
            udpAddresses = {"127.0.0.2"};
        }
    }
    // USB product ids the printer presents, by model family.
    static unsigned printerProductId(int family);
    static unsigned virtualSerialProductId(int family);
};
