#pragma once
// tavroctl's connection options turned into the one ConnectionSettings, and a raw send over
// whichever connection they name. Commands do not use this directly: CliSession (one per
// command run) parses the options, configures CPorts and builds the connection.
//
// --port forms: a device path ("/dev/ttyUSB0", "/dev/lp0", any path whose name begins with
// "tty", "lp" or "parport"), a USB printer node ("/dev/usb/lp0": that very printer),
// "COMn" / "LPTn", "usb", "tcp://HOST[:PORT]" (port 6001 when left out; 515 or
// 1024..65534 as the network dialog allows), "file:PATH". Without --port, a --device entry
// for a USB printer ("... U-II") means "usb" and one for a USB virtual serial port
// ("... U-I") means the port of the family's USB id.
#include "app/ConnectionRules.h"
#include "app/PortName.h"
#include "app/Result.h"
#include "cli/CliCommand.h"
#include "port/DeviceDiscovery.h"

#include <cstdint>
#include <string>
#include <vector>

class CPorts;
class CliPrompter;
class PrinterConnection;
class ProgressSink;

inline constexpr int kDefaultTcpPort = 6001;

// tavroctl's name for the settings it parsed: the same type the desktop tool's OK makes.
using CliConnection = ConnectionSettings;

// Checks and interprets the options; reads nothing but the device tree (for a "U-I" entry
// without --port). The failure message is one line fit for cliFail.
Result<CliConnection> parseConnection(const CliOptions& options,
                                      const DeviceRoots& roots = DeviceRoots::fromEnvironment());

// Writes a parsed connection into ports (CPorts::Configure) and prompter (the output file
// of file:PATH); for tcp, hands the address to EthInit.
void applyConnection(const CliConnection& connection, CPorts& ports, CliPrompter& prompter);

// parseConnection, then applyConnection on success.
Result<CliConnection> configureConnection(const CliOptions& options, CPorts& ports, CliPrompter& prompter);

// Sends the bytes unchanged over an open connection in pieces of at most 4096 bytes,
// reporting progress per piece. Done only when every byte reached the printer (serial:
// left the UART; TCP: acknowledged). Fails with one line: "short write to <where>: n of m
// bytes sent" when the printer stopped taking them, the stall text when it took nothing
// for the stall limit, "... the printer closed the connection" when it hung up.
Status sendRaw(PrinterConnection& connection, const std::vector<std::uint8_t>& bytes, ProgressSink& progress,
               const std::string& where);
