#pragma once
// The desktop tool's wiring: the connection dialog's calls into the port layer, and the
// hand-over of the connection settings into the one CPorts.
#include "shell/CConnectDlg.h"
#include "port/DeviceDiscovery.h"

class CErrorLog;
class CPorts;
class MessageTarget;

// Discovery through the port layer under the given device roots (the real /sys and /dev,
// or a test's fake tree). The object and the log are lent and must outlive the calls.
DiscoveryCalls portDiscovery(CPorts& ports, CErrorLog& log, DeviceRoots roots);
// The port layer's network library (EthInit with the name "Ethernet").
NetworkLinkCalls portNetworkLink(MessageTarget* owner = nullptr);
// Copies OK's settings into the port object's fields.
void applySettings(CPorts& ports, const ConnectionSettings& settings);
