// SetupSession over real ptys with a small scripted printer on the master side, a fake
// USB tree and a refused TCP port, driven with the test clock: the frames each action
// sends, the delays it asks for, and its messages. (The full protocol round trips run
// against tavro-sim in SetupSimTest.)
#include "FakeSysfs.h"
#include "LoopbackServer.h"
#include "RecordingPrompter.h"
#include "TempDir.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/CancelToken.h"
#include "common/PtyPair.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "setup/SetupFrames.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCollector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// Plays the printer on a pty master: records what the tool wrote and answers Function 6
// requests from a table. A setting listed in `silentOnce` is ignored the first time.
class ScriptedPrinter {
public:
    explicit ScriptedPrinter(int masterFd) : m_fd(masterFd)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~ScriptedPrinter()
    {
        m_stop = true;
        m_thread.join();
    }
    void silentOnce(int setting)
    {
        std::lock_guard lock(m_mutex);
        m_silent[setting] = 1;
    }
    std::string received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    int requestsFor(int setting) const
    {
        std::lock_guard lock(m_mutex);
        auto it = m_requests.find(setting);
        return it == m_requests.end() ? 0 : it->second;
    }

private:
    void run()
    {
        std::string pending;
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            char buffer[512];
            ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            std::lock_guard lock(m_mutex);
            m_received.append(buffer, static_cast<std::size_t>(n));
            pending.append(buffer, static_cast<std::size_t>(n));
            const std::string request("\x1D\x28\x45\x02\x00\x06", 6);
            std::size_t at;
            while ((at = pending.find(request)) != std::string::npos && at + 7 <= pending.size()) {
                int setting = static_cast<unsigned char>(pending[at + 6]);
                pending.erase(0, at + 7);
                ++m_requests[setting];
                if (m_silent[setting] > 0) {
                    --m_silent[setting];
                    continue;
                }
                std::string reply = std::string("\x37\x27") + std::to_string(setting) + '\x1F' + value(setting);
                reply.push_back('\0');
                (void)!::write(m_fd, reply.data(), reply.size());
            }
        }
    }
    static std::string value(int setting)
    {
        static const std::map<int, std::string> values = {
            {1, "1"},     {2, "7"},   {3, "2"},   {116, "257"}, {118, "100"}, {242, "0"}, {243, "15"},
            {244, "1"},   {245, "24"}, {246, "18"}, {247, "1"},  {248, "1"},   {249, "180"},
            {250, "144"}, {251, "0"}, {252, "32"}, {253, "0"},   {255, "6699"}};
        auto it = values.find(setting);
        return it == values.end() ? "0" : it->second;
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::map<int, int> m_requests;
    std::map<int, int> m_silent;
    std::thread m_thread;
};

std::string bytes(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct SessionFixture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(pty.valid()) << pty.error();
        ASSERT_TRUE(pty.holdSlaveOpen());
    }

    std::unique_ptr<SetupSession> makeSession()
    {
        auto s = std::make_unique<SetupSession>(ports.Settings(), ConnectionHost{clock, prompter, log, &ports},
                                                collector, false);
        collector.Attach(s.get());
        return s;
    }
    void endSession(std::unique_ptr<SetupSession>& s)
    {
        s->Exit();
        collector.Attach(nullptr);
        s.reset();
    }
    void useSerial()
    {
        // "/dev/pts/N" is no serial port name: give the slave one.
        link = tmp / "ttyTEST0";
        std::filesystem::create_symlink(pty.slavePath(), link);
        ports.m_PortName = link.string();
        ports.m_ModelFamily = kFamilyTavro46;
        ports.m_BaudRate = 115200;
        ports.m_ByteSize = 8;
        ports.m_Parity = 0;
        ports.m_StopBits = 0;
        ports.m_FlowCtrl = 3;
    }
    void useParallel()
    {
        link = tmp / "lpTEST0";
        std::filesystem::create_symlink(pty.slavePath(), link);
        ports.m_PortName = link.string();
        ports.m_ModelFamily = kFamilyTavro46;
    }

    TempDir tmp;
    PtyPair pty;
    std::filesystem::path link;
    TestClock clock;
    RecordingPrompter prompter;
    CErrorLog log{&clock};
    CPorts ports{prompter, clock, log};
    SetupValueCollector collector;
};

bool waitUntil(const std::function<bool()>& done, Ms timeout = 5000ms)
{
    auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace

TEST_F(SessionFixture, SerialReadAppliesEveryAnswer)
{
    useSerial();
    ScriptedPrinter printer(pty.master());
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    ASSERT_EQ(s->GetValue(), SetupSession::ReadResult::Requested);
    ASSERT_TRUE(collector.WaitFor(s->RequestList(), 5000ms));
    SetupOptions f = collector.Form();
    EXPECT_EQ(f.paperWidth, 1);
    EXPECT_EQ(f.columns, 0);
    EXPECT_EQ(f.paperType, 1);
    EXPECT_EQ(f.colorDensity, 2);
    EXPECT_EQ(f.cutAdjust, 1);
    EXPECT_EQ(f.lines, 5);
    EXPECT_EQ(f.bellType, 1);
    EXPECT_EQ(f.bellCount, 3);
    EXPECT_EQ(f.codePage, codePageIndexOf(18));
    EXPECT_EQ(f.speed, 2);
    EXPECT_EQ(f.margin, 300);
    EXPECT_EQ(f.rxBuffer, 1);
    EXPECT_EQ(f.customCode, "1A2B");
    EXPECT_TRUE(s->Answered(253));
    // The 18 requests went out in their order.
    std::string expected;
    for (auto n : readRequestList(PortKind::Serial))
        expected += bytes(transmitSettingFrame(n));
    EXPECT_EQ(printer.received(), expected);
    // EXIT joins the receive thread instead of waiting on the chance that it saw the stop.
    clock.clearSleeps();
    endSession(s);
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_EQ(ports.m_IsOpen.load(), 0);
}

// The read job's outcome: what the host's form shows, and which settings did not answer;
// a cancelled read ends at once without its failure box.
TEST_F(SessionFixture, ReadSetupReportsValuesMissingAndCancel)
{
    useSerial();
    ScriptedPrinter printer(pty.master());
    printer.silentOnce(250);
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    SetupReadOutcome first = s->ReadSetup(1500ms);
    EXPECT_EQ(first.result, SetupReadOutcome::Result::Incomplete);
    EXPECT_EQ(first.requested, readRequestList(PortKind::Serial));
    EXPECT_EQ(first.missing, (std::vector<std::uint8_t>{250}));
    EXPECT_FALSE(first.nothingAnswered());
    EXPECT_EQ(first.values.customCode, "1A2B");
    EXPECT_EQ(first.values.codePage, collector.Form().codePage);
    EXPECT_EQ(first.shown, collector.Shown());
    EXPECT_EQ(first.shown.count(250), 0u);

    SetupReadOutcome second = s->ReadSetup(5000ms);
    EXPECT_EQ(second.result, SetupReadOutcome::Result::Complete);
    EXPECT_TRUE(second.missing.empty());
    EXPECT_EQ(second.values.margin, 300);

    CancelToken cancel;
    s->SetCancelToken(&cancel);
    cancel.cancel();
    SetupReadOutcome stopped = s->ReadSetup(5000ms);
    EXPECT_EQ(stopped.result, SetupReadOutcome::Result::Cancelled);
    EXPECT_TRUE(prompter.boxes().empty());
    EXPECT_FALSE(s->ConnectionOpen());
    s->SetCancelToken(nullptr);
    endSession(s);
}

TEST_F(SessionFixture, SerialWriteFramesAndStopBitWarningOnce)
{
    useSerial();
    ScriptedPrinter printer(pty.master());
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);

    SetupOptions fresh;
    EXPECT_EQ(s->SetValue(fresh), SetupSession::WriteResult::Nothing);
    SetupOptions wide;
    wide.margin = 577;
    EXPECT_EQ(s->SetValue(wide), SetupSession::WriteResult::Refused);
    ASSERT_EQ(prompter.boxes().size(), 1u);
    EXPECT_EQ(prompter.boxes()[0].text, "Please input a value between 0 ~ 576.");
    EXPECT_EQ(prompter.boxes()[0].caption, "Notice");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(printer.received(), "");

    ASSERT_TRUE(s->Default(fresh)); // scripted Yes; arms the stop-bit warning
    fresh.customCode = "xyz";
    fresh.usbMode = kNoValue; // writing it would make the printer leave this interface
    EXPECT_EQ(s->SetValue(fresh), SetupSession::WriteResult::Written);
    EXPECT_EQ(fresh.customCode, "0");
    auto frame = buildSetValueFrame(fresh, kFamilyTavro46);
    ASSERT_TRUE(frame.ok());
    const std::string expected = bytes(enterUserSettingFrame()) + bytes(frame->bytes) + bytes(endUserSettingFrame());
    ASSERT_TRUE(waitUntil([&] { return printer.received().size() >= expected.size(); }));
    EXPECT_EQ(printer.received(), expected);
    EXPECT_EQ(prompter.texts().back(),
              "If you change the stop bit configuration,\r\nthis program maybe do not work correctly.");
    const auto boxes = prompter.boxes().size();
    EXPECT_EQ(s->SetValue(fresh), SetupSession::WriteResult::Written);
    EXPECT_EQ(prompter.boxes().size(), boxes); // warned once only
    endSession(s);
}

TEST_F(SessionFixture, ParallelAcknowledgementAsksOnlyForTheMissingAnswer)
{
    useParallel();
    ScriptedPrinter printer(pty.master());
    printer.silentOnce(246);
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    EXPECT_EQ(ports.m_IsOpen.load(), 1);
    ASSERT_TRUE(waitUntil([&] { return printer.received() == bytes(disableAsbFrame()); }));

    ASSERT_EQ(s->GetValue(), SetupSession::ReadResult::LptStarted);
    std::vector<std::uint8_t> others = readRequestList(PortKind::Parallel);
    others.erase(std::find(others.begin(), others.end(), 246));
    ASSERT_TRUE(collector.WaitFor(others, 5000ms));
    // The host's timer fires after LptAcknowledge::kFirstInterval.
    auto tick = s->LptAckTick();
    if (tick.kind == SetupSession::AckTickResult::Kind::Rearm && tick.resent.empty())
        tick = s->LptAckTick(); // bytes were still queued: the next tick decides
    ASSERT_EQ(tick.kind, SetupSession::AckTickResult::Kind::Rearm);
    EXPECT_EQ(tick.interval, LptAcknowledge::kRepeatInterval);
    EXPECT_EQ(tick.resent, (std::vector<std::uint8_t>{246}));
    ASSERT_TRUE(collector.WaitFor({246}, 5000ms));
    EXPECT_EQ(collector.Form().codePage, codePageIndexOf(18));
    tick = s->LptAckTick();
    while (tick.kind == SetupSession::AckTickResult::Kind::Rearm && tick.resent.empty())
        tick = s->LptAckTick();
    EXPECT_EQ(tick.kind, SetupSession::AckTickResult::Kind::Finished);
    EXPECT_TRUE(s->Receiver().Ended());
    EXPECT_EQ(printer.requestsFor(246), 2);
    EXPECT_EQ(printer.requestsFor(3), 1);
    EXPECT_EQ(printer.requestsFor(253), 0);
    ASSERT_TRUE(waitUntil([&] {
        return printer.received().size() >= 5 &&
               printer.received().substr(printer.received().size() - 5) == std::string(5, '\0');
    }));
    endSession(s);
    EXPECT_EQ(ports.m_IsOpen.load(), 0);
}

TEST_F(SessionFixture, ParallelWriteReopensThePortAfterTheRestart)
{
    useParallel();
    ScriptedPrinter printer(pty.master());
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    SetupOptions form;
    form.margin = 10;
    clock.clearSleeps();
    EXPECT_EQ(s->SetValue(form), SetupSession::WriteResult::Written);
    auto sleeps = clock.sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps.front(), SetupSession::kLptRestartWait);
    // Reopened: GS a 0 again after the end frame.
    const std::string tail = bytes(endUserSettingFrame()) + bytes(disableAsbFrame());
    auto endsWithTail = [&] {
        std::string got = printer.received();
        return got.size() >= tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(waitUntil(endsWithTail)) << printer.received().size();
    EXPECT_TRUE(s->ConnectionOpen());
    endSession(s);
}

TEST_F(SessionFixture, UsbReopenTriesFiveTimesWithShorterPauses)
{
    FakeSysfs fake(tmp.path());
    std::string node = fake.addUsbPrinter("lp0", 0x5A3E, 0x3312, 0x0100, pty.slavePath());
    CPorts usb(prompter, clock, log, DeviceRoots{fake.sysfsRoot(), fake.devRoot(), {}});
    usb.m_PortName = "USB";
    usb.m_ModelFamily = kFamilyTavro46;
    SetupValueCollector target;
    {
        SetupSession s(usb.Settings(), ConnectionHost{clock, prompter, log, &usb}, target, false);
        target.Attach(&s);
        ASSERT_EQ(s.Open(), SetupSession::OpenResult::Opened);
        // The printer restarts after the write and, this time, does not come back.
        std::filesystem::remove(node);
        clock.clearSleeps();
        SetupOptions form;
        form.margin = 1;
        EXPECT_EQ(s.SetValue(form), SetupSession::WriteResult::ReopenFailed);
        std::vector<Ms> expected = {3000ms, 500ms, 400ms, 300ms, 200ms, 100ms};
        EXPECT_EQ(clock.sleeps(), expected);
        EXPECT_EQ(prompter.texts().back(), "Init Fail");
        EXPECT_EQ(usb.m_IsOpen.load(), 0);
        s.Exit();
        target.Attach(nullptr);
    }
}

TEST_F(SessionFixture, UsbModeChangeClosesTheConnection)
{
    useSerial();
    ScriptedPrinter printer(pty.master());
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    SetupOptions form;
    form.usbMode = 1;
    EXPECT_EQ(s->SetValue(form), SetupSession::WriteResult::ConnectionClosed);
    EXPECT_FALSE(s->ConnectionOpen());
    endSession(s);
}

TEST_F(SessionFixture, TestPageIsOneWritePerBlockThenAPause)
{
    useSerial();
    ScriptedPrinter printer(pty.master());
    auto s = makeSession();
    ASSERT_EQ(s->Open(), SetupSession::OpenResult::Opened);
    SetupOptions form;
    clock.clearSleeps();
    EXPECT_EQ(s->PrintTestPage(form), SetupSession::TestResult::Printed);
    EXPECT_EQ(clock.sleeps(), (std::vector<Ms>{SetupSession::kTestPagePause}));
    ASSERT_TRUE(waitUntil([&] { return printer.received().size() >= 358; }));
    EXPECT_EQ(printer.received().size(), 358u);
    endSession(s);
}

TEST_F(SessionFixture, UnreachableNetworkPrinterIsAFailureEverywhere)
{
    LoopbackServer server;
    ASSERT_TRUE(server.valid());
    int port = server.port();
    server.stopListening();
    EthSetTimeouts({1000ms, 200ms, 1000ms});
    EthInit(nullptr, "Ethernet", "127.0.0.1", port);
    ports.m_PortName = "ETHERNET_II";
    ports.m_ModelFamily = kFamilyTavro46;
    auto s = makeSession();
    EXPECT_EQ(s->Open(), SetupSession::OpenResult::Failed);
    EXPECT_EQ(prompter.texts().back(), "ERROR : Printer check.");
    // Even after a failed start a read, a write and a page report the dead connection.
    EXPECT_EQ(s->GetValue(), SetupSession::ReadResult::Failed);
    EXPECT_EQ(prompter.texts().back(), "ERROR : Read Fail!\nPlease check the printer power or connection");
    SetupOptions form;
    form.margin = 3;
    form.lines = 9;
    EXPECT_EQ(s->SetValue(form), SetupSession::WriteResult::Failed);
    EXPECT_EQ(form.lines, 0);
    EXPECT_EQ(s->PrintTestPage(form), SetupSession::TestResult::Failed);
    EXPECT_EQ(prompter.texts().back(), "ERROR : Write Fail!\nPlease check the printer power or connection");
    endSession(s);
    EthSetTimeouts({});
}

TEST_F(SessionFixture, FailedOpenLeavesNoNotifyWindow)
{
    ports.m_PortName = (tmp / "ttyMISSING").string();
    ports.m_BaudRate = 115200;
    ports.m_ByteSize = 8;
    ports.m_Parity = 0;
    ports.m_FlowCtrl = 3;
    auto s = makeSession();
    EXPECT_EQ(s->Open(), SetupSession::OpenResult::Failed);
    EXPECT_EQ(prompter.texts().back(), "Init Fail");
    EXPECT_EQ(ports.m_hNotifyWnd.load(), nullptr);
    endSession(s);

    ports.m_PortName = (tmp / "lpMISSING").string();
    s = makeSession();
    EXPECT_EQ(s->Open(), SetupSession::OpenResult::Failed);
    EXPECT_EQ(prompter.texts().back().rfind("Init Fail\n[ParPortCtl] CreateFile fail : ", 0), 0u)
        << prompter.texts().back();
    endSession(s);
}
