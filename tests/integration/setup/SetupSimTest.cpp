// The user setup against the virtual printer over every connection it offers: tavroctl
// as a technician runs it (write a full set, read it back, compare), and the core API where
// a test must look inside (a printer that hangs up in the middle of a write).
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "RecordingPrompter.h"
#include "TempDir.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCollector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include "common/UniqueFd.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

CliRun tavroctl(const TempDir& tmp, const std::string& env, const std::string& args)
{
    return runTavroctl(tmp.path(), env, args);
}

// Every readable setting with a value other than the factory one, and some written-only
// ones.
const char* kFullSet =
    "paper_width=58 columns=32 paper_type=2color color_density=dark watermark=off cut_adjust=7 "
    "drawer_on_cut=enable bell_type=4 bell_count=5 code_page=254 nv_user=128 nv_graphic=256 "
    "cut_mode=full bold_korean=on speed=150 margin=300 drawer_self_test=enable rx_buffer=20 "
    "custom_code=DEADBEEF emulation=star density=4 sleep=10 bell=builtin";

bool simAvailable()
{
    return ::access(SimProcess::defaultBinary().c_str(), X_OK) == 0;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool hasLine(const std::string& text, const std::string& line)
{
    auto all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

class SetupSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!simAvailable())
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
    }

    // After a full-set write, every readable key reads back as written.
    void expectFullSetRead(const std::string& out, bool withStopBitLine)
    {
        for (const char* line : {"paper_width = 58", "columns = 32", "paper_type = 2color",
                                 "color_density = dark", "watermark = off", "cut_adjust = 7",
                                 "drawer_on_cut = enable", "bell_type = 4", "bell_count = 5",
                                 "code_page = 254", "nv_user = 128", "nv_graphic = 256", "cut_mode = full",
                                 "bold_korean = on", "speed = 150", "margin = 300",
                                 "drawer_self_test = enable", "rx_buffer = 20", "custom_code = DEADBEEF"})
            EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
        EXPECT_EQ(hasLine(out, "stop_bit = one"), withStopBitLine) << out;
        // Written-only settings are never shown as read.
        EXPECT_EQ(out.find("emulation"), std::string::npos);
    }

    TempDir tmp;
};

TEST_F(SetupSim, SerialWriteFullSetReadBackAndSnapshot)
{
    SimProcess sim({"--family", "6", "--serial", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string conn = "--device 'TAVRO46/48 S' --port " + shellQuote(sim.serialPort());

    CliRun set = tavroctl(tmp, "", conn + " setup set " + kFullSet + " --verify");
    ASSERT_EQ(set.status, 0) << set.out << set.err;
    EXPECT_NE(set.out.find("verified"), std::string::npos) << set.out;

    const std::string snap = (tmp / "shop.ini").string();
    CliRun get = tavroctl(tmp, "", conn + " setup get --save " + shellQuote(snap));
    ASSERT_EQ(get.status, 0) << get.err;
    expectFullSetRead(get.out, true);
    std::string saved = readFileBytes(snap);
    EXPECT_NE(saved.find("[setup]"), std::string::npos);
    EXPECT_NE(saved.find("speed=150"), std::string::npos);

    CliRun same = tavroctl(tmp, "", conn + " setup diff " + shellQuote(snap));
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_NE(same.out.find("no differences"), std::string::npos);

    // The printer changes one setting; the snapshot then differs in exactly that one.
    CliRun change = tavroctl(tmp, "", conn + " setup set speed=180");
    ASSERT_EQ(change.status, 0) << change.err;
    CliRun differs = tavroctl(tmp, "", conn + " setup diff " + shellQuote(snap));
    EXPECT_EQ(differs.status, 1);
    EXPECT_TRUE(hasLine(differs.out, "speed: printer=180 file=150")) << differs.out;
    // Margin and custom code were not given: the printer's own values went back.
    CliRun after = tavroctl(tmp, "", conn + " setup get");
    EXPECT_TRUE(hasLine(after.out, "margin = 300")) << after.out;
    EXPECT_TRUE(hasLine(after.out, "custom_code = DEADBEEF")) << after.out;

    // A snapshot written back restores the printer.
    CliRun restore = tavroctl(tmp, "", conn + " setup set --from " + shellQuote(snap) + " --verify");
    EXPECT_EQ(restore.status, 0) << restore.err;
}

TEST_F(SetupSim, RefusedValueSendsNothing)
{
    SimProcess sim({"--family", "6", "--serial", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string conn = "--device 'TAVRO46/48 S' --port " + shellQuote(sim.serialPort());
    CliRun bad = tavroctl(tmp, "", conn + " setup set margin=577");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("0..576"), std::string::npos) << bad.err;
    CliRun nv = tavroctl(tmp, "", conn + " setup set nv_user=128 nv_graphic=384");
    EXPECT_NE(nv.status, 0);
    EXPECT_NE(nv.err.find("448"), std::string::npos) << nv.err;
    EXPECT_FALSE(sim.waitForEvent("\"fn\":5", 500ms));
}

TEST_F(SetupSim, ParallelReadAsksAgainForTheMissingAnswer)
{
    // The printer never answers the code page: the acknowledgement asks for it again every
    // 2 s after the first 3 s, and tavroctl names it when its time is up.
    SimProcess sim({"--family", "6", "--parallel", "--quiet", "--no-answer", "246"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string conn = "--device 'TAVRO46/48 P' --port " + shellQuote(sim.parallelPort());
    CliRun get = tavroctl(tmp, "", conn + " setup get --timeout 5.5");
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.err.find("code_page (246)"), std::string::npos) << get.err;
    EXPECT_TRUE(hasLine(get.out, "paper_width = 80")) << get.out;
    EXPECT_TRUE(hasLine(get.out, "custom_code = 0")) << get.out;
    EXPECT_FALSE(hasLine(get.out, "stop_bit = one")); // not asked over the parallel port
    EXPECT_TRUE(sim.waitForEvent("\"setting\":246", 2000ms, 2)) << "no repeated request for 246";
    int requests246 = 0, requests3 = 0;
    for (const auto& e : sim.events()) {
        if (e.find("\"fn\":6") != std::string::npos && e.find("\"setting\":246,") != std::string::npos)
            ++requests246;
        if (e.find("\"fn\":6") != std::string::npos && e.find("\"setting\":3,") != std::string::npos)
            ++requests3;
    }
    EXPECT_GE(requests246, 2);
    EXPECT_EQ(requests3, 1); // answered settings are not asked again
}

TEST_F(SetupSim, ParallelWriteAndReadBack)
{
    SimProcess sim({"--family", "6", "--parallel", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string conn = "--device 'TAVRO46/48 P' --port " + shellQuote(sim.parallelPort());
    CliRun set = tavroctl(tmp, "", conn + " setup set " + kFullSet);
    ASSERT_EQ(set.status, 0) << set.err;
    CliRun get = tavroctl(tmp, "", conn + " setup get");
    ASSERT_EQ(get.status, 0) << get.err;
    expectFullSetRead(get.out, false);
}

TEST_F(SetupSim, UsbWriteSurvivesThePrinterRestart)
{
    SimProcess sim({"--family", "6", "--usb", "--quiet", "--restart-ms", "1500"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string env = "TAVRO_SYSFS_ROOT=" + shellQuote(sim.env("TAVRO_SYSFS_ROOT")) +
                            " TAVRO_DEV_ROOT=" + shellQuote(sim.env("TAVRO_DEV_ROOT"));
    const std::string conn = "--device 'TAVRO46/48 U-II' --port usb";
    // --verify reads back over the node that came back after the restart.
    CliRun set = tavroctl(tmp, env, conn + " setup set " + kFullSet + " --verify");
    ASSERT_EQ(set.status, 0) << set.out << set.err;
    CliRun get = tavroctl(tmp, env, conn + " setup get");
    ASSERT_EQ(get.status, 0) << get.err;
    expectFullSetRead(get.out, true);
}

// usblp lets one process hold its node. The simulator's node does the same with
// --usb-single-open (root passes TIOCEXCL, so tavroctl then runs without CAP_SYS_ADMIN).
TEST_F(SetupSim, UsbNodeThatAllowsOneOpenAnswersEveryRequest)
{
    SimProcess sim({"--family", "6", "--usb", "--quiet", "--usb-single-open"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string env = "TAVRO_SYSFS_ROOT=" + shellQuote(sim.env("TAVRO_SYSFS_ROOT")) +
                      " TAVRO_DEV_ROOT=" + shellQuote(sim.env("TAVRO_DEV_ROOT"));
    std::string unprivileged;
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "root opens an exclusive tty anyway, and setpriv (util-linux) is not there to drop "
                            "CAP_SYS_ADMIN";
        unprivileged = " /usr/bin/setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin";
    }
    const std::string node = sim.env("TAVRO_DEV_ROOT") + "/usb/lp0";

    // The switch itself: while one open is held, another is refused.
    {
        UniqueFd held(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(held.valid()) << node;
        std::this_thread::sleep_for(300ms); // the simulator sees the open
        std::string probe = unprivileged + " sh -c " + shellQuote("exec 3<>" + shellQuote(node));
        EXPECT_NE(std::system(probe.c_str()), 0) << "a second open of the node was allowed";
    }
    // The simulator lets go of the node once it has seen those opens closed again.
    std::this_thread::sleep_for(500ms);
    std::size_t before = 0;
    for (const auto& e : sim.events())
        before += e.find("second-open") != std::string::npos;

    CliRun get = tavroctl(tmp, env + unprivileged, "--device 'TAVRO46/48 U-II' --port usb setup get");
    ASSERT_EQ(get.status, 0) << get.out << get.err;
    for (const char* key : {"paper_width = ", "speed = ", "margin = ", "custom_code = ", "stop_bit = "})
        EXPECT_NE(get.out.find(key), std::string::npos) << key << "\n" << get.out;
    std::size_t after = 0;
    for (const auto& e : sim.events())
        after += e.find("second-open") != std::string::npos;
    EXPECT_EQ(after, before) << "the tool opened the USB node a second time";
}

TEST_F(SetupSim, TcpWriteAndReadBack)
{
    SimProcess sim({"--family", "6", "--tcp", "127.0.0.1:0", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string conn = "--device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" +
                             std::to_string(sim.tcpPort());
    CliRun set = tavroctl(tmp, "", conn + " setup set " + kFullSet + " --verify");
    ASSERT_EQ(set.status, 0) << set.out << set.err;
    CliRun get = tavroctl(tmp, "", conn + " --json setup get");
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_NE(get.out.find("\"speed\":\"150\""), std::string::npos) << get.out;
    EXPECT_NE(get.out.find("\"margin\":\"300\""), std::string::npos) << get.out;
    EXPECT_EQ(get.out.find("stop_bit"), std::string::npos); // not asked over the network
}

TEST_F(SetupSim, TestPageReachesThePrinter)
{
    SimProcess sim({"--family", "6", "--serial", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliRun page = tavroctl(tmp, "", "--device 'TAVRO46/48 S' --port " + shellQuote(sim.serialPort()) + " setup test-page");
    EXPECT_EQ(page.status, 0) << page.err;
    EXPECT_TRUE(sim.waitForEvent("USER SETUP UTILITY TEST PRINT", 5000ms)) << "the sim logged no test page";
}

// Ctrl-C while the printer has stopped reading for 30 s: tavroctl ends at once and says what
// the printer holds. A read leaves it unchanged; a write that had begun may have left some
// values in it, and the user is told to read them back.
struct InterruptCase {
    const char* name;
    std::vector<std::string> simArgs;
    std::string command;
    std::vector<std::string> told;
};

class SetupInterrupt : public SetupSim, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(SetupInterrupt, CtrlCAgainstAStalledPrinterEndsWithWhatThePrinterHolds)
{
    const InterruptCase& c = GetParam();
    std::vector<std::string> args = c.simArgs;
    for (const char* a : {"--family", "6", "--quiet", "--stall-ms", "30000"})
        args.push_back(a);
    SimProcess sim(args);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const bool usb = std::find(args.begin(), args.end(), "--usb") != args.end();
    const std::string env = usb ? "TAVRO_SYSFS_ROOT=" + shellQuote(sim.env("TAVRO_SYSFS_ROOT")) +
                                      " TAVRO_DEV_ROOT=" + shellQuote(sim.env("TAVRO_DEV_ROOT"))
                                : "";
    const std::string conn = usb ? "--device 'TAVRO46/48 U-II' --port usb"
                                 : "--device 'TAVRO46/48 S' --port " + shellQuote(sim.serialPort());
    BackgroundTavroctl run(tmp.path(), env, conn + " " + c.command);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(sim.waitForEvent("\"stall\"", 20000ms)) << run.errorText();
    ASSERT_TRUE(run.signal(SIGINT));
    // A hang guard only: the command ends within a fraction of a second of the signal.
    CliRun r = run.wait(10000ms);
    EXPECT_EQ(r.status, 1) << r.err;
    for (const std::string& text : c.told)
        EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SetupInterrupt,
    testing::Values(InterruptCase{"Get",
                                  {"--serial", "--stall-after", "20"},
                                  "setup get --timeout 60",
                                  {"interrupted while reading the setup from serial port",
                                   "nothing was written to the printer"}},
                    InterruptCase{"Set",
                                  {"--usb", "--stall-after", "12"},
                                  "setup set margin=5 custom_code=0 --no-verify",
                                  {"interrupted while writing the setup to",
                                   "the printer may hold some of the values",
                                   "read them back with `tavroctl setup get`"}}),
    [](const testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.name); });

// The core API over a printer that hangs up (the pty closed) in the middle of a session:
// the next write fails with the write-failure message and a closed port, not a hang.
class HangUp : public SetupSim {
protected:
    RecordingPrompter prompter;
    CErrorLog log;
};

TEST_F(HangUp, SerialPrinterHangsUpBeforeTheWrite)
{
    // The printer goes away once it has taken the 18 requests of a read (126 bytes).
    SimProcess sim({"--family", "6", "--serial", "--quiet", "--hangup-after", "126"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CPorts ports(prompter, SystemClock::instance(), log);
    ports.m_PortName = sim.serialPort();
    ports.m_ModelFamily = kFamilyTavro46;
    ports.m_BaudRate = 115200;
    ports.m_ByteSize = 8;
    ports.m_Parity = 0;
    ports.m_StopBits = 0;
    ports.m_FlowCtrl = 3;
    SetupValueCollector collector;
    {
        SetupSession session(ports.Settings(), ConnectionHost{SystemClock::instance(), prompter, log, &ports}, collector,
                             false);
        collector.Attach(&session);
        ASSERT_EQ(session.Open(), SetupSession::OpenResult::Opened);
        ASSERT_EQ(session.GetValue(), SetupSession::ReadResult::Requested);
        collector.WaitFor(session.RequestList(), 3s);
        std::this_thread::sleep_for(300ms); // the hang-up follows the last request

        SetupOptions form = SetupOptions::defaults(false);
        form.imageNumber = 9;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(session.SetValue(form), SetupSession::WriteResult::Failed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
        EXPECT_FALSE(session.ConnectionOpen());
        EXPECT_EQ(ports.m_IsOpen.load(), 0);
        EXPECT_EQ(form.imageNumber, 1); // the edits go back to their start values
        auto texts = prompter.texts();
        EXPECT_NE(std::find(texts.begin(), texts.end(),
                            "ERROR : Write Fail!\nPlease check the printer power or connection"),
                  texts.end());
        // The receive thread ends with the port, within its poll period.
        auto until = std::chrono::steady_clock::now() + 5s;
        while (!session.Receiver().Ended() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(session.Receiver().Ended());
        session.Exit();
        collector.Attach(nullptr);
    }
}

} // namespace
