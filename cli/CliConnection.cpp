#include "cli/CliConnection.h"

#include "app/ConnectionRules.h"
#include "cli/CliPrompter.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"
#include "app/Progress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// The model of tavroctl when --device is not given: the family of the built-in DEVICE list.
constexpr ModelFamily kDefaultFamily = kFamilyTavro36;
constexpr std::size_t kSendPiece = 4096;

bool validTcpPort(int port)
{
    // The network dialog's rule: the printer's raw port, or LPD's 515.
    return port == 515 || (port >= 1024 && port <= 65534);
}

Status parseTcp(std::string_view rest, CliConnection& c)
{
    std::string host(rest);
    int port = kDefaultTcpPort;
    if (auto colon = host.rfind(':'); colon != std::string::npos) {
        std::string digits = host.substr(colon + 1);
        host.resize(colon);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
            return Status::failure("--port tcp://" + std::string(rest) + ": the TCP port must be a number");
        port = std::stoi(digits);
    }
    if (host.empty() || host.find_first_of(":/ ") != std::string::npos)
        return Status::failure("--port tcp://" + std::string(rest) + ": expected tcp://HOST[:PORT]");
    if (!validTcpPort(port))
        return Status::failure("--port tcp://" + std::string(rest) + ": TCP port " + std::to_string(port) +
                               " is outside 1024..65534 (or 515)");
    c.portName = "ETHERNET_II";
    c.host = host;
    c.tcpPort = port;
    return Status::success();
}


} // namespace

Result<CliConnection> parseConnection(const CliOptions& o, const DeviceRoots& roots)
{
    CliConnection c;
    c.modelFamily = kDefaultFamily;
    if (!o.device.empty()) {
        ModelFamily changeFamily = familyForDeviceChange(o.device);
        if (changeFamily == kFamilyNone)
            return Result<CliConnection>::failure("--device \"" + o.device + "\": not a known printer model");
        c.modelFamily = familyForOk(o.device);
        c.interfaceKind = interfaceKindOf(o.device, changeFamily);
        if (c.interfaceKind == kInterfaceNone)
            return Result<CliConnection>::failure("--device \"" + o.device + "\": the name does not end in an interface (S, P, U-I, U-II, E-II, W)");
    }

    const std::string& p = o.port;
    if (p.empty()) {
        switch (c.interfaceKind) {
        case kInterfaceUsbPrinter:
            c.portName = "USB";
            break;
        case kInterfaceUsbSerial: {
            std::string node = FindUsbVirtualCom(virtualSerialId(c.modelFamily), roots);
            if (node.empty())
                return Result<CliConnection>::failure("no USB virtual serial port with " +
                                                      virtualSerialId(c.modelFamily) + " is attached");
            c.portName = node;
            break;
        }
        case kInterfaceEthernet:
        case kInterfaceWireless:
            return Result<CliConnection>::failure("a network printer needs --port tcp://HOST[:PORT]");
        case kInterfaceNone:
            return Result<CliConnection>::failure("no connection given: use --port (or --device for a USB printer)");
        default:
            return Result<CliConnection>::failure("--device \"" + o.device + "\" needs --port with the device path");
        }
    } else if (startsWithNoCase(p, "tcp://")) {
        if (Status s = parseTcp(std::string_view(p).substr(6), c); !s)
            return Result<CliConnection>(s);
    } else if (startsWithNoCase(p, "file:")) {
        c.outputFile = p.substr(5);
        if (c.outputFile.empty())
            return Result<CliConnection>::failure("--port file:PATH needs a file name");
        c.portName = "FILE";
    } else {
        if (!isDeviceKind(portKindOf(p)))
            return Result<CliConnection>::failure("--port " + p +
                                                  ": not a serial (tty..., COMn) or parallel (lp..., parport..., LPTn) "
                                                  "device, usb, tcp://HOST[:PORT] or file:PATH");
        // "usb" is the family's printer found by its id; a node path is that printer.
        c.portName = toUpperAscii(p) == "USB" ? "USB" : p;
    }
    if (!c.fitsInterface())
        return Result<CliConnection>::failure("--device \"" + o.device + "\" does not connect through a " + portKindName(c.kind()));

    if (c.modelFamily == kFamilyTavro15 && connectionTraits(c.kind()).linePaced && o.baud != 38400 && o.baud != 19200 && o.baud != 9600)
        return Result<CliConnection>::failure("TAVRO15 printers take --baud 38400, 19200 or 9600");
    c.baudRate = o.baud;
    c.byteSize = o.data;
    if (o.parity == "none")
        c.parity = 0;
    else if (o.parity == "odd")
        c.parity = 1;
    else if (o.parity == "even")
        c.parity = 2;
    else
        return Result<CliConnection>::failure("--parity must be none, odd or even");
    if (o.stop == 1)
        c.stopBits = 0;
    else if (o.stop == 2)
        c.stopBits = 2;
    else
        return Result<CliConnection>::failure("--stop must be 1 or 2");
    if (o.flow == "hw")
        c.flowCtrl = 1;
    else if (o.flow == "sw")
        c.flowCtrl = 2;
    else if (o.flow == "none")
        c.flowCtrl = 3;
    else
        return Result<CliConnection>::failure("--flow must be hw, sw or none");
    return c;
}

void applyConnection(const CliConnection& c, CPorts& ports, CliPrompter& prompter)
{
    ports.Configure(c);
    if (!c.outputFile.empty())
        prompter.setOutputFileName(c.outputFile);
}

Result<CliConnection> configureConnection(const CliOptions& options, CPorts& ports, CliPrompter& prompter)
{
    auto c = parseConnection(options);
    if (c)
        applyConnection(*c, ports, prompter);
    return c;
}

Status sendRaw(PrinterConnection& connection, const std::vector<std::uint8_t>& bytes, ProgressSink& progress,
               const std::string& where)
{
    using namespace std::chrono;
    // Each piece gets the connection's write deadline; a printer that takes nothing is caught
    // sooner by the connection's stall limit.
    const ConnectionTraits traits = connection.traits();
    std::size_t sent = 0;
    progress.report({0, bytes.size(), ""});
    while (sent < bytes.size()) {
        std::size_t piece = std::min(kSendPiece, bytes.size() - sent);
        const milliseconds deadline = traits.writeDeadline(piece);
        IoResult r = connection.write(std::span(bytes.data() + sent, piece), deadline);
        sent += std::min(r.count(), piece);
        if (!r) {
            connection.close();
            std::string counted = std::to_string(sent) + " of " + std::to_string(bytes.size()) + " bytes sent";
            switch (r.outcome()) {
            case IoResult::Outcome::TimedOut:
                if (r.message().rfind("the printer took no data", 0) == 0)
                    return Status::failure(r.message().substr(0, r.message().find(';')) + "; " + counted + " to " + where);
                return Status::failure("short write to " + where + ": " + counted);
            case IoResult::Outcome::HungUp:
                return Status::failure(where + ": " + kPrinterClosedText + " (" + counted + ")");
            case IoResult::Outcome::Cancelled:
                return Status::failure("interrupted; " + counted + " to " + where);
            default:
                return Status::failure(r.message());
            }
        }
        progress.report({sent, bytes.size(), ""});
    }
    connection.close();
    return Status::success();
}
