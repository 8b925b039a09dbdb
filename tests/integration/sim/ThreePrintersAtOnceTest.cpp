// Three printers of different kinds driven at once from one process, each engine on its own
// thread against its own tavro-sim: a user setup read over a serial pty, an NV logo upload
// over loopback TCP and a firmware download to a USB printer node. Each printer must log
// exactly what it logs when its job runs alone: no byte of one job reaches another printer,
// none is lost, and each engine finishes as it does alone.
#include "BmpBuilder.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "TestClock.h"
#include "FirmwareImages.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "app/StepJob.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/TransferBlock.h"
#include "logo/LogoLink.h"
#include "logo/LogoOptions.h"
#include "logo/NvUpload.h"
#include "port/DeviceDiscovery.h"
#include "port/PrinterConnection.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCollector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <latch>
#include <regex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr ModelFamily kFamily = kFamilyTavro46; // TAVRO46/48: serial, network and USB printer models alike

// ---- How the engines are built -------------------------------------------------------------
// Each engine is given its own settings and host services; nothing is shared between them.

ConnectionSettings serialSettings(const std::string& port)
{
    ConnectionSettings settings;
    settings.portName = port;
    settings.modelFamily = kFamily;
    settings.baudRate = 115200;
    settings.byteSize = 8;
    settings.parity = 0;
    settings.stopBits = 0;
    settings.flowCtrl = 3;
    return settings;
}

// A connection of the job's own.
std::unique_ptr<PrinterConnection> makeOwnConnection(ConnectionSettings settings, Clock& clock, Prompter& prompter,
                                                     CErrorLog& log)
{
    settings.modelFamily = kFamily;
    return makeConnection(settings, ConnectionHost{clock, prompter, log, nullptr});
}

// ---- The three jobs ------------------------------------------------------------------------

struct JobOutcome {
    bool ok = false;
    std::string failure;
};

struct SetupRead {
    JobOutcome outcome;
    std::set<int> asked, answered;
};

SetupRead readSetupOverSerial(const std::string& port)
{
    SetupRead read;
    RecordingPrompter prompter;
    CErrorLog log;
    Clock& clock = SystemClock::instance(); // the answers come in real time
    SetupValueCollector collector;
    const DeviceRoots roots{}; // nothing from the environment
    auto session = std::make_unique<SetupSession>(serialSettings(port), ConnectionHost{clock, prompter, log, nullptr, &roots},
                                                  collector, false);
    collector.Attach(session.get());
    const auto requests = session->RequestList();
    read.asked.insert(requests.begin(), requests.end());
    if (session->Open() != SetupSession::OpenResult::Opened)
        read.outcome.failure = "open failed: " + session->LastFailure();
    else if (session->GetValue() != SetupSession::ReadResult::Requested)
        read.outcome.failure = "read failed: " + session->LastFailure();
    else if (!collector.WaitFor(requests, 10s))
        read.outcome.failure = "not every setting answered";
    else
        read.outcome.ok = true;
    read.answered = collector.Answered();
    session->Exit();
    collector.Attach(nullptr);
    return read;
}

JobOutcome uploadLogosOverTcp(const std::string& host, int port, const std::vector<std::string>& pictures)
{
    TestClock clock; // the printer is started with no erase time: nothing to wait for
    RecordingPrompter prompter;
    CErrorLog log(&clock);
    NullProgress progress;
    ConnectionSettings settings;
    settings.portName = "ETHERNET_II";
    settings.host = host;
    settings.tcpPort = port;
    auto connection = makeOwnConnection(settings, clock, prompter, log);
    if (!connection)
        return {false, "no connection for " + settings.describe()};
    std::vector<NvUpload::Item> items;
    for (const auto& p : pictures)
        items.push_back({p, std::filesystem::path(p).filename().string(), false});
    NvUpload upload(LogoEngineDeps{*connection, clock, prompter, log, progress}, items, LogoOptions{}, kFamily, 0,
                    nullptr, 0);
    const StepResult r = runStepJob(upload, clock);
    if (r.kind != StepResult::Kind::Finished || upload.outcome() != NvUpload::Outcome::Completed)
        return {false, "upload: " + r.message};
    return {true, ""};
}

JobOutcome downloadFirmwareToUsb(const std::string& node, const std::vector<std::uint8_t>& block)
{
    TestClock clock; // the final wait is the printer's business; the sim is told how long it takes
    RecordingPrompter prompter;
    CErrorLog log(&clock);
    NullProgress progress;
    ConnectionSettings settings;
    settings.portName = node;
    auto connection = makeOwnConnection(settings, clock, prompter, log);
    if (!connection)
        return {false, "no connection for " + node};
    FirmwareTransfer transfer(*connection, block, clock, progress);
    const FirmwareTransferOutcome out = transfer.run();
    if (!out.completed())
        return {false, out.message + " (" + out.detail + ")"};
    return {true, ""};
}

// ---- The printers --------------------------------------------------------------------------

struct Printers {
    SimProcess serial{{"--family", "6", "--serial", "--quiet"}};
    SimProcess tcp{{"--family", "6", "--tcp", "127.0.0.1:0", "--nv-erase-ms", "0", "--quiet"}};
    SimProcess usb{{"--family", "6", "--usb", "--flash-busy-ms", "100", "--restart-ms", "200", "--quiet"}};
    std::string usbNode() const { return usb.env("TAVRO_DEV_ROOT") + "/usb/lp0"; }
};

// The event log without what differs from run to run (sequence, time, the peer's port, the
// run dir).
std::vector<std::string> normalised(const SimProcess& sim)
{
    static const std::regex stamps(R"("seq":\d+,"t":\d+,)");
    static const std::regex peer(R"("peer":"[^"]*")");
    std::vector<std::string> out;
    for (std::string line : sim.events()) {
        line = std::regex_replace(line, stamps, "");
        line = std::regex_replace(line, peer, "\"peer\":\"-\"");
        for (size_t at; (at = line.find(sim.runDir().string())) != std::string::npos;)
            line.replace(at, sim.runDir().string().size(), "<run>");
        out.push_back(line);
    }
    return out;
}

std::string fnvDigest(const std::vector<std::uint8_t>& block)
{
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (std::size_t i = kTransferHeaderSize; i < block.size(); ++i) {
        h ^= block[i];
        h *= 0x100000001B3ULL;
    }
    char text[64];
    std::snprintf(text, sizeof text, "\"digest\":\"fnv64-%016llx\"", static_cast<unsigned long long>(h));
    return text;
}

class ThreePrintersAtOnce : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(SimProcess::defaultBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
        struct Picture {
            const char* name;
            int w, h;
        };
        for (const auto& [name, w, h] : {Picture{"top.bmp", 120, 40}, Picture{"bottom.bmp", 64, 24}}) {
            BmpSpec s;
            s.bpp = 24;
            s.width = w;
            s.height = h;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    s.pixels.push_back(((x / 3 + y / 2) % 2) ? 0xFFFFFF : 0x000000);
            writeFileBytes(dir / name, asString(buildBmp(s)));
            pictures.push_back((dir / name).string());
        }
        auto image = FirmwareImage::parse(makeTestImage());
        ASSERT_TRUE(image.ok()) << image.message();
        block = buildTransferBlock(*image, FirmwareArea::Downloader, kFamily);
    }

    // Waits until each printer has logged the end of its job.
    static void waitForTheEnds(const Printers& p, size_t settingsAsked)
    {
        EXPECT_TRUE(p.serial.waitForEvent("\"fn\":6", 10s, settingsAsked));
        EXPECT_TRUE(p.tcp.waitForEvent("\"cmd\":\"disconnect\"", 10s));
        EXPECT_TRUE(p.usb.waitForEvent("\"action\":\"back\"", 10s));
    }

    TempDir dir;
    std::vector<std::string> pictures;
    std::vector<std::uint8_t> block;
};

TEST_F(ThreePrintersAtOnce, EachPrinterGetsExactlyWhatItGetsAlone)
{
    // Alone, one after the other: what each printer logs for its job.
    std::vector<std::string> aloneSerial, aloneTcp, aloneUsb;
    size_t settingsAsked = 0;
    {
        Printers p;
        ASSERT_TRUE(p.serial.ok() && p.tcp.ok() && p.usb.ok())
            << p.serial.error() << p.tcp.error() << p.usb.error();
        SetupRead read = readSetupOverSerial(p.serial.serialPort());
        ASSERT_TRUE(read.outcome.ok) << read.outcome.failure;
        settingsAsked = read.asked.size();
        JobOutcome logos = uploadLogosOverTcp(p.tcp.tcpHost(), p.tcp.tcpPort(), pictures);
        ASSERT_TRUE(logos.ok) << logos.failure;
        JobOutcome firmware = downloadFirmwareToUsb(p.usbNode(), block);
        ASSERT_TRUE(firmware.ok) << firmware.failure;
        waitForTheEnds(p, settingsAsked);
        aloneSerial = normalised(p.serial);
        aloneTcp = normalised(p.tcp);
        aloneUsb = normalised(p.usb);
    }

    // At once, each engine on its own thread, started together.
    Printers p;
    ASSERT_TRUE(p.serial.ok() && p.tcp.ok() && p.usb.ok()) << p.serial.error() << p.tcp.error() << p.usb.error();
    const std::string serialPort = p.serial.serialPort(), tcpHost = p.tcp.tcpHost(), usbNode = p.usbNode();
    const int tcpPort = p.tcp.tcpPort();
    SetupRead read;
    JobOutcome logos, firmware;
    std::latch start(3);
    std::thread setupThread([&] {
        start.arrive_and_wait();
        read = readSetupOverSerial(serialPort);
    });
    std::thread logoThread([&] {
        start.arrive_and_wait();
        logos = uploadLogosOverTcp(tcpHost, tcpPort, pictures);
    });
    std::thread firmwareThread([&] {
        start.arrive_and_wait();
        firmware = downloadFirmwareToUsb(usbNode, block);
    });
    setupThread.join();
    logoThread.join();
    firmwareThread.join();

    ASSERT_TRUE(read.outcome.ok) << read.outcome.failure;
    EXPECT_EQ(read.answered, read.asked);
    ASSERT_TRUE(logos.ok) << logos.failure;
    ASSERT_TRUE(firmware.ok) << firmware.failure;
    waitForTheEnds(p, settingsAsked);

    // Each printer logged what it logs alone, in the same order.
    EXPECT_EQ(normalised(p.serial), aloneSerial);
    EXPECT_EQ(normalised(p.tcp), aloneTcp);
    EXPECT_EQ(normalised(p.usb), aloneUsb);

    // And that is the job's own: the setup read's requests and nothing else, the pictures
    // stored, the downloader area with exactly the block's bytes.
    for (const std::string& e : aloneSerial)
        EXPECT_NE(e.find("\"fn\":6"), std::string::npos) << e;
    EXPECT_EQ(aloneSerial.size(), settingsAsked);
    EXPECT_TRUE(p.tcp.waitForEvent("\"verdict\":\"stored\"", 1s));
    EXPECT_TRUE(p.tcp.waitForEvent("\"defined\":2", 1s));
    EXPECT_TRUE(p.usb.waitForEvent(fnvDigest(block), 1s));
    EXPECT_TRUE(p.usb.waitForEvent("\"area\":\"download\"", 1s));
    EXPECT_TRUE(p.usb.waitForEvent("\"verdict\":\"ok\"", 1s));
}

} // namespace
