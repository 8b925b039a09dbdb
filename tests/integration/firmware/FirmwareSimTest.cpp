// Whole firmware downloads as a technician runs them: tavroctl against the virtual printer
// over a serial pty, the USB printer node of a fake sysfs tree, a parallel pty, loopback TCP
// and a capture file. The printer's digest of what it received must equal the digest of
// the image range the area comes from, so the right bytes from the right offset arrived.
#include "FirmwareImages.h"
#include "common/PtyPair.h"
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string fnv(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to)
{
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (std::size_t i = from; i < to; ++i) {
        h ^= bytes[i];
        h *= 0x100000001B3ULL;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "\"digest\":\"fnv64-%016llx\"", static_cast<unsigned long long>(h));
    return buf;
}

bool haveBinaries()
{
    return ::access(TAVRO_BIN_DIR "/tavroctl", X_OK) == 0 && ::access(TAVRO_BIN_DIR "/tavro-sim", X_OK) == 0;
}

class FirmwareSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveBinaries())
            GTEST_SKIP() << "tavroctl or tavro-sim is not built";
        image = makeTestImage();
        writeTestImage(dir / "fw.T25", image);
    }
    // The simulator's environment lines as a shell prefix for tavroctl.
    static std::string envOf(const SimProcess& sim)
    {
        std::string env;
        for (auto& [name, value] : sim.envLines())
            env += name + "=" + shellQuote(value) + " ";
        return env;
    }
    CliRun tavroctl(const SimProcess& sim, const std::string& args) { return runTavroctl(dir.path(), envOf(sim), args); }
    // The digest of the L - 10 image bytes from offset: what a good download leaves.
    std::string expected(std::uint32_t offset, std::uint32_t length) const { return fnv(image, offset, offset + length - 10); }

    TempDir dir;
    std::vector<std::uint8_t> image;
};

std::vector<std::string> simArgs(int family, std::vector<std::string> more)
{
    std::vector<std::string> args{"--family", std::to_string(family), "--flash-busy-ms", "100", "--restart-ms", "200", "--quiet"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

TEST_F(FirmwareSimTest, ProgramAreaOverSerial)
{
    SimProcess sim(simArgs(1, {"--serial"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliRun r = tavroctl(sim, "--port " + shellQuote(sim.serialPort()) +
                                 " --flow none firmware download fw.T25 --area program --family 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Update Complete."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FileSize : 851968 bytes"), std::string::npos) << r.out;
    ASSERT_TRUE(sim.waitForEvent(expected(0x500000, 0xD0000))) << sim.events().back();
    EXPECT_TRUE(sim.waitForEvent("\"verdict\":\"ok\""));
    // The printer restarts into the new firmware.
    EXPECT_TRUE(sim.waitForEvent("\"reason\":\"firmware\""));
}

TEST_F(FirmwareSimTest, ProgramAreaOfATavro46OverUsbAndExtFontOverParallel)
{
    SimProcess usb(simArgs(6, {"--usb"}));
    ASSERT_TRUE(usb.ok()) << usb.error();
    CliRun r = tavroctl(usb, "--device 'TAVRO46/48 U-II' --json firmware download fw.T25 --area program");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"completed\":true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"fileSize\":851968"), std::string::npos) << r.out;
    // --json progress lines on stderr.
    EXPECT_NE(r.err.find("\"total\":872448"), std::string::npos) << r.err.substr(0, 400);
    EXPECT_TRUE(usb.waitForEvent(expected(0x400000, 0xD0000)));

    SimProcess lpt(simArgs(1, {"--parallel"}));
    ASSERT_TRUE(lpt.ok()) << lpt.error();
    r = tavroctl(lpt, "--port " + shellQuote(lpt.parallelPort()) + " --yes firmware download fw.T25 --area ext-font --family 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(lpt.waitForEvent(expected(0x600000, 0x100000)));
}

TEST_F(FirmwareSimTest, ServiceAreasOverTcpAndLcdFontIntoAFile)
{
    SimProcess sim(simArgs(5, {"--tcp", "127.0.0.1:0"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string tcp = "--device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" + std::to_string(sim.tcpPort());
    // Downloader and Boot need service mode; without --yes the question is answered No.
    CliRun r = tavroctl(sim, tcp + " firmware download fw.T25 --area downloader");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("needs --service"), std::string::npos) << r.err;
    r = tavroctl(sim, tcp + " --service firmware download fw.T25 --area downloader");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("answered No"), std::string::npos) << r.err;
    r = tavroctl(sim, tcp + " --service --yes firmware download fw.T25 --area boot");
    ASSERT_EQ(r.status, 0) << r.err;
    // The Boot block ends in its marker instead of the image's last four bytes of the range.
    std::vector<std::uint8_t> boot(image.begin() + 0x2E0000, image.begin() + 0x2E0000 + 0x15000 - 10);
    std::copy_n(std::vector<std::uint8_t>{0x00, 0x80, 0xFE, 0xFF}.begin(), 4, boot.end() - 4);
    EXPECT_TRUE(sim.waitForEvent(fnv(boot, 0, boot.size())));
    r = tavroctl(sim, tcp + " --service --yes firmware download fw.T25 --area downloader");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sim.waitForEvent(expected(0x3D0000, 0x18000)));

    // Into a file, then the simulator explains the capture.
    r = tavroctl(sim, "--port file:lcd.prn --yes firmware download fw.T25 --area lcd-font --family 6");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(std::filesystem::file_size(dir / "lcd.prn"), 0x200000u);
    std::string cmd = shellQuote(TAVRO_BIN_DIR "/tavro-sim") + " decode " + shellQuote((dir / "lcd.prn").string()) +
                      " --family 6 --json --png-dir " + shellQuote((dir / "png").string());
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    ::pclose(p);
    EXPECT_NE(out.find(expected(0, 0x200000)), std::string::npos) << out;
    EXPECT_NE(out.find("\"verdict\":\"ok\""), std::string::npos) << out;
}

TEST_F(FirmwareSimTest, WrongFilesAreRefusedBeforeAByteLeaves)
{
    SimProcess sim(simArgs(1, {"--serial"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string port = "--port " + shellQuote(sim.serialPort()) + " --flow none ";
    auto big = image;
    big.resize(kTestImageSize + 1, 0);
    writeTestImage(dir / "big.T25", big);
    CliRun r = tavroctl(sim, port + "firmware download big.T25 --area program --family 1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("FileSize (8388609 bytes) Error!"), std::string::npos) << r.err;
    auto small = image;
    small.resize(100);
    writeTestImage(dir / "small.T25", small);
    r = tavroctl(sim, port + "firmware download small.T25 --area program");
    EXPECT_NE(r.err.find("ERROR : Please check the firmware file."), std::string::npos) << r.err;
    r = tavroctl(sim, port + "firmware download fw.T25 --area lcd-font --family 1");
    EXPECT_NE(r.err.find("TAVRO46/48"), std::string::npos) << r.err;
    usleep(200 * 1000);
    for (auto& line : sim.events())
        EXPECT_EQ(line.find("\"firmware\""), std::string::npos) << line;

    r = tavroctl(sim, "firmware info fw.T25 --family 6 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"signature\":true"), std::string::npos);
    EXPECT_NE(r.out.find("{\"area\":\"program\",\"offset\":4194304,\"length\":851968,"), std::string::npos) << r.out;
}

TEST_F(FirmwareSimTest, APrinterThatHangsUpIsNeverReportedComplete)
{
    SimProcess sim(simArgs(1, {"--serial", "--hangup-after", "300000"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const auto start = Clock::now();
    CliRun r = tavroctl(sim, "--port " + shellQuote(sim.serialPort()) +
                                 " --flow none firmware download fw.T25 --area program --family 1");
    EXPECT_NE(r.status, 0);
    EXPECT_LT(Clock::now() - start, 40s);
    EXPECT_EQ(r.out.find("Update Complete"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("bytes sent"), std::string::npos) << r.err;
}

TEST_F(FirmwareSimTest, ANetworkPrinterThatResetsOrStallsIsNeverReportedComplete)
{
    // Reset after 300 kB: what was still in the socket never arrived.
    SimProcess reset(simArgs(5, {"--tcp", "127.0.0.1:0", "--hangup-after", "300000"}));
    ASSERT_TRUE(reset.ok()) << reset.error();
    auto start = Clock::now();
    CliRun r = tavroctl(reset, "--device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" + std::to_string(reset.tcpPort()) +
                                   " firmware download fw.T25 --area program");
    EXPECT_NE(r.status, 0);
    EXPECT_LT(Clock::now() - start, 40s);
    EXPECT_EQ(r.out.find("Update Complete"), std::string::npos) << r.out;

    // Stops reading after 300 kB for a minute: the bounded tries end it long before.
    SimProcess stalled(simArgs(5, {"--tcp", "127.0.0.1:0", "--stall-after", "300000", "--stall-ms", "60000"}));
    ASSERT_TRUE(stalled.ok()) << stalled.error();
    start = Clock::now();
    r = tavroctl(stalled, "--stall 1 --device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" +
                              std::to_string(stalled.tcpPort()) + " firmware download fw.T25 --area program");
    EXPECT_NE(r.status, 0);
    EXPECT_LT(Clock::now() - start, 40s);
    EXPECT_EQ(r.out.find("Update Complete"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("the printer took no data for 1 s"), std::string::npos) << r.err;
}

TEST_F(FirmwareSimTest, Tavro15PacketDownloadWithNaksSplitAnswersAndStrayAcks)
{
    std::vector<std::uint8_t> flat(0x200000);
    for (std::size_t i = 0; i < flat.size(); ++i)
        flat[i] = static_cast<std::uint8_t>(i * 13 + (i >> 10));
    writeTestImage(dir / "fw.bin", flat);
    SimProcess sim(simArgs(2, {"--serial", "--nak-every", "7", "--split-dle", "--stray-ack"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliRun r = tavroctl(sim, "--device 'TAVRO15 S' --port " + shellQuote(sim.serialPort()) +
                                 " --baud 38400 --flow none --service --yes firmware download fw.bin --area boot");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COMPLETED"), std::string::npos);
    ASSERT_TRUE(sim.waitForEvent("\"legacy-complete\""));
    EXPECT_TRUE(sim.waitForEvent(fnv(flat, 0x1F0000, 0x200000)));
    EXPECT_TRUE(sim.waitForEvent("NAK first try", 5s, 18));
}

TEST_F(FirmwareSimTest, Tavro15StreamsOverParallelAndStopsOnASilentPrinter)
{
    std::vector<std::uint8_t> flat(0x1F0000, 0x3C); // ends with the Program area
    flat[0x1EFFFF] = 0x5A;
    writeTestImage(dir / "flat.bin", flat);
    SimProcess lpt(simArgs(2, {"--parallel"}));
    ASSERT_TRUE(lpt.ok()) << lpt.error();
    CliRun r = tavroctl(lpt, "--device 'TAVRO15 P' --port " + shellQuote(lpt.parallelPort()) +
                                 " firmware download flat.bin --area program");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(lpt.waitForEvent("\"legacy-complete\""));
    EXPECT_TRUE(lpt.waitForEvent(fnv(flat, 0x1D0000, 0x1F0000)));

    // The printer stops reading after the erase packet and a few data packets.
    SimProcess silent(simArgs(2, {"--serial", "--stall-after", "3000", "--stall-ms", "60000"}));
    ASSERT_TRUE(silent.ok()) << silent.error();
    const auto start = Clock::now();
    r = tavroctl(silent, "--device 'TAVRO15 S' --port " + shellQuote(silent.serialPort()) +
                             " --baud 38400 --flow none --service --yes firmware download fw.T25 --area boot --answer-timeout 800");
    EXPECT_NE(r.status, 0);
    EXPECT_LT(Clock::now() - start, 30s);
    EXPECT_EQ(r.out.find("COMPLETED"), std::string::npos);
    EXPECT_NE(r.err.find("ERROR : Read Fail!"), std::string::npos) << r.err;
}

TEST_F(FirmwareSimTest, FilesThatWouldHarmThePrinterAreRefusedBeforeAByteLeaves)
{
    std::vector<std::uint8_t> blankProgram = image;
    // A TAVRO36/38's Program Area: 0xA0000 - 10 bytes from 0x300000.
    std::fill(blankProgram.begin() + 0x300000, blankProgram.begin() + 0x300000 + 0xA0000 - 10, 0xFF);
    writeTestImage(dir / "blank.T25", blankProgram);
    writeTestImage(dir / "tiny.bin", std::vector<std::uint8_t>(1024, 0x5A));
    const std::string wrongDigest(64, 'a');
    SimProcess tcp(simArgs(5, {"--tcp", "127.0.0.1:0"}));
    SimProcess serial(simArgs(2, {"--serial"}));
    ASSERT_TRUE(tcp.ok()) << tcp.error();
    ASSERT_TRUE(serial.ok()) << serial.error();
    const std::string toTcp = "--device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" + std::to_string(tcp.tcpPort());
    const std::string toSerial = "--device 'TAVRO15 S' --port " + shellQuote(serial.serialPort()) + " --baud 38400 --flow none";
    struct Case {
        const SimProcess* sim;
        std::string args;
        std::string expected; // in the error
    };
    const Case cases[] = {
        {&tcp, toTcp + " firmware download blank.T25 --area program",
         "the Program Area of this file is blank: every byte from 0x300000 to 0x39FFF5 is FF"},
        {&tcp, toTcp + " firmware download fw.T25 --area program --sha256 " + wrongDigest,
         "not the " + wrongDigest + " given with --sha256"},
        {&tcp, toTcp + " firmware download fw.T25 --area program --sha256 12ab", "--sha256 wants 64 hexadecimal digits"},
        {&serial, toSerial + " firmware download tiny.bin --area program",
         "so the file must be at least 2031616 bytes long; this file has 1024 bytes"},
        {&serial, toSerial + " firmware download fw.T25 --area boot", "--area boot needs --service"},
        {&serial, toSerial + " --service firmware download fw.T25 --area boot", "the question was answered No"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliRun r = tavroctl(*c.sim, c.args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
    // Not one byte reached either printer: it saw no download and no stray command.
    for (const SimProcess* sim : {&tcp, &serial})
        for (const std::string& line : sim->events())
            for (const char* sign : {"firmware", "legacy", "raw", "incomplete", "\"bytes\""})
                EXPECT_EQ(line.find(sign), std::string::npos) << line;

    // --force takes the blank area, and the digest printed by info pins the file.
    CliRun info = tavroctl(tcp, "--json firmware info fw.T25 --family 5");
    ASSERT_EQ(info.status, 0) << info.err;
    const auto at = info.out.find("\"sha256\":\"");
    ASSERT_NE(at, std::string::npos) << info.out;
    const std::string digest = info.out.substr(at + 10, 64);
    CliRun pinned = tavroctl(tcp, toTcp + " firmware download fw.T25 --area program --sha256 " + digest);
    EXPECT_EQ(pinned.status, 0) << pinned.err;
    CliRun forced = tavroctl(tcp, toTcp + " firmware download blank.T25 --area program --force");
    EXPECT_EQ(forced.status, 0) << forced.err;
}

namespace {

// A TAVRO15 played by the test on a pty of its own: it answers DLE ACK to every download
// packet and, as each packet arrives, reads the port's line settings (a pty's master reads
// the termios of its slave, which is what `stty -F PORT` shows). Bytes outside a packet are
// taken and dropped.
class HandshakeWatchingPrinter {
public:
    explicit HandshakeWatchingPrinter(int master) : m_master(master)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~HandshakeWatchingPrinter()
    {
        m_stop = true;
        m_thread.join();
    }
    int packets() const { return m_packets; }
    int packetsWithHardwareFlow() const { return m_withCrtscts; }
    bool lastPacketSeen() const { return m_last; }

private:
    void run()
    {
        std::vector<std::uint8_t> in;
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
                continue;
            std::uint8_t buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                continue;
            in.insert(in.end(), buf, buf + n);
            for (;;) {
                while (!in.empty() && in.front() != 0x40)
                    in.erase(in.begin());
                if (in.size() < 4)
                    break;
                const bool erase = in[1] == 0xF2;
                const std::size_t length = erase ? 10 : 10 + std::size_t(in[2] << 8 | in[3]);
                if (in.size() < length)
                    break;
                termios t{};
                ::tcgetattr(m_master, &t);
                m_withCrtscts += (t.c_cflag & CRTSCTS) ? 1 : 0;
                m_last = m_last || in[1] == 0xF1;
                in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(length));
                ++m_packets;
                const std::uint8_t ack[2] = {0x10, 0x06};
                if (::write(m_master, ack, 2) != 2)
                    return;
            }
        }
    }

    int m_master;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_packets{0}, m_withCrtscts{0};
    std::atomic<bool> m_last{false};
    std::thread m_thread;
};

} // namespace

// A TAVRO15 in download mode need not raise CTS: the download runs without hardware flow
// control whatever the user chose, and the user's choice is what the port gets afterwards.
TEST_F(FirmwareSimTest, Tavro15DownloadRunsWithoutHardwareFlowControlAndTheUsersSettingReturns)
{
    if (::access(TAVRO_BIN_DIR "/tavroctl", X_OK) != 0)
        GTEST_SKIP() << "tavroctl is not built";
    PtyPair pty;
    ASSERT_TRUE(pty.valid()) << pty.error();
    // Held open, the slave keeps the settings the tool left between its runs.
    ASSERT_TRUE(pty.holdSlaveOpen());
    const auto port = dir / "ttyT15";
    std::filesystem::create_symlink(pty.slavePath(), port);
    auto hardwareFlow = [&] {
        termios t{};
        return ::tcgetattr(pty.master(), &t) == 0 && (t.c_cflag & CRTSCTS) != 0;
    };
    std::vector<std::uint8_t> flat(0x200000);
    for (std::size_t i = 0; i < flat.size(); ++i)
        flat[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    writeTestImage(dir / "fw.bin", flat);
    writeTestImage(dir / "line.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    const std::string user = "--device 'TAVRO15 S' --port " + shellQuote(port.string()) + " --baud 38400 --flow hw ";

    HandshakeWatchingPrinter printer(pty.master());
    CliRun r = runTavroctl(dir.path(), "", user + "send line.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(hardwareFlow()) << "the user's hardware flow control is on the port before the download";

    // The printer played here only takes packets: no wait for its check afterwards.
    r = runTavroctl(dir.path(), "", user + "--service --yes firmware download fw.bin --area boot --ready-timeout 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COMPLETED"), std::string::npos) << r.out;
    EXPECT_TRUE(printer.lastPacketSeen());
    EXPECT_EQ(printer.packets(), 1 + 128); // the erase packet and 128 data packets
    EXPECT_EQ(printer.packetsWithHardwareFlow(), 0) << "CRTSCTS was on while a packet arrived";

    r = runTavroctl(dir.path(), "", user + "send line.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(hardwareFlow()) << "the user's setting is back after the download";
}
