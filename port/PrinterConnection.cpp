#include "port/PrinterConnection.h"

#include "app/ConnectionRules.h"
#include "port/FileConnection.h"
#include "port/NetworkConnection.h"
#include "port/ParallelConnection.h"
#include "port/ReopenPolicies.h"
#include "port/SerialConnection.h"
#include "port/UsbConnection.h"

#include <algorithm>

namespace {

using Ms = std::chrono::milliseconds;

// A serial printer that was asleep holds CTS until it is awake: give even a short write this
// long to start.
constexpr Ms kSerialMinWriteDeadline{2000};
// Parallel, USB and network printers take a block at once or are stuck; one that is out of
// paper may stall a while before it refuses.
constexpr Ms kDeviceMinWriteDeadline{10000};
// The network module passes the data on to the printer before the connection ends.
constexpr Ms kNetworkSettle{500};
// A network module restarts with its printer and takes connections again after 3 s.
constexpr Ms kNetworkRestartWait{3000};

std::unique_ptr<PrinterConnection> makeOfKind(const ConnectionSettings& settings, ConnectionHost host)
{
    switch (settings.kind()) {
    case PortKind::Serial: return std::make_unique<SerialConnection>(settings, host);
    case PortKind::Parallel: return std::make_unique<ParallelConnection>(settings, host);
    case PortKind::Usb: return std::make_unique<UsbConnection>(settings, host);
    case PortKind::Ethernet:
    case PortKind::Wifi: return std::make_unique<NetworkConnection>(settings, host);
    case PortKind::PrintToFile:
    case PortKind::File: return std::make_unique<FileConnection>(settings, host);
    }
    return nullptr;
}

} // namespace

ConnectionTraits connectionTraits(PortKind kind)
{
    ConnectionTraits t;
    t.minWriteDeadline = kDeviceMinWriteDeadline;
    switch (kind) {
    case PortKind::Serial:
        t.printerCheck = true;
        t.initialise = true;
        t.linePaced = true;
        t.minWriteDeadline = kSerialMinWriteDeadline;
        break;
    case PortKind::Usb:
        t.printerCheck = true;
        t.initialise = true;
        t.restartReopen = reopenpolicy::usbRestart();
        t.setupRestartReopen = reopenpolicy::usbRestart();
        t.restartNotice = RestartNotice::UsbPrinter;
        break;
    case PortKind::Parallel:
        t.printerCheck = true;
        t.packetReplies = false;
        t.statusReports = true;
        t.reopenBeforeDefinition = true;
        t.reopenAfterSetupWrite = reopenpolicy::parallelAfterWrite();
        t.setupReadList = SetupReadList::Parallel;
        t.restartNotice = RestartNotice::Printer;
        break;
    case PortKind::Wifi:
        t.carriesJobs = false;
        [[fallthrough]];
    case PortKind::Ethernet:
        t.openedPerAction = true;
        t.streamsAhead = true;
        t.settleBeforeClose = kNetworkSettle;
        t.restartWait = kNetworkRestartWait;
        t.setupReadList = SetupReadList::Network;
        t.restartNotice = RestartNotice::NetworkModule;
        break;
    case PortKind::PrintToFile:
    case PortKind::File:
        t.canAnswer = false;
        t.packetReplies = false;
        t.capture = true;
        break;
    }
    return t;
}

std::unique_ptr<PrinterConnection> makeConnection(const ConnectionSettings& settings, ConnectionHost host)
{
    std::unique_ptr<PrinterConnection> connection = makeOfKind(settings, host);
    if (!connection)
        return connection;
    ConnectionTraits traits = connectionTraits(settings.kind());
    // A USB virtual serial port is a serial line whose node the printer's restart takes away
    // like a USB printer's.
    if (isUsbVirtualSerialPort(settings.portName))
        traits.setupRestartReopen = reopenpolicy::usbRestart();
    connection->setTraits(std::move(traits));
    return connection;
}

std::string stallText(std::chrono::milliseconds limit)
{
    std::string amount = limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " s"
                                                   : std::to_string(limit.count()) + " ms";
    return "the printer took no data for " + amount + " (out of paper, cover open or offline?)";
}

bool sleepUnlessCancelled(Clock& clock, std::chrono::milliseconds delay, const CancelToken* token)
{
    if (!token) {
        if (delay.count() > 0)
            clock.sleep(delay);
        return true;
    }
    while (!token->cancelled() && delay.count() > 0) {
        const auto piece = std::min(delay, kCancelSlice);
        clock.sleep(piece);
        delay -= piece;
    }
    return !token->cancelled();
}

IoResult reopenByPolicy(PrinterConnection& connection, Clock& clock, const ReopenPolicy& policy)
{
    const CancelToken* token = connection.cancelToken();
    const auto cancelled = [&] {
        return IoResult::cancelled(0, "reopening " + connection.describe() + " cancelled");
    };
    connection.close();
    if (!sleepUnlessCancelled(clock, policy.firstWait, token))
        return cancelled();
    const std::size_t tries = policy.pausesAfterFailure.empty() ? 1 : policy.pausesAfterFailure.size();
    IoResult last = IoResult::failed("not tried");
    for (std::size_t i = 0; i < tries; ++i) {
        last = connection.open();
        if (last || last.isCancelled())
            return last;
        if (i < policy.pausesAfterFailure.size() &&
            !sleepUnlessCancelled(clock, policy.pausesAfterFailure[i], token))
            return cancelled();
    }
    return last.context("reopened " + std::to_string(tries) + (tries == 1 ? " time" : " times") + ", in vain");
}

IoResult writeAll(PrinterConnection& connection, std::span<const std::uint8_t> bytes, std::chrono::milliseconds deadline,
                  const std::string& what)
{
    IoResult r = connection.write(bytes, deadline);
    if (r && r.count() != bytes.size())
        return IoResult::failed("failed to write " + what + " to " + connection.describe() + ": only " +
                                std::to_string(r.count()) + " of " + std::to_string(bytes.size()) + " bytes taken",
                                0, r.count());
    return r.context("failed to write " + what + " to " + connection.describe());
}
