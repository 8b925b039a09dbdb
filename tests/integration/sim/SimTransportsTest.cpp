// Each transport of the virtual printer as the tool meets it, and the fault switches over real
// ptys and sockets.
#include "SimProcess.h"
#include "SimTestIo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace simio;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

namespace {

bool waitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(10000))
{
    auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

// The discovery walk of the sysfs contract: from `device` up to 4 parents for idVendor/idProduct.
std::string usbIdOf(const fs::path& classEntry)
{
    fs::path dir = fs::canonical(classEntry / "device");
    for (int i = 0; i <= 4; ++i, dir = dir.parent_path())
        if (fs::exists(dir / "idVendor") && fs::exists(dir / "idProduct"))
            return readFileBytes(dir / "idVendor") + readFileBytes(dir / "idProduct");
    return {};
}

TEST(SimUsb, NodesFollowTheSysfsLayoutEscapeRepliesAndComeBackAfterARestart)
{
    SimProcess sim({"--usb", "--usb-serial", "--family", "5", "--restart-ms", "500"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const fs::path sysfs = sim.env("TAVRO_SYSFS_ROOT"), dev = sim.env("TAVRO_DEV_ROOT");
    EXPECT_EQ(readFileBytes(sysfs / "class/usbmisc/lp0/uevent"), "MAJOR=180\nMINOR=0\nDEVNAME=usb/lp0\n");
    EXPECT_EQ(usbIdOf(sysfs / "class/usbmisc/lp0"), "5a3e\n3302\n");
    EXPECT_EQ(readFileBytes(sysfs / "class/tty/ttyACM0/uevent"), "MAJOR=166\nMINOR=0\nDEVNAME=ttyACM0\n");
    EXPECT_EQ(usbIdOf(sysfs / "class/tty/ttyACM0"), "5a3e\n3301\n");

    {
        UniqueFd lp = openPort((dev / "usb/lp0").string());
        ASSERT_TRUE(lp);
        // The value's terminating 00 arrives escaped as 1B 30.
        ASSERT_TRUE(writeAll(lp.get(), fn6(252)));
        EXPECT_EQ(readBytes(lp.get(), 10), hex("37 27 32 35 32 1F 30 34 1B 30"));
        UniqueFd acm = openPort((dev / "ttyACM0").string());
        ASSERT_TRUE(acm);
        ASSERT_TRUE(writeAll(acm.get(), fn6(3)));
        // The virtual serial port is a serial line: its replies are not escaped.
        EXPECT_EQ(readBytes(acm.get(), 6), hex("37 27 33 1F 36 00"));

        ASSERT_TRUE(writeAll(lp.get(), hex("1D 28 45 03 00 01 49 4E 1D 28 45 04 00 05 03 02 00 1D 28 45 04 00 02 4F 55 54")));
        EXPECT_EQ(readBytes(lp.get(), 4), hex("37 20 1B 30")); // the mode notice
    }
    ASSERT_TRUE(sim.waitForEvent("\"action\":\"gone\"", milliseconds(10000), 2));
    ASSERT_TRUE(sim.waitForEvent("\"action\":\"back\"", milliseconds(10000), 2));
    ASSERT_TRUE(waitFor([&] { return fs::exists(dev / "usb/lp0") && fs::exists(sysfs / "class/usbmisc/lp0/uevent"); }));
    UniqueFd lp = openPort((dev / "usb/lp0").string());
    ASSERT_TRUE(lp);
    ASSERT_TRUE(writeAll(lp.get(), fn6(3)));
    EXPECT_EQ(readBytes(lp.get(), 7), hex("37 27 33 1F 32 1B 30"));
    EXPECT_NE(readFileBytes(sim.stateDir() / "settings.txt").find("3 02 00"), std::string::npos);

    // The logo settings frame restarts the printer too.
    ASSERT_TRUE(writeAll(lp.get(), hex("1C 01 30 01 03 05 00 01 00 1C 02 30")));
    ASSERT_TRUE(sim.waitForEvent("\"reason\":\"logo settings\""));
    EXPECT_EQ(readFileBytes(sim.stateDir() / "logo.txt"), "1 3 5 0 1 0\n");
}

// --store-ms: the printer takes the frame, stores it, and only then goes off the bus.
TEST(SimUsb, ARestartComesAfterTheStoreTime)
{
    SimProcess sim({"--usb", "--family", "5", "--restart-ms", "200", "--store-ms", "400"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd lp = openPort((fs::path(sim.env("TAVRO_DEV_ROOT")) / "usb/lp0").string());
    ASSERT_TRUE(lp);
    ASSERT_TRUE(writeAll(lp.get(), hex("1C 01 30 01 03 05 00 01 00 1C 02 30")));
    ASSERT_TRUE(sim.waitForEvent("\"reason\":\"logo settings\""));
    // The event lines carry the printer's milliseconds since start as "t".
    auto timeOf = [&](const std::string& needle) {
        for (const auto& e : sim.events())
            if (e.find(needle) != std::string::npos)
                return std::stol(e.substr(e.find("\"t\":") + 4));
        return -1L;
    };
    const long stored = timeOf("\"cmd\":\"logo-settings\""), restarted = timeOf("\"cmd\":\"restart\"");
    ASSERT_GE(stored, 0);
    EXPECT_GE(restarted - stored, 400);
}

TEST(SimParallel, ReportsStatusUntilGsAZero)
{
    SimProcess sim({"--parallel", "--asb-interval-ms", "100"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd lp = openPort(sim.parallelPort());
    ASSERT_TRUE(lp);
    Bytes reports = readBytes(lp.get(), 8);
    ASSERT_EQ(reports.size(), 8u);
    for (size_t i = 0; i < 8; i += 4) {
        EXPECT_EQ(reports[i] & 0x93, 0x10);
        EXPECT_EQ(reports[i + 1] & 0x90, 0);
        EXPECT_EQ(reports[i + 2] & 0xF0, 0);
        EXPECT_EQ(reports[i + 3], 0x0F);
    }
    ASSERT_TRUE(writeAll(lp.get(), hex("1D 61 00") + fn6(1)));
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"asb\""));
    // Whatever was already on its way, then the reply, then nothing more.
    Bytes rest = readBytes(lp.get(), 64, milliseconds(1500));
    Bytes reply = answer(1, "1");
    ASSERT_GE(rest.size(), reply.size());
    auto at = std::search(rest.begin(), rest.end(), reply.begin(), reply.end());
    ASSERT_NE(at, rest.end());
    EXPECT_EQ(rest.end() - at, static_cast<long>(reply.size()));
}

TEST(SimFaults, NoAnswerNoiseAndDelayOverSerial)
{
    SimProcess sim({"--serial", "--no-answer", "250,255", "--noise", "--answer-delay", "300"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd port = openPort(sim.serialPort());
    ASSERT_TRUE(writeAll(port.get(), fn6(250) + fn6(3)));
    auto t0 = Clock::now();
    Bytes got = readBytes(port.get(), 5 + 6);
    auto elapsed = Clock::now() - t0;
    EXPECT_EQ(got, hex("00 FF 41 0D 8A") + answer(3, "6"));
    EXPECT_GE(elapsed, milliseconds(250));
    EXPECT_TRUE(sim.waitForEvent("\"fault\":\"no answer\""));
}

TEST(SimFaults, HangupResetsTheTcpConnection)
{
    SimProcess sim({"--tcp", "127.0.0.1:0", "--hangup-after", "7"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd tcp = connectTcp("127.0.0.1", sim.tcpPort());
    ASSERT_TRUE(tcp);
    ASSERT_TRUE(writeAll(tcp.get(), fn6(3) + fn6(1)));
    ASSERT_TRUE(sim.waitForEvent("\"fault\":\"hang-up\""));
    Bytes got = readBytes(tcp.get(), 100, milliseconds(5000));
    // The connection ends; the second request was never taken.
    EXPECT_LE(got.size(), answer(3, "6").size());
    EXPECT_FALSE(sim.waitForEvent("\"setting\":1", milliseconds(300)));
    // The limit counts per connection: the next one is served up to it again.
    UniqueFd again = connectTcp("127.0.0.1", sim.tcpPort());
    ASSERT_TRUE(again);
    ASSERT_TRUE(writeAll(again.get(), hex("1D 28 45")));
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"connect\"", milliseconds(10000), 2));
    EXPECT_FALSE(sim.waitForEvent("\"fault\":\"hang-up\"", milliseconds(200), 2));
}

TEST(SimFaults, HangupClosesThePty)
{
    SimProcess sim({"--serial", "--hangup-after", "3"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd port = openPort(sim.serialPort());
    ASSERT_TRUE(writeAll(port.get(), fn6(3)));
    ASSERT_TRUE(sim.waitForEvent("\"fault\":\"hang-up\""));
    ASSERT_TRUE(waitFor([&] {
        pollfd p{port.get(), POLLIN, 0};
        return ::poll(&p, 1, 100) == 1 && (p.revents & (POLLHUP | POLLERR));
    }));
    EXPECT_FALSE(fs::is_symlink(sim.serialPort()));
}

TEST(SimFaults, StallHoldsBackWhatFollows)
{
    SimProcess sim({"--serial", "--stall-after", "7", "--stall-ms", "800"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd port = openPort(sim.serialPort());
    auto t0 = Clock::now();
    ASSERT_TRUE(writeAll(port.get(), fn6(3) + fn6(1)));
    EXPECT_EQ(readBytes(port.get(), 6), answer(3, "6"));
    EXPECT_EQ(readBytes(port.get(), 6), answer(1, "1"));
    // The stall began after the write, so the second answer cannot come sooner.
    EXPECT_GE(Clock::now() - t0, milliseconds(800));
    EXPECT_TRUE(sim.waitForEvent("\"fault\":\"stall\""));
}

TEST(SimSerial, PacingFollowsTheLineRateSetOnThePort)
{
    SimProcess sim({"--serial", "--pace", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    // 9600 baud, 8N1: 960 bytes a second. 480 bytes of text and a request take half a second.
    UniqueFd port = openPort(sim.serialPort(), B9600);
    Bytes text(479, 'A');
    text.push_back('\n');
    auto t0 = Clock::now();
    ASSERT_TRUE(writeAll(port.get(), text + fn6(3)));
    EXPECT_EQ(readBytes(port.get(), 6), answer(3, "6"));
    EXPECT_GE(Clock::now() - t0, milliseconds(350));
}

TEST(SimLegacy, BootAreaWithANakEveryFourthPacket)
{
    SimProcess sim({"--serial", "--family", "2", "--nak-every", "4", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    UniqueFd port = openPort(sim.serialPort(), B38400);
    ASSERT_TRUE(writeAll(port.get(), hex("40 F2 22 23 00 00 00 00 00 00")));
    ASSERT_EQ(readBytes(port.get(), 2), hex("10 06"));
    int naks = 0;
    for (uint32_t pos = 0x1F0000; pos < 0x200000;) {
        Bytes p{0x40, static_cast<uint8_t>(pos + 512 >= 0x200000 ? 0xF1 : 0xF0), 0x02, 0x00,
                static_cast<uint8_t>(pos >> 24), static_cast<uint8_t>(pos >> 16), static_cast<uint8_t>(pos >> 8),
                static_cast<uint8_t>(pos)};
        uint32_t sum = 0;
        for (int i = 0; i < 512; ++i) {
            p.push_back(static_cast<uint8_t>(i));
            sum += static_cast<uint8_t>(i);
        }
        p.push_back(static_cast<uint8_t>(sum >> 8));
        p.push_back(static_cast<uint8_t>(sum));
        ASSERT_TRUE(writeAll(port.get(), p));
        Bytes a = readBytes(port.get(), 2);
        ASSERT_EQ(a.size(), 2u);
        ASSERT_EQ(a[0], 0x10);
        if (a[1] == 0x15) {
            ++naks;
            continue; // send it again
        }
        ASSERT_EQ(a[1], 0x06);
        pos += 512;
    }
    EXPECT_EQ(naks, 128 / 4);
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"legacy-complete\""));
    EXPECT_NE(readFileBytes(sim.stateDir() / "firmware.txt").find("legacy-boot 34 65536"), std::string::npos);
}

TEST(SimFirmware, BlockOverTcpIsVerifiedThenTheBuzzerSounds)
{
    SimProcess sim({"--tcp", "127.0.0.1:0", "--flash-busy-ms", "300", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const uint32_t length = 0x18000;
    Bytes b(length, 0xFF);
    b[0] = 0x01; b[1] = 0x11; b[2] = 0x44; b[3] = 0x32;
    b[4] = length & 0xFF; b[5] = (length >> 8) & 0xFF; b[6] = (length >> 16) & 0xFF; b[7] = 0;
    uint32_t sum = (length - 10) * 255u;
    b[8] = sum & 0xFF; b[9] = (sum >> 8) & 0xFF;
    UniqueFd tcp = connectTcp("127.0.0.1", sim.tcpPort());
    for (size_t i = 0; i < b.size(); i += 4096)
        ASSERT_TRUE(writeAll(tcp.get(), Bytes(b.begin() + i, b.begin() + std::min<size_t>(b.size(), i + 4096))));
    ASSERT_TRUE(sim.waitForEvent("\"verdict\":\"ok\""));
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"beep\",\"count\":5"));
    EXPECT_NE(readFileBytes(sim.stateDir() / "firmware.txt").find("download 68 98304"), std::string::npos);
}

TEST(SimNetwork, SeveralPrintersAnswerAndOnlyTheChosenOneChanges)
{
    UniqueFd tool = udpSocket("127.0.0.1", 0);
    ASSERT_TRUE(tool);
    SimProcess sim({"--udp", "127.0.0.21:0,127.0.0.22:0", "--udp-reply-port",
                    std::to_string(SocketUtil::localPort(tool.get()))});
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string list = sim.env("TAVRO_SIM_UDP");
    auto comma = list.find(',');
    ASSERT_NE(comma, std::string::npos);
    const std::string first = list.substr(0, comma), second = list.substr(comma + 1);

    Bytes search(35, 0);
    search[0] = search[1] = 0xAA;
    search[33] = search[34] = 0x55;
    ASSERT_TRUE(sendUdp(tool.get(), second, search));
    Bytes rec = recvUdp(tool.get(), milliseconds(10000));
    ASSERT_EQ(rec.size(), 35u);
    EXPECT_EQ(rec[6], 22);

    // Set and apply with the second printer's MAC, sent to both addresses.
    Bytes set = rec;
    set[2] = 0x02;
    set[3] = 10; set[4] = 1; set[5] = 2; set[6] = 3;
    set[22] = 0x23; set[23] = 0x8C; // 9100
    ASSERT_TRUE(sendUdp(tool.get(), first, set));
    ASSERT_TRUE(sendUdp(tool.get(), second, set));
    Bytes echo = recvUdp(tool.get(), milliseconds(10000));
    EXPECT_EQ(echo, set);
    Bytes apply = set;
    apply[2] = 0x04;
    ASSERT_TRUE(sendUdp(tool.get(), first, apply));
    ASSERT_TRUE(sendUdp(tool.get(), second, apply));
    ASSERT_TRUE(sim.waitForEvent("\"result\":\"apply\""));
    EXPECT_TRUE(sim.waitForEvent("\"result\":\"ignored: other MAC", milliseconds(10000), 2));
    std::string net = readFileBytes(sim.stateDir() / "network.txt");
    EXPECT_NE(net.find("ip=127.0.0.21"), std::string::npos) << net;
    EXPECT_NE(net.find("ip=10.1.2.3"), std::string::npos) << net;
    EXPECT_NE(net.find("port=9100"), std::string::npos) << net;
}

} // namespace
