#pragma once
// tavroctl's connection options turned into the settings of CPorts or the network library,
// and a raw send over whichever connection they name. Every command that talks to a
// printer uses this:
//
//     CliPrompter prompter(ctx.options.yes);
//     CPorts ports(prompter, SystemClock::instance(), theErrorLog());
//     auto conn = configureConnection(ctx.options, ports, prompter);
//     if (!conn) return cliFail(conn.message());
//     if (conn->kind == PortKind::Ethernet) { EthOpen(); ...; EthClose(); }
//     else { ports.m_Function = 2; ports.Open(); ...; ports.Close(); }
//
// --port forms: a device path ("/dev/ttyUSB0", "/dev/lp0", any path whose name begins with
// "tty", "lp" or "parport"), "COMn" / "LPTn", "usb", "tcp://HOST[:PORT]" (port 6001 when
// left out; 515 or 1024..65534 as the network dialog allows), "file:PATH". Without --port,
// a --device entry for a USB printer ("... U-II") means "usb" and one for a USB virtual
// serial port ("... U-I") means the port of the family's USB id.
#include "app/PortName.h"
#include "app/Result.h"
#include "cli/CliCommand.h"
#include "port/DeviceDiscovery.h"

#include <cstdint>
#include <string>
#include <vector>

class CPorts;
class CliPrompter;

inline constexpr int kDefaultTcpPort = 6001;

struct CliConnection {
    PortKind kind = PortKind::File; // Serial, Parallel, Usb, Ethernet or PrintToFile
    std::string portName;           // the m_PortName it sets ("ETHERNET_II" for tcp)
    std::string host;               // tcp only
    int tcpPort = 0;                // tcp only
    std::string outputFile;         // file: only
    int family = 0;                 // model family 1..6
    int interfaceKind = 0;          // of --device; 0 without one
    // CPorts' serial settings from --baud/--data/--parity/--stop/--flow.
    int baudRate = -1, byteSize = -1, parity = -1, stopBits = 0, flowCtrl = -1;

    // "serial port /dev/ttyUSB0", "tcp 127.0.0.1:6001", "file out.prn", "USB printer".
    std::string describe() const;
};

// Checks and interprets the options; reads nothing but the device tree (for a "U-I" entry
// without --port). The failure message is one line fit for cliFail.
Result<CliConnection> parseConnection(const CliOptions& options,
                                      const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// Writes a parsed connection into ports (m_PortName, m_ModelFamily and the serial settings)
// and prompter (the output file of file:PATH); for tcp, hands the address to EthInit.
void applyConnection(const CliConnection& connection, CPorts& ports, CliPrompter& prompter);

// parseConnection, then applyConnection on success.
Result<CliConnection> configureConnection(const CliOptions& options, CPorts& ports, CliPrompter& prompter);

// Opens the connection, sends the bytes unchanged in pieces of at most 4096 bytes and
// closes again. Fails with one line when it cannot open, or with the count actually sent
// when the printer stopped taking the bytes.
Status sendRaw(const CliConnection& connection, CPorts& ports, const std::vector<std::uint8_t>& bytes);
