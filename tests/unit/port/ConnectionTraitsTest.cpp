// The traits the factory gives each connection: the tools decide from them which printer gets
// the printer check and ESC @, which is opened per action, how it comes back after a restart
// and how long a write may take.
#include "RecordingPrompter.h"
#include "TestClock.h"
#include "app/CErrorLog.h"
#include "app/ConnectionRules.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"
#include "port/ReopenPolicies.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct TraitsRow {
    const char* portName;
    bool canAnswer, printerCheck, initialise, capture, openedPerAction, streamsAhead, linePaced, packetReplies,
        statusReports, reopenBeforeDefinition, restartReopen, reopenAfterSetupWrite;
    std::chrono::milliseconds settle, restartWait;
    RestartNotice notice;
    bool carriesJobs;
};

const TraitsRow kRows[] = {
    // name           ans    chk    init   cap    perAct stream line   pkt    asb    reDef  restart afterWr settle restart notice                       jobs
    {"/dev/ttyS0",    true,  true,  true,  false, false, false, true,  true,  false, false, false, false, 0ms,   0ms,    RestartNotice::Plain,         true},
    {"/dev/lp0",      true,  true,  false, false, false, false, false, false, true,  true,  false, true,  0ms,   0ms,    RestartNotice::Printer,       true},
    {"USB",           true,  true,  true,  false, false, false, false, true,  false, false, true,  false, 0ms,   0ms,    RestartNotice::UsbPrinter,    true},
    {"/dev/usb/lp0",  true,  true,  true,  false, false, false, false, true,  false, false, true,  false, 0ms,   0ms,    RestartNotice::UsbPrinter,    true},
    {"ETHERNET_II",   true,  false, false, false, true,  true,  false, true,  false, false, false, false, 500ms, 3000ms, RestartNotice::NetworkModule, true},
    {"WIFI",          true,  false, false, false, true,  true,  false, true,  false, false, false, false, 500ms, 3000ms, RestartNotice::NetworkModule, false},
    {"FILE",          false, false, false, true,  false, false, false, false, false, false, false, false, 0ms,   0ms,    RestartNotice::Plain,         true},
    {"capture.prn",   false, false, false, true,  false, false, false, false, false, false, false, false, 0ms,   0ms,    RestartNotice::Plain,         true},
};

} // namespace

TEST(ConnectionTraits, TheFactoryFillsThemPerConnection)
{
    TestClock clock;
    RecordingPrompter prompter;
    CErrorLog log;
    for (const TraitsRow& row : kRows) {
        SCOPED_TRACE(row.portName);
        ConnectionSettings settings;
        settings.portName = row.portName;
        auto connection = makeConnection(settings, ConnectionHost{clock, prompter, log, nullptr});
        ASSERT_TRUE(connection);
        const ConnectionTraits t = connection->traits();
        EXPECT_EQ(t.canAnswer, row.canAnswer);
        EXPECT_EQ(t.canAnswer, connection->canAnswer());
        EXPECT_EQ(t.printerCheck, row.printerCheck);
        EXPECT_EQ(t.initialise, row.initialise);
        EXPECT_EQ(t.capture, row.capture);
        EXPECT_EQ(t.openedPerAction, row.openedPerAction);
        EXPECT_EQ(t.streamsAhead, row.streamsAhead);
        EXPECT_EQ(t.linePaced, row.linePaced);
        EXPECT_EQ(t.packetReplies, row.packetReplies);
        EXPECT_EQ(t.statusReports, row.statusReports);
        EXPECT_EQ(t.reopenBeforeDefinition, row.reopenBeforeDefinition);
        EXPECT_EQ(t.restartReopen.has_value(), row.restartReopen);
        EXPECT_EQ(t.reopenAfterSetupWrite.has_value(), row.reopenAfterSetupWrite);
        EXPECT_EQ(t.settleBeforeClose, row.settle);
        EXPECT_EQ(t.restartWait, row.restartWait);
        EXPECT_EQ(t.restartNotice, row.notice);
        EXPECT_EQ(t.carriesJobs, row.carriesJobs);
        EXPECT_FALSE(connection->isOpen());
    }
}

// The dialogs' facade hands the whole connection on: a network printer's address and an
// output file survive Configure, so a job opens the printer the user chose.
TEST(ConnectionTraits, ThePortsFacadeKeepsTheWholeConnection)
{
    TestClock clock;
    RecordingPrompter prompter;
    CErrorLog log;
    CPorts ports(prompter, clock, log);
    ConnectionSettings network;
    network.portName = "ETHERNET_II";
    network.host = "127.0.0.9";
    network.tcpPort = 6001;
    network.interfaceKind = kInterfaceEthernet;
    ports.Configure(network);
    EXPECT_EQ(ports.Settings().host, "127.0.0.9");
    EXPECT_EQ(ports.Settings().tcpPort, 6001);
    EXPECT_EQ(ports.Settings().interfaceKind, kInterfaceEthernet);
    ConnectionSettings file;
    file.portName = "FILE";
    file.outputFile = "out.prn";
    ports.Configure(file);
    EXPECT_EQ(ports.Settings().outputFile, "out.prn");
    EXPECT_TRUE(ports.Settings().host.empty()) << "a later choice leaves no address behind";
}

TEST(ConnectionTraits, RestartPoliciesAreThePrintersOwn)
{
    const auto usb = connectionTraits(PortKind::Usb).restartReopen;
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->firstWait, 3000ms);
    EXPECT_EQ(usb->pausesAfterFailure, (std::vector<std::chrono::milliseconds>{500ms, 400ms, 300ms, 200ms, 100ms}));
    const auto parallel = connectionTraits(PortKind::Parallel).reopenAfterSetupWrite;
    ASSERT_TRUE(parallel);
    EXPECT_EQ(parallel->firstWait, 4000ms);
    EXPECT_TRUE(parallel->pausesAfterFailure.empty());
}

// One formula: 100 ms a byte, never under 2 s on a serial line and 10 s elsewhere.
TEST(ConnectionTraits, WriteDeadline)
{
    struct Case {
        PortKind kind;
        std::size_t bytes;
        std::chrono::milliseconds deadline;
    };
    const Case cases[] = {
        {PortKind::Serial, 0, 2000ms},     {PortKind::Serial, 2, 2000ms},       {PortKind::Serial, 20, 2000ms},
        {PortKind::Serial, 21, 2100ms},    {PortKind::Serial, 2048, 204800ms},  {PortKind::Usb, 3, 10000ms},
        {PortKind::Usb, 101, 10100ms},     {PortKind::Parallel, 522, 52200ms},  {PortKind::Ethernet, 100, 10000ms},
        {PortKind::File, 4096, 409600ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.kind)) + " " + std::to_string(c.bytes));
        EXPECT_EQ(connectionTraits(c.kind).writeDeadline(c.bytes), c.deadline);
    }
}
