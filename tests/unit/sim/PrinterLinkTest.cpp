// A connection's link properties and fault switches, driven with explicit times (no waiting).
#include "SimTestSupport.h"
#include "sim/PrinterLink.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

struct FakeHost final : SimHost {
    PrinterState printer{1};
    SimSettings simSettings;
    std::vector<std::pair<std::string, SimEvent>> logged;
    std::vector<std::string> restarts;

    PrinterState& state() override { return printer; }
    const SimSettings& settings() const override { return simSettings; }
    void logEvent(const std::string& via, const SimEvent& e) override { logged.emplace_back(via, e); }
    void printerRestart(const std::string& reason) override { restarts.push_back(reason); }
    void stateChanged() override {}
    int count(const std::string& cmd) const
    {
        int n = 0;
        for (auto& [via, e] : logged)
            n += e.cmd() == cmd;
        return n;
    }
};

std::vector<uint8_t> drain(PrinterLink& link, SimTime now)
{
    std::vector<uint8_t> out = link.pendingOutput(now);
    link.wrote(out.size(), now);
    return out;
}

void send(PrinterLink& link, const std::vector<uint8_t>& bytes, SimTime now)
{
    link.receive(bytes.data(), bytes.size(), now);
}

TEST(SimPrinterLink, UsbRepliesAreEscaped)
{
    EXPECT_EQ(PrinterLink::escapeUsb(hexBytes("00 41 1B")), hexBytes("1B 30 41 1B 1B"));
    FakeHost host;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"usb", true, false}, t0);
    send(link, fn6(250), t0);
    EXPECT_EQ(drain(link, t0), hexBytes("37 27 32 35 30 1F 30 30 1B 30"));
    EXPECT_EQ(host.logged.at(0).first, "usb");
}

TEST(SimPrinterLink, AnswerDelayAndNoise)
{
    FakeHost host;
    host.simSettings.linkFaults.answerDelayMs = 400;
    host.simSettings.linkFaults.noise = true;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"serial", false, false}, t0);
    send(link, fn6(3), t0);
    EXPECT_TRUE(drain(link, t0 + milliseconds(399)).empty());
    ASSERT_TRUE(link.nextDeadline());
    EXPECT_EQ(*link.nextDeadline(), t0 + milliseconds(400));
    EXPECT_EQ(drain(link, t0 + milliseconds(400)), PrinterLink::noiseBytes() + answer(3, "6"));
}

TEST(SimPrinterLink, SilentTakesTheCommandsAndSendsNothing)
{
    FakeHost host;
    host.simSettings.linkFaults.silent = true;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"tcp", false, false}, t0);
    send(link, enterMode() + fn6(250), t0);
    EXPECT_TRUE(host.printer.userSettingMode);
    EXPECT_TRUE(drain(link, t0 + milliseconds(5000)).empty());
    EXPECT_FALSE(link.nextDeadline());
    EXPECT_EQ(host.count("user-setting"), 2);
}

TEST(SimPrinterLink, HangupAfterNBytesTakesOnlyThoseBytes)
{
    FakeHost host;
    host.simSettings.linkFaults.hangupAfter = 10;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"tcp", false, false}, t0);
    send(link, fn6(3) + fn6(250), t0); // 14 bytes: the second request is cut
    EXPECT_TRUE(link.hangupRequested());
    EXPECT_FALSE(link.wantsInput(t0));
    EXPECT_EQ(drain(link, t0), answer(3, "6"));
    EXPECT_EQ(host.count("fault"), 1);
    EXPECT_EQ(host.printer.settings.count(250), 1u);
}

TEST(SimPrinterLink, StallStopsReadingForTheConfiguredTime)
{
    FakeHost host;
    host.simSettings.linkFaults.stallAfter = 7;
    host.simSettings.linkFaults.stallMs = 2000;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"serial", false, false}, t0);
    send(link, fn6(3) + fn6(1), t0);
    EXPECT_EQ(drain(link, t0), answer(3, "6"));
    EXPECT_FALSE(link.wantsInput(t0 + milliseconds(1999)));
    link.pump(t0 + milliseconds(1999));
    EXPECT_TRUE(drain(link, t0 + milliseconds(1999)).empty());
    link.pump(t0 + milliseconds(2000));
    EXPECT_EQ(drain(link, t0 + milliseconds(2000)), answer(1, "1"));
    EXPECT_TRUE(link.wantsInput(t0 + milliseconds(2000)));
}

TEST(SimPrinterLink, ParallelReportsStatusUntilGsAZero)
{
    FakeHost host;
    host.simSettings.asbIntervalMs = 1000;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"parallel", false, true}, t0);
    link.tick(t0);
    EXPECT_EQ(drain(link, t0), hexBytes("10 00 00 0F"));
    link.tick(t0 + milliseconds(500));
    EXPECT_TRUE(drain(link, t0 + milliseconds(500)).empty());
    link.tick(t0 + milliseconds(1000));
    auto report = drain(link, t0 + milliseconds(1000));
    ASSERT_EQ(report.size(), 4u);
    // The host's ASB test.
    EXPECT_EQ(report[0] & 0x93, 0x10);
    EXPECT_EQ(report[1] & 0x90, 0);
    EXPECT_EQ(report[2] & 0xF0, 0);
    EXPECT_EQ(report[3], 0x0F);
    send(link, hexBytes("1D 61 00"), t0 + milliseconds(1100));
    for (int i = 2; i < 6; ++i)
        link.tick(t0 + milliseconds(1000 * i));
    EXPECT_TRUE(drain(link, t0 + milliseconds(6000)).empty());
    // A tool that never reads does not get a pile of reports.
    PrinterLink quiet(host, {"parallel", false, true}, t0);
    for (int i = 0; i < 10; ++i)
        quiet.tick(t0 + milliseconds(1000 * i));
    EXPECT_EQ(quiet.pendingOutput(t0 + milliseconds(10000)).size(), 4u);
}

TEST(SimPrinterLink, PacingFollowsTheLineRate)
{
    FakeHost host;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"serial", false, false}, t0);
    link.setLineRate(9600, 10);
    EXPECT_EQ(link.maxRead(), 19u);
    send(link, fn6(3), t0); // 7 bytes at 960 bytes/s: about 7.3 ms of line time
    EXPECT_FALSE(link.wantsInput(t0 + milliseconds(7)));
    EXPECT_TRUE(link.wantsInput(t0 + milliseconds(8)));
    auto out = drain(link, t0 + milliseconds(8));
    EXPECT_EQ(out, answer(3, "6"));
    // 9 bytes written: the next write waits about 9.4 ms.
    send(link, fn6(1), t0 + milliseconds(9));
    EXPECT_TRUE(link.pendingOutput(t0 + milliseconds(12)).empty());
    EXPECT_FALSE(link.pendingOutput(t0 + milliseconds(18)).empty());
}

TEST(SimPrinterLink, FlashWriteMakesThePrinterDeafThenBeeps)
{
    FakeHost host;
    host.simSettings.flashBusyMs = 3000;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"usb", true, false}, t0);
    std::vector<uint8_t> b(0x18000, 0xFF);
    b[0] = 0x01; b[1] = 0x11; b[2] = 0x44; b[3] = 0x32;
    b[4] = 0x00; b[5] = 0x80; b[6] = 0x01; b[7] = 0x00;
    uint32_t sum = (0x18000 - 10) * 255u;
    b[8] = sum & 0xFF; b[9] = (sum >> 8) & 0xFF;
    send(link, b + fn6(3), t0);
    EXPECT_FALSE(link.wantsInput(t0 + milliseconds(2999)));
    EXPECT_TRUE(drain(link, t0 + milliseconds(100)).empty()); // the request waits
    link.tick(t0 + milliseconds(3000));
    link.pump(t0 + milliseconds(3000));
    EXPECT_EQ(host.count("beep"), 1);
    EXPECT_EQ(drain(link, t0 + milliseconds(3000)), PrinterLink::escapeUsb(answer(3, "6")));
}

TEST(SimPrinterLink, RestartIsPassedToTheHost)
{
    FakeHost host;
    SimTime t0 = SimClock::now();
    PrinterLink link(host, {"usb", true, false}, t0);
    send(link, enterMode() + fn5(hexBytes("03 02 00")) + endMode(), t0);
    ASSERT_EQ(host.restarts.size(), 1u);
    EXPECT_EQ(host.printer.settings[3], (SettingBytes{2, 0}));
}

} // namespace
