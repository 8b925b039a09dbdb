// The printer's side of real device nodes, driven over a pty (a tty given by path), a FIFO (a
// parallel port's far end) and a temporary UDC attribute file (the gadget's restart).
#include "SimTestSupport.h"
#include "common/PtyPair.h"
#include "sim/DeviceEndpoint.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <termios.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct FakeHost final : SimHost {
    PrinterState printer{5};
    SimSettings simSettings;
    std::vector<std::pair<std::string, SimEvent>> logged;

    PrinterState& state() override { return printer; }
    const SimSettings& settings() const override { return simSettings; }
    void logEvent(const std::string& via, const SimEvent& e) override { logged.emplace_back(via, e); }
    void printerRestart(const std::string&) override {}
    void stateChanged() override {}
    bool saw(const std::string& cmd, const std::string& jsonPart = "") const
    {
        for (auto& [via, e] : logged)
            if (e.cmd() == cmd && e.toJson().find(jsonPart) != std::string::npos)
                return true;
        return false;
    }
};

// Runs the endpoint's share of the event loop until `done` or the time is up.
void drive(DeviceEndpoint& ep, std::chrono::milliseconds total, const std::function<bool()>& done)
{
    const auto end = SimClock::now() + total;
    while (SimClock::now() < end && !done()) {
        std::vector<pollfd> fds;
        ep.addPollFds(fds, SimClock::now());
        ::poll(fds.data(), fds.size(), 10);
        const SimTime now = SimClock::now();
        for (auto& p : fds)
            if (p.revents)
                ep.onReady(p, now);
        ep.tick(now);
    }
}

std::vector<uint8_t> readSome(int fd, size_t want, std::function<void()> pump)
{
    std::vector<uint8_t> got;
    const auto end = SimClock::now() + 2s;
    while (got.size() < want && SimClock::now() < end) {
        pump();
        uint8_t buf[256];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
    }
    return got;
}

struct TempFolder {
    fs::path path;
    TempFolder()
    {
        std::string t = (fs::temp_directory_path() / "tavro-dev-XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~TempFolder() { fs::remove_all(path); }
};

std::string fileText(const fs::path& p)
{
    std::ifstream in(p);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return s;
}

TEST(SimDeviceSpec, LineSettingsParseAndRefuse)
{
    LineSettings l;
    ASSERT_TRUE(LineSettings::parse("9600,7E2", &l, nullptr));
    EXPECT_EQ(l.baud, 9600);
    EXPECT_EQ(l.dataBits, 7);
    EXPECT_EQ(l.parity, 'E');
    EXPECT_EQ(l.stopBits, 2);
    EXPECT_FALSE(l.rtscts);
    ASSERT_TRUE(LineSettings::parse("115200", &l, nullptr));
    EXPECT_EQ(l.text(), "115200,8N1");
    ASSERT_TRUE(LineSettings::parse("19200,8o1H", &l, nullptr));
    EXPECT_EQ(l.text(), "19200,8O1H");

    std::string why;
    for (const char* bad : {"", "9601", "96OO", "9600,9N1", "9600,8X1", "9600,8N3", "9600,7E2,1", "9600,", "-9600"}) {
        why.clear();
        EXPECT_FALSE(LineSettings::parse(bad, &l, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(SimDeviceSpec, PathsAndPerKindParts)
{
    DeviceSpec s;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::UsbPrinterGadget, "/dev/g_printer0,/sys/kernel/config/usb_gadget/p/UDC", &s, nullptr));
    EXPECT_EQ(s.path, "/dev/g_printer0");
    EXPECT_EQ(s.udcFile, "/sys/kernel/config/usb_gadget/p/UDC");
    EXPECT_STREQ(s.via(), "usb");
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::UsbSerialGadget, "/dev/ttyGS0", &s, nullptr));
    EXPECT_TRUE(s.udcFile.empty());
    EXPECT_STREQ(s.via(), "usb-serial");
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::Tty, "/dev/ttyS1,9600,7E2", &s, nullptr));
    EXPECT_EQ(s.line.text(), "9600,7E2");
    EXPECT_STREQ(s.via(), "serial");

    std::string why;
    EXPECT_FALSE(DeviceSpec::parse(DeviceSpec::Kind::Tty, "ttyS1", &s, &why));
    EXPECT_FALSE(DeviceSpec::parse(DeviceSpec::Kind::Tty, "/dev/ttyS1,fast", &s, &why));
    EXPECT_FALSE(DeviceSpec::parse(DeviceSpec::Kind::UsbPrinterGadget, "/dev/g_printer0,UDC", &s, &why));
    EXPECT_FALSE(DeviceSpec::parse(DeviceSpec::Kind::UsbPrinterGadget, "/dev/g_printer0,", &s, &why));
    EXPECT_FALSE(DeviceSpec::parse(DeviceSpec::Kind::ParallelFarEnd, "/tmp/lpt.out,9600", &s, &why));
    EXPECT_FALSE(why.empty());
}

// A serial printer on a tty given by path: the printer's line settings go onto the port, and
// requests are answered on it unescaped.
TEST(SimDeviceEndpoint, TtyTakesTheLineSettingsAndAnswers)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid()) << pty.error();
    ASSERT_TRUE(pty.setMasterNonBlocking(true));
    FakeHost host;
    DeviceSpec deviceSpec;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::Tty, pty.slavePath() + ",19200,8N2", &deviceSpec, nullptr));
    DeviceEndpoint ep(host, deviceSpec);
    std::string why;
    ASSERT_TRUE(ep.up(SimClock::now(), &why)) << why;

    termios t{};
    ASSERT_TRUE(pty.holdSlaveOpen());
    ASSERT_EQ(::tcgetattr(pty.slaveHoldFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B19200);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_lflag & ECHO) << "the printer's port must be raw";

    auto request = fn6(250);
    ASSERT_EQ(::write(pty.master(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
    auto want = answer(250, "00");
    auto got = readSome(pty.master(), want.size(), [&] { drive(ep, 20ms, [] { return false; }); });
    EXPECT_EQ(got, want);
    EXPECT_TRUE(host.saw("user-setting", "\"setting\":250"));
}

// A port that keeps other line settings than the printer's must not be served as if it had
// taken them: a pty keeps 8 data bits and no parity.
TEST(SimDeviceEndpoint, RefusesAPortThatDoesNotTakeTheLineSettings)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid()) << pty.error();
    FakeHost host;
    DeviceSpec deviceSpec;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::Tty, pty.slavePath() + ",9600,7E2", &deviceSpec, nullptr));
    DeviceEndpoint ep(host, deviceSpec);
    std::string why;
    EXPECT_FALSE(ep.up(SimClock::now(), &why));
    EXPECT_NE(why.find("does not take 9600,7E2"), std::string::npos) << why;
    EXPECT_FALSE(ep.isUp());

    DeviceSpec file;
    TempFolder dir;
    std::ofstream(dir.path / "plain") << "x";
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::Tty, (dir.path / "plain").string(), &file, nullptr));
    DeviceEndpoint notTty(host, file);
    EXPECT_FALSE(notTty.up(SimClock::now(), &why));
    EXPECT_NE(why.find("not a tty"), std::string::npos) << why;
}

// The USB printer gadget escapes its replies; a printer restart unplugs the gadget through its
// UDC attribute and plugs it in again when the printer is back.
TEST(SimDeviceEndpoint, PrinterGadgetEscapesAndRestartsThroughTheUdc)
{
    PtyPair pty; // stands in for /dev/g_printer0: any node that reads and writes bytes
    ASSERT_TRUE(pty.valid()) << pty.error();
    ASSERT_TRUE(pty.setMasterNonBlocking(true));
    TempFolder dir;
    const fs::path udc = dir.path / "UDC";
    std::ofstream(udc) << "dummy_udc.0\n";
    FakeHost host;
    DeviceSpec deviceSpec;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::UsbPrinterGadget, pty.slavePath() + "," + udc.string(), &deviceSpec, nullptr));
    DeviceEndpoint ep(host, deviceSpec);
    std::string why;
    ASSERT_TRUE(ep.up(SimClock::now(), &why)) << why;

    auto request = fn6(250);
    ASSERT_EQ(::write(pty.master(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
    auto want = hexBytes("37 27 32 35 30 1F 30 30 1B 30"); // the closing 00 escaped
    EXPECT_EQ(readSome(pty.master(), want.size(), [&] { drive(ep, 20ms, [] { return false; }); }), want);

    const SimTime now = SimClock::now();
    ep.printerRestarting(now, now + 150ms);
    EXPECT_FALSE(ep.isUp());
    EXPECT_EQ(fileText(udc), "\n") << "unplugged";
    ASSERT_TRUE(ep.nextDeadline());
    EXPECT_EQ(*ep.nextDeadline(), now + 150ms);
    drive(ep, 2s, [&] { return ep.isUp(); });
    EXPECT_TRUE(ep.isUp());
    EXPECT_EQ(fileText(udc), "dummy_udc.0\n") << "plugged in again";
    EXPECT_TRUE(host.saw("node", "\"action\":\"unplugged\""));
    EXPECT_TRUE(host.saw("node", "\"action\":\"back\""));
}

TEST(SimDeviceEndpoint, GadgetNotBoundIsRefused)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid());
    TempFolder dir;
    std::ofstream(dir.path / "UDC") << "\n";
    FakeHost host;
    DeviceSpec deviceSpec;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::UsbPrinterGadget, pty.slavePath() + "," + (dir.path / "UDC").string(), &deviceSpec, nullptr));
    DeviceEndpoint ep(host, deviceSpec);
    std::string why;
    EXPECT_FALSE(ep.up(SimClock::now(), &why));
    EXPECT_NE(why.find("not bound"), std::string::npos) << why;
}

// The far end of a parallel port: what arrives is interpreted, replies have nowhere to go and
// must not block the printer.
TEST(SimDeviceEndpoint, ParallelFarEndReadsAFifo)
{
    TempFolder dir;
    const fs::path fifo = dir.path / "lpt.out";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FakeHost host;
    DeviceSpec deviceSpec;
    ASSERT_TRUE(DeviceSpec::parse(DeviceSpec::Kind::ParallelFarEnd, fifo.string(), &deviceSpec, nullptr));
    DeviceEndpoint ep(host, deviceSpec);
    std::string why;
    ASSERT_TRUE(ep.up(SimClock::now(), &why)) << why;
    int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);
    auto bytes = fn6(3) + textBytes("LP0 000001\n");
    ASSERT_EQ(::write(w, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(w); // the writer going away is no end of the port
    drive(ep, 2s, [&] { return host.saw("text", "LP0 000001"); });
    EXPECT_TRUE(host.saw("user-setting", "\"setting\":3"));
    EXPECT_TRUE(host.saw("text", "LP0 000001"));
    EXPECT_TRUE(ep.isUp());
    EXPECT_FALSE(host.saw("node", "closed"));
}

} // namespace
