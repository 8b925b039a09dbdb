// tavroctl net against simulated modules on loopback: the list, a change with --verify, and
// the plain failures.
#include "NetTestSupport.h"

#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace nettest;
using std::chrono::milliseconds;

namespace {

std::string channel(int port)
{
    return "--broadcast 127.255.255.255 --bind 127.0.0.1 --udp-port " + std::to_string(port) + " --timeout-ms 300";
}

int lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(NetworkCli, SearchPrintsOneLinePerAnswer)
{
    const int port = freeUdpPort();
    SimProcess sim({"--udp", "127.0.91.1,127.0.91.2", "--udp-port", std::to_string(port), "--udp-reply-port",
                    std::to_string(port), "--quiet", "--net-dhcp", "1"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    TempDir dir;
    CliRun text = runTavroctl(dir.path(), "", "net search " + channel(port));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(lines(text.out), 2) << text.out;
    EXPECT_NE(text.out.find("127.0.91.1 (DHCP)\t6001\t255.0.0.0\t127.0.0.1\t02:5C:3A:00:00:01\n"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("2 printers answered"), std::string::npos) << text.err;

    CliRun json = runTavroctl(dir.path(), "", "net search --json " + channel(port));
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(lines(json.out), 2);
    EXPECT_NE(json.out.find("{\"ip\":\"127.0.91.2\",\"dhcp\":true,\"port\":6001,\"subnet\":\"255.0.0.0\","
                            "\"gateway\":\"127.0.0.1\",\"mac\":\"02:5C:3A:00:00:02\"}"),
              std::string::npos)
        << json.out;
}

TEST(NetworkCli, SetWithVerifyWaitsForTheRestartedPrinter)
{
    const int port = freeUdpPort();
    SimProcess sim({"--udp", "127.0.92.1,127.0.92.2", "--udp-port", std::to_string(port), "--udp-reply-port",
                    std::to_string(port), "--quiet", "--net-restart-ms", "1500"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    TempDir dir;
    CliRun run = runTavroctl(dir.path(), "", "--yes net set " + channel(port) +
                                                 " --mac 02:5c:3a:00:00:02 --ip 127.0.92.20 --mask 255.255.0.0"
                                                 " --gateway 127.0.92.254 --port 9100 --verify --verify-timeout-ms 20000");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("verified: 127.0.92.20\t9100\t255.255.0.0\t127.0.92.254\t02:5C:3A:00:00:02"), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("answers with the new settings"), std::string::npos) << run.err;
    // The other printer kept its settings.
    CliRun after = runTavroctl(dir.path(), "", "net search " + channel(port));
    EXPECT_NE(after.out.find("127.0.92.1\t"), std::string::npos) << after.out;
}

TEST(NetworkCli, VerifySaysPlainlyWhenThePrinterDoesNotComeBack)
{
    const int port = freeUdpPort();
    SimProcess sim({"--udp", "127.0.93.1", "--udp-port", std::to_string(port), "--udp-reply-port", std::to_string(port),
                    "--quiet", "--net-restart-ms", "600000"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    TempDir dir;
    auto started = std::chrono::steady_clock::now();
    CliRun run = runTavroctl(dir.path(), "", "--yes net set " + channel(port) +
                                                 " --mac 02:5C:3A:00:00:01 --ip 127.0.93.5 --mask 255.0.0.0"
                                                 " --gateway 127.0.0.1 --port 9100 --verify --verify-timeout-ms 1500");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not verified: the printer 02:5C:3A:00:00:01 did not answer a search within 1500 ms"),
              std::string::npos)
        << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(NetworkCli, UnconfirmedOrRefusedChangesFail)
{
    const int port = freeUdpPort();
    TempDir dir;
    const std::string values = " --ip 10.0.0.5 --mask 255.0.0.0 --gateway 10.0.0.1 --port 9100";
    // Nobody listens: sent, but nobody confirmed it.
    CliRun silent = runTavroctl(dir.path(), "", "--yes net set " + channel(port) + " --mac 02:5C:3A:00:00:01" + values);
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("no printer answered the change request"), std::string::npos) << silent.err;

    // Not confirmed at the question (no terminal, no --yes): nothing sent.
    CliRun no = runTavroctl(dir.path(), "", "net set " + channel(port) + " --mac 02:5C:3A:00:00:01" + values);
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.err.find("not confirmed"), std::string::npos) << no.err;

    CliRun service = runTavroctl(dir.path(), "", "--yes net set " + channel(port) + " --mac-low 00:00:01" + values);
    EXPECT_EQ(service.status, 1);
    EXPECT_NE(service.err.find("--service"), std::string::npos) << service.err;

    CliRun port515 = runTavroctl(dir.path(), "", "--yes --service net set " + channel(port) +
                                                     " --mac-low 00:00:01 --ip 10.0.0.5 --mask 255.0.0.0 --gateway 10.0.0.1 --port 515");
    EXPECT_EQ(port515.status, 1);
    EXPECT_NE(port515.err.find("Please enter PORT number between 1024 ~ 65534."), std::string::npos) << port515.err;
}

// The dialog's address rules, named by option. Nobody listens on the test's port: a change
// that passes the rules is sent and then reported as unanswered.
TEST(NetworkCli, AddressRulesAreTheDialogsAndNameTheOption)
{
    struct Case {
        const char* values;
        const char* said; // in stderr
        bool sent;
    };
    const Case cases[] = {
        {"--ip 192.168.0.300 --mask 255.255.255.0 --gateway 192.168.0.1",
         "--ip: The IP address \"192.168.0.300\" is not an address: enter four numbers from 0 to 255", false},
        {"--ip 10.0.0 --mask 255.0.0.0 --gateway 10.0.0.1", "--ip: The IP address \"10.0.0\" is not an address", false},
        {"--ip 192.168.0.7 --mask 255.255.255.999 --gateway 192.168.0.1",
         "--mask: The subnet mask \"255.255.255.999\" is not an address", false},
        {"--ip 192.168.0.7 --mask 1.2.3.4 --gateway 192.168.0.1",
         "--mask: The subnet mask 1.2.3.4 is not a mask: its bits must be ones from the left followed by zeros", false},
        {"--ip 10.0.0.5 --mask 255.255.0.0 --gateway 10.1.0.1",
         "--gateway: The gateway 10.1.0.1 is outside the subnet of 10.0.0.5 with mask 255.255.0.0, so the printer "
         "cannot reach it. Nothing sent (--gateway-outside-subnet sends it all the same).",
         false},
        {"--ip 10.0.0.5 --mask 255.255.0.0 --gateway 10.1.0.1 --gateway-outside-subnet",
         "no printer answered the change request", true},
        {"--ip 10.0.0.5 --mask 255.255.0.0 --gateway 0.0.0.0", "no printer answered the change request", true},
    };
    const int port = freeUdpPort();
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values);
        CliRun run = runTavroctl(dir.path(), "", "--yes net set " + channel(port) + " --mac 02:5C:3A:00:00:01 --port 9100 " +
                                                     c.values);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Do you want to change the Network Settings?.") != std::string::npos, c.sent)
            << "the question comes only for values that pass";
    }
}
