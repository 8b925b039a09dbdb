#include "shell/CToolApp.h"

#include "port/CPorts.h"
#include "port/EthernetLink.h"

DiscoveryCalls portDiscovery(CPorts& ports, CErrorLog& log, DeviceRoots roots)
{
    DiscoveryCalls calls;
    calls.countUsbPrinters = [&log, roots](const std::string& id) { return CountUsbPrinters(id, log, roots); };
    calls.findUsbVirtualCom = [roots](const std::string& id) { return FindUsbVirtualCom(id, roots); };
    calls.enumPorts = [&ports](bool parallel) { return ports.EnumPorts(parallel); };
    return calls;
}

NetworkLinkCalls portNetworkLink(MessageTarget* owner)
{
    NetworkLinkCalls calls;
    calls.ethInit = [owner](const std::string& ip, int port) {
        EthInit(owner, "Ethernet", ip.c_str(), port);
        return 1;
    };
    calls.ethOpen = [] { return EthOpen(); };
    calls.ethClose = [] { EthClose(); };
    calls.ethLastError = [] { return EthLastError(); };
    return calls;
}

void applySettings(CPorts& ports, const ConnectionSettings& s)
{
    // A parallel, USB or network choice leaves the serial settings of an earlier OK as they
    // were, as the Windows tool did; they matter only for serial ports.
    ports.Configure(s);
}
