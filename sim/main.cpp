// tavro-sim: a virtual TAVRO printer. See --help and sim/README.md.
#include "sim/CaptureDecoder.h"
#include "sim/EventLog.h"
#include "sim/FleetServer.h"
#include "sim/SimServer.h"

#include <tuple>
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <sstream>

namespace {

std::set<int> parseSettingList(const std::string& text, std::string* error)
{
    std::set<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty())
            continue;
        char* end = nullptr;
        long v = std::strtol(item.c_str(), &end, 10);
        if (!end || *end || v < 1 || v > 255) {
            *error = "not a setting number (1..255): " + item;
            return {};
        }
        out.insert(static_cast<int>(v));
    }
    return out;
}

std::vector<std::string> splitComma(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"tavro-sim: a virtual TAVRO receipt printer. It plays the printer's side of the setup\n"
                 "tool's protocols over a serial pty, a parallel pty, a USB printer node and a USB virtual\n"
                 "serial port (behind a fake sysfs tree), a TCP raw port and UDP network settings.\n"
                 "It prints NAME=VALUE environment lines, then READY, then one line per command received."};
    app.set_help_flag("-h,--help", "Show this help and exit");

    SimOptions o;
    std::string tcpText, udpText, noAnswer, usbPid, acmPid;
    app.add_option("--family", o.settings.family, "Model family 1..6 (1 TAVRO25, 2 TAVRO15, 3 TAVRO25II, 4 TAVRO44i, 5 TAVRO36/38, 6 TAVRO46/48)")
        ->check(CLI::Range(1, 6))->default_val(1);
    app.add_flag("--serial", o.serial, "Offer the serial port <run dir>/ttySIM0");
    app.add_flag("--parallel", o.parallel, "Offer the parallel port <run dir>/lpSIM0 (automatic status back until GS a 0)");
    app.add_flag("--usb", o.usb, "Offer a USB printer-class node ($TAVRO_DEV_ROOT/usb/lp0, VID 5A3E)");
    app.add_flag("--usb-single-open", o.usbSingleOpen,
                 "The USB printer node refuses a second open while one is held (EBUSY, as usblp; for "
                 "processes without CAP_SYS_ADMIN) and logs every second open it sees");
    app.add_flag("--usb-serial", o.usbSerial, "Offer a USB virtual serial port ($TAVRO_DEV_ROOT/ttyACM0, VID 5A3E)");
    auto* tcpOpt = app.add_option("--tcp", tcpText, "Offer the TCP raw port on [ADDR:]PORT (default 127.0.0.1:6001; port 0 picks a free one)")
                       ->expected(0, 1);
    app.add_option("--udp", udpText, "Network settings printers on loopback ADDR[:PORT][,ADDR...] (one printer per address)");
    app.add_option("--udp-port", o.udpPort, "UDP port for --udp addresses that name none")->default_val(2918)->check(CLI::Range(0, 65535));
    std::string lanIp, netMask, netGateway, netMac;
    int netDhcp = -1;
    app.add_option("--udp-lan", lanIp, "One network module on a LAN with this address: listens on 0.0.0.0 (broadcasts to 255.255.255.255 arrive) and answers any requester. Only inside a network namespace other than the host's");
    app.add_option("--net-mask", netMask, "Network module's subnet mask (default 255.0.0.0)");
    app.add_option("--net-gateway", netGateway, "Network module's gateway (default 127.0.0.1)");
    app.add_option("--net-mac", netMac, "First network module's MAC XX:XX:XX:XX:XX:XX (the next modules count up the last byte)");
    app.add_option("--net-dhcp", netDhcp, "Network module's DHCP byte as it answers (0 off, 1 on; 2 as some modules report on)")->check(CLI::Range(0, 255));
    app.add_option("--net-restart-ms", o.network.restartMs, "How long a network module is deaf after an applied change")->default_val(1000)->check(CLI::Range(0, 600000));
    app.add_flag("--net-long-answer", o.network.longAnswer, "Fault: network modules answer a search with 40 bytes");
    app.add_flag("--net-duplicate", o.network.duplicate, "Fault: network modules answer every search twice");
    app.add_flag("--net-silent-set", o.network.silentSet, "Fault: network modules do not answer a set request (they still take it)");
    app.add_option("--udp-reply-port", o.udpReplyPort, "Port on the requester's address that answers go to")->default_val(2918)->check(CLI::Range(1, 65535));
    app.add_option("--run-dir", o.runDir, "Folder for the port symlinks, the fake sysfs tree and the default state (default: a fresh folder under $XDG_RUNTIME_DIR or /tmp, removed at exit)");
    app.add_option("--state", o.stateDir, "State folder (settings, NV pictures, logo, network, firmware, events.jsonl); default <run dir>/state");
    app.add_flag("--json", o.json, "Print the per-command lines as JSON (the event log's form)");
    app.add_flag("--quiet", o.quiet, "No per-command lines on stdout (the event log is still written)");
    app.add_option("--usb-pid", usbPid, "USB printer product id in hex (default by family: 0101, 3004, 3302, 3312)");
    app.add_option("--usb-serial-number", o.usbSerialNumber, "Serial number of the USB devices in the fake sysfs tree (default SIM0000001; \"\" for none)");
    app.add_option("--usb-serial-pid", acmPid, "USB virtual serial product id in hex (default by family: 3301, 3003, 3311)");
    app.add_option("--restart-ms", o.settings.restartMs, "How long the USB nodes are gone when the printer restarts")->default_val(1500)->check(CLI::Range(0, 600000));
    app.add_option("--store-ms", o.settings.storeMs, "How long the printer stores settings or logo settings before it restarts (a real printer writes its flash first)")->default_val(0)->check(CLI::Range(0, 60000));
    app.add_option("--flash-busy-ms", o.settings.flashBusyMs, "How long the printer does not read while it writes received firmware")->default_val(1000)->check(CLI::Range(0, 600000));
    app.add_option("--asb-interval-ms", o.settings.asbIntervalMs, "Period of the automatic status back reports on the parallel port")->default_val(1000)->check(CLI::Range(50, 600000));
    app.add_option("--nv-erase-ms", o.settings.nvEraseMs, "How long the NV bit-image memory erases after FS q n (raster data before that is an error)")->default_val(3000)->check(CLI::Range(0, 600000));
    app.add_flag("--pace", o.settings.pace, "Pace pty links to the line rate the tool set on the port (slow-link rehearsal)");
    // Fault switches.
    app.add_option("--no-answer", noAnswer, "Fault: leave Function 6 requests for these settings (comma list) unanswered");
    app.add_flag("--noise", o.settings.linkFaults.noise, "Fault: send noise bytes in front of every reply");
    app.add_option("--answer-delay", o.settings.linkFaults.answerDelayMs, "Fault: delay every reply by this many ms")->check(CLI::Range(0, 600000));
    app.add_option("--nak-every", o.settings.interpreterFaults.nakEvery, "Fault: NAK the first try of every k-th legacy download packet")->check(CLI::Range(0, 1000000));
    app.add_flag("--split-dle", o.settings.interpreterFaults.splitDle, "Fault: send the DLE of a legacy answer and its ACK/NAK in separate writes");
    app.add_flag("--stray-ack", o.settings.interpreterFaults.strayAck, "Fault: send a lone 06 in front of every legacy answer");
    app.add_option("--hangup-after", o.settings.linkFaults.hangupAfter, "Fault: hang up (pty closed, TCP reset) after this many bytes received on a connection")->check(CLI::Range(0L, 1L << 40));
    app.add_option("--stall-after", o.settings.linkFaults.stallAfter, "Fault: stop reading after this many bytes received on a connection ...")->check(CLI::Range(0L, 1L << 40));
    app.add_option("--stall-ms", o.settings.linkFaults.stallMs, "... for this many ms (default 3000)")->default_val(3000)->check(CLI::Range(0, 600000));

    // The printer's side of real device nodes.
    std::vector<std::string> gadgetPrinters, gadgetSerials, ttys, parallelEnds;
    app.add_option("--gadget-printer", gadgetPrinters, "Serve a USB printer gadget node: PATH[,UDC] (e.g. /dev/g_printer0,/sys/kernel/config/usb_gadget/NAME/UDC); with UDC a printer restart unplugs and plugs the gadget");
    app.add_option("--gadget-serial", gadgetSerials, "Serve a USB serial gadget tty: PATH[,UDC] (e.g. /dev/ttyGS0)");
    app.add_option("--tty", ttys, "Serve a serial port given by path with the printer's line settings: PATH[,BAUD[,FORMAT]] (e.g. /dev/ttyS1,9600,7E2)");
    bool noPaper = false;
    app.add_flag("--no-paper", noPaper, "Do not render receipts (long sends on a slow machine: an uncut receipt grows by 17 kB a line)");
    app.add_option("--parallel-far-end", parallelEnds, "Read what a parallel port sends from the character device wired to it: PATH (a FIFO or tty; nothing goes back)");

    // A fleet: many printers in one process, each on its own loopback address.
    int printers = 0;
    std::string fleetFirst = "127.0.1.1", fleetModels;
    std::vector<std::string> fleetFaults;
    int fleetTcpPort = 6001;
    bool fleetPaper = false;
    auto* printersOpt = app.add_option("--printers", printers,
                                       "A fleet of N printers in one process (TCP raw port and UDP network module each, on its "
                                       "own loopback address; state in <run dir>/printers/<k>)")
                            ->check(CLI::Range(1, 65000))->group("Fleet");
    app.add_option("--fleet-first", fleetFirst, "Address of printer 1 (default 127.0.1.1); the next count up the last byte 1..254, then carry (127.0.1.254, 127.0.2.1)")
        ->needs(printersOpt)->group("Fleet");
    app.add_option("--tcp-port", fleetTcpPort, "TCP raw port on every printer's address (default 6001; 0 picks a free one per printer)")
        ->check(CLI::Range(0, 65535))->needs(printersOpt)->group("Fleet");
    app.add_option("--fleet-models", fleetModels, "Model families round robin over the printers, e.g. 1,6 (default: --family)")
        ->needs(printersOpt)->group("Fleet");
    app.add_option("--fleet-fault", fleetFaults,
                   "Fault on chosen printers, KIND:WHICH[:NAME=VALUE...]; WHICH is k=LIST (3  1,4-6), every=N or all; "
                   "KIND is stall[:after=B][:ms=MS], hangup[:after=B], silent, no-answer[:settings=LIST], "
                   "refuse-setting[:settings=LIST], delay[:ms=MS], noise, net-silent-set, net-duplicate, net-long-answer. "
                   "Repeatable, e.g. --fleet-fault stall:every=7 --fleet-fault hangup:k=3:after=10")
        ->needs(printersOpt)->group("Fleet");
    app.add_flag("--fleet-paper", fleetPaper, "Render receipts in a fleet too (off by default: each printer's paper costs memory)")
        ->needs(printersOpt)->group("Fleet");

    DecodeOptions d;
    auto* decode = app.add_subcommand("decode", "Explain a captured byte stream (such as temp.prn), one line per command, and write its NV pictures as PNG");
    decode->add_option("FILE", d.file, "The capture")->required();
    decode->add_option("--png-dir", d.pngDir, "Folder for the NV pictures (default FILE.nv)");
    decode->add_option("--family", d.family, "Model family 1..6 (NV memory size, firmware areas)")->check(CLI::Range(1, 6))->default_val(1);
    decode->add_flag("--json", d.json, "Lines as JSON");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    if (*decode) {
        std::vector<std::string> lines;
        std::string error;
        bool ok = CaptureDecoder::decode(d, &lines, &error);
        for (auto& l : lines)
            std::printf("%s\n", l.c_str());
        if (!ok) {
            std::fprintf(stderr, "tavro-sim decode: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    std::string error;
    if (!noAnswer.empty()) {
        o.settings.interpreterFaults.noAnswerSettings = parseSettingList(noAnswer, &error);
        if (!error.empty()) {
            std::fprintf(stderr, "tavro-sim: --no-answer: %s\n", error.c_str());
            return 2;
        }
    }
    for (auto [text, out] : {std::pair{&usbPid, &o.usbProductId}, std::pair{&acmPid, &o.usbSerialProductId}}) {
        if (text->empty())
            continue;
        char* end = nullptr;
        unsigned long v = std::strtoul(text->c_str(), &end, 16);
        if (!end || *end || v == 0 || v > 0xFFFF) {
            std::fprintf(stderr, "tavro-sim: not a 4-digit hex product id: %s\n", text->c_str());
            return 2;
        }
        *out = static_cast<unsigned>(v);
    }
    if (tcpOpt->count() > 0) {
        o.tcp = true;
        if (!tcpText.empty()) {
            auto colon = tcpText.rfind(':');
            std::string port = colon == std::string::npos ? tcpText : tcpText.substr(colon + 1);
            if (colon != std::string::npos)
                o.tcpAddress = tcpText.substr(0, colon);
            char* end = nullptr;
            long p = std::strtol(port.c_str(), &end, 10);
            if (port.empty() || !end || *end || p < 0 || p > 65535) {
                std::fprintf(stderr, "tavro-sim: --tcp: not [ADDR:]PORT: %s\n", tcpText.c_str());
                return 2;
            }
            o.tcpPort = static_cast<int>(p);
        }
    }
    o.udpAddresses = splitComma(udpText);
    o.keepPaper = !noPaper;
    using Kind = DeviceSpec::Kind;
    for (auto [list, kind] : {std::pair{&gadgetPrinters, Kind::UsbPrinterGadget}, std::pair{&gadgetSerials, Kind::UsbSerialGadget},
                              std::pair{&ttys, Kind::Tty}, std::pair{&parallelEnds, Kind::ParallelFarEnd}}) {
        for (auto& text : *list) {
            DeviceSpec deviceSpec;
            if (!DeviceSpec::parse(kind, text, &deviceSpec, &error)) {
                std::fprintf(stderr, "tavro-sim: %s\n", error.c_str());
                return 2;
            }
            o.devices.push_back(deviceSpec);
        }
    }
    if (!lanIp.empty()) {
        if (!o.udpAddresses.empty()) {
            std::fprintf(stderr, "tavro-sim: --udp-lan and --udp exclude each other\n");
            return 2;
        }
        std::array<uint8_t, 4> ip{};
        if (!NetworkRecord::parseIp(lanIp, ip)) {
            std::fprintf(stderr, "tavro-sim: --udp-lan: not an IPv4 address: %s\n", lanIp.c_str());
            return 2;
        }
        o.network.lan = true;
        o.udpAddresses = {lanIp};
    }
    for (auto [text, out, name] : {std::tuple{&netMask, &o.network.mask, "--net-mask"},
                                   std::tuple{&netGateway, &o.network.gateway, "--net-gateway"}}) {
        if (text->empty())
            continue;
        std::array<uint8_t, 4> v{};
        if (!NetworkRecord::parseIp(*text, v)) {
            std::fprintf(stderr, "tavro-sim: %s: not an IPv4 address: %s\n", name, text->c_str());
            return 2;
        }
        *out = v;
    }
    if (!netMac.empty()) {
        std::array<uint8_t, 6> mac{};
        if (!NetworkRecord::parseMac(netMac, mac)) {
            std::fprintf(stderr, "tavro-sim: --net-mac: not XX:XX:XX:XX:XX:XX: %s\n", netMac.c_str());
            return 2;
        }
        o.network.mac = mac;
    }
    if (netDhcp >= 0)
        o.network.dhcp = static_cast<uint8_t>(netDhcp);

    FleetOptions fleet;
    if (printers > 0) {
        const bool single = o.serial || o.parallel || o.usb || o.usbSerial || tcpOpt->count() > 0 || !udpText.empty() ||
                            !lanIp.empty() || !o.devices.empty() || !o.stateDir.empty() || o.usbSingleOpen;
        if (single) {
            std::fprintf(stderr, "tavro-sim: --printers serves each printer's TCP raw port (--tcp-port) and UDP module on its own "
                                 "address; --serial, --parallel, --usb*, --tcp, --udp*, --state and device nodes are for one printer\n");
            return 2;
        }
        for (const std::string& model : splitComma(fleetModels)) {
            char* end = nullptr;
            long family = std::strtol(model.c_str(), &end, 10);
            if (!end || *end || family < 1 || family > 6) {
                std::fprintf(stderr, "tavro-sim: --fleet-models: not a model family 1..6: %s\n", model.c_str());
                return 2;
            }
            fleet.models.push_back(static_cast<int>(family));
        }
        for (const std::string& text : fleetFaults) {
            auto fault = FleetFault::parse(text, &error);
            if (!fault) {
                std::fprintf(stderr, "tavro-sim: %s\n", error.c_str());
                return 2;
            }
            fleet.faults.push_back(*fault);
        }
        fleet.printers = printers;
        fleet.first = fleetFirst;
        fleet.tcpPort = fleetTcpPort;
        fleet.keepPaper = fleetPaper;
        if (o.network.mac)
            fleet.macBase = *o.network.mac;
        fleet.base = o;
    }

    std::signal(SIGPIPE, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);

    if (printers > 0) {
        FleetServer server(std::move(fleet));
        if (!server.start(&error)) {
            std::fprintf(stderr, "tavro-sim: %s\n", error.c_str());
            return 1;
        }
        // Every start-up line must arrive: a starter waits for the READY line.
        std::fputs(server.readyText().c_str(), stdout);
        std::fflush(stdout);
        int rc = server.run();
        server.cleanup();
        return rc;
    }

    SimServer server(o);
    if (!server.start(&error)) {
        std::fprintf(stderr, "tavro-sim: %s\n", error.c_str());
        return 1;
    }
    std::string head;
    for (auto& [k, v] : server.environment())
        head += k + "=" + v + "\n";
    head += "READY\n";
    // The start-up lines must all arrive: a starter waits for READY.
    std::fputs(head.c_str(), stdout);
    std::fflush(stdout);
    int rc = server.run();
    server.cleanup();
    return rc;
}
