// tavro-sim as a process: start-up lines, serving a pty, TCP and UDP at once, leaving nothing
// behind, keeping its state across runs, and the decode command.
#include "SimProcess.h"
#include "SimTestIo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

using namespace simio;
using std::chrono::milliseconds;

namespace {

TEST(SimRun, ServesPtyTcpAndUdpAtOnceAndLeavesNothingBehind)
{
    // The answers of the UDP printer go to this socket's port on the requester's address.
    UniqueFd tool = udpSocket("127.0.0.1", 0);
    ASSERT_TRUE(tool);
    const int toolPort = SocketUtil::localPort(tool.get());

    SimProcess sim({"--serial", "--tcp", "127.0.0.1:0", "--udp", "127.0.0.9:0", "--udp-reply-port",
                    std::to_string(toolPort)});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_FALSE(sim.serialPort().empty());
    EXPECT_EQ(sim.tcpHost(), "127.0.0.1");
    ASSERT_GT(sim.tcpPort(), 0);
    ASSERT_FALSE(sim.env("TAVRO_SIM_UDP").empty());
    EXPECT_FALSE(sim.env("TAVRO_SYSFS_ROOT").empty());
    EXPECT_FALSE(sim.env("TAVRO_DEV_ROOT").empty());
    EXPECT_EQ(sim.envLines().front().first, "TAVRO_EXTRA_PORTS");

    UniqueFd port = openPort(sim.serialPort());
    ASSERT_TRUE(port);
    ASSERT_TRUE(writeAll(port.get(), fn6(3)));
    EXPECT_EQ(readBytes(port.get(), 6), answer(3, "6"));

    UniqueFd tcp = connectTcp(sim.tcpHost(), sim.tcpPort());
    ASSERT_TRUE(tcp);
    ASSERT_TRUE(writeAll(tcp.get(), fn6(250)));
    EXPECT_EQ(readBytes(tcp.get(), 9), answer(250, "00"));

    Bytes search(35, 0);
    search[0] = search[1] = 0xAA;
    search[33] = search[34] = 0x55;
    ASSERT_TRUE(sendUdp(tool.get(), sim.env("TAVRO_SIM_UDP"), search));
    Bytes record = recvUdp(tool.get(), milliseconds(10000));
    ASSERT_EQ(record.size(), 35u);
    EXPECT_EQ(Bytes(record.begin() + 3, record.begin() + 7), (Bytes{127, 0, 0, 9}));
    // The record carries the TCP port the printer really listens on.
    EXPECT_EQ(record[22] << 8 | record[23], sim.tcpPort());

    ASSERT_TRUE(sim.waitForEvent("\"via\":\"tcp\",\"cmd\":\"user-setting\""));
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"network\""));
    EXPECT_TRUE(sim.waitForOutput("[serial] user-setting fn=6 setting=3"));

    const auto run = sim.runDir();
    port.reset();
    int status = sim.stop();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(run / "ttySIM0"));
    EXPECT_FALSE(std::filesystem::exists(run / "sysfs"));
    EXPECT_FALSE(std::filesystem::exists(run / "dev"));
    EXPECT_TRUE(std::filesystem::exists(run / "state" / "events.jsonl"));
}

TEST(SimRun, KeepsItsStateAcrossRuns)
{
    TempDir state;
    {
        SimProcess sim({"--serial", "--state", state.path().string()});
        ASSERT_TRUE(sim.ok()) << sim.error();
        UniqueFd port = openPort(sim.serialPort());
        ASSERT_TRUE(writeAll(port.get(), hex("1D 28 45 03 00 01 49 4E  1D 28 45 04 00 05 FA 40 02  1D 28 45 04 00 02 4F 55 54")));
        ASSERT_TRUE(sim.waitForEvent("\"fn\":2"));
    }
    SimProcess sim({"--serial", "--state", state.path().string()});
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(sim.stateDir(), state.path());
    UniqueFd port = openPort(sim.serialPort());
    ASSERT_TRUE(writeAll(port.get(), fn6(250)));
    EXPECT_EQ(readBytes(port.get(), 10), answer(250, "264"));
}

TEST(SimRun, RefusesBadSwitchesAndNonLoopbackUdp)
{
    SimProcess bad({"--udp", "192.0.2.1:0"}, SimProcess::defaultBinary(), milliseconds(10000));
    EXPECT_FALSE(bad.ok());
    SimProcess family({"--family", "9"}, SimProcess::defaultBinary(), milliseconds(10000));
    EXPECT_FALSE(family.ok());
}

std::string runCommand(const std::string& cmd, int* status)
{
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

TEST(SimRun, DecodeExplainsACaptureFile)
{
    TempDir dir;
    Bytes capture = hex("1B 40 1C 71 01 02 00 01 00") + Bytes(16, 0x81) +
                    hex("1D 28 45 03 00 01 49 4E 1D 28 45 07 00 05 03 02 00 F6 10 00 1D 28 45 04 00 02 4F 55 54") +
                    hex("1C 70 01 00") + Bytes{'H', 'i', 0x0A} + hex("1B 69");
    writeFileBytes(dir / "temp.prn", std::string(capture.begin(), capture.end()));
    int status = -1;
    std::string out = runCommand(SimProcess::defaultBinary() + " decode " + (dir / "temp.prn").string() +
                                     " --png-dir " + (dir / "png").string(), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("nv-define"), std::string::npos) << out;
    EXPECT_NE(out.find("\"n\":246"), std::string::npos) << out;
    EXPECT_NE(out.find("nv-print n=1"), std::string::npos) << out;
    EXPECT_NE(out.find("text text=\"Hi\""), std::string::npos) << out;
    EXPECT_NE(out.find("cut"), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::exists(dir / "png" / "nv-1.png"));

    runCommand(SimProcess::defaultBinary() + " decode " + (dir / "nothing.prn").string() + " 2>/dev/null", &status);
    EXPECT_NE(status, 0);
}

} // namespace
