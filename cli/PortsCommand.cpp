// tavroctl ports: the serial and parallel ports of this machine, and the USB printers and
// USB virtual serial ports with their hardware ids, as the connection dialog finds them.
#include "cli/CliCommand.h"
#include "cli/JsonLine.h"
#include "cli/CliPrompter.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "port/CPorts.h"
#include "port/DeviceDiscovery.h"

#include <cstdio>
#include <iostream>
#include <sstream>

namespace {

OrderedJson jsonDevices(const std::vector<UsbDeviceEntry>& devices)
{
    OrderedJson out = OrderedJson::array();
    for (const auto& d : devices)
        out.push_back(OrderedJson{{"name", d.name}, {"hardwareId", d.hardwareId}, {"node", d.node}});
    return out;
}

void textSection(std::ostream& out, const char* title, const std::vector<std::string>& names)
{
    out << title << ":\n";
    if (names.empty())
        out << "  (none)\n";
    for (const auto& n : names)
        out << "  " << n << "\n";
}

void textDevices(std::ostream& out, const char* title, const std::vector<UsbDeviceEntry>& devices)
{
    out << title << ":\n";
    if (devices.empty())
        out << "  (none)\n";
    for (const auto& d : devices)
        out << "  " << d.hardwareId << "  " << d.node << "\n";
}

int runPorts(const CliOptions& options)
{
    DeviceRoots roots = DeviceRoots::fromEnvironment();
    CliPrompter prompter(options.yes);
    CPorts ports(prompter, SystemClock::instance(), theErrorLog(), roots);
    std::vector<std::string> serial = ports.EnumPorts(false);
    std::vector<std::string> parallel = ports.EnumPorts(true);
    std::vector<UsbDeviceEntry> printers = listUsbPrinters(roots);
    std::vector<UsbDeviceEntry> usbSerial = listUsbSerialPorts(roots);

    std::ostringstream out;
    if (options.json) {
        out << toJsonLine({{"serial", serial}, {"parallel", parallel}, {"usbPrinters", jsonDevices(printers)},
                           {"usbSerial", jsonDevices(usbSerial)}})
            << "\n";
    } else {
        textSection(out, "Serial ports", serial);
        textSection(out, "Parallel ports", parallel);
        textDevices(out, "USB printers", printers);
        textDevices(out, "USB virtual serial ports", usbSerial);
    }
    std::cout << out.str() << std::flush;
    if (!std::cout)
        return cliFail("cannot write the port list to standard output");
    return 0;
}

void installPorts(CLI::App& app, CliContext& context)
{
    auto* cmd = app.add_subcommand("ports", "list serial and parallel ports, USB printers and USB virtual serial ports");
    cmd->callback([&context] { context.action = [&context] { return runPorts(context.options); }; });
}

const CommandRegistrar registrar("ports", installPorts);

} // namespace
