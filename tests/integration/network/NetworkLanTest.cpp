// A small LAN in network namespaces: the PC in one, three simulated printers in others, all
// on one bridge in a namespace of its own. Real broadcasts to 255.255.255.255 stay inside the
// namespaces; nothing is added to the host's network. Needs root (CI runs it as root);
// elsewhere it skips with the reason.
#include "NetTestSupport.h"

#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using std::chrono::milliseconds;

namespace {

constexpr const char* kIp = "/usr/sbin/ip";
constexpr int kPrinters = 3;

int sh(const std::string& command)
{
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The namespaces and links of one test; deleted again whatever happens (destructor).
class Lan {
public:
    Lan()
    {
        m_prefix = "tvn" + std::to_string(::getpid()) + "-";
        if (::geteuid() != 0) {
            m_skip = "network namespaces need root (CI runs this as root)";
            return;
        }
        if (::access(kIp, X_OK) != 0) {
            m_skip = std::string(kIp) + " is not installed (iproute2)";
            return;
        }
        if (sh(std::string(kIp) + " netns add " + ns("lan")) != 0) {
            m_skip = "cannot create a network namespace here (ip netns add failed: no CAP_SYS_ADMIN or no netns support)";
            return;
        }
        m_made.push_back(ns("lan"));
        const std::string lan = std::string(kIp) + " -n " + ns("lan");
        if (!run(lan + " link add br0 type bridge") || !run(lan + " link set br0 up") || !run(lan + " link set lo up")) {
            m_error = "cannot make the bridge";
            return;
        }
        if (!host("pc", "192.0.2.1"))
            return;
        for (int i = 1; i <= kPrinters; ++i)
            if (!host("p" + std::to_string(i), "192.0.2." + std::to_string(10 + i)))
                return;
        m_ready = true;
    }
    ~Lan()
    {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            sh(std::string(kIp) + " netns del " + *it);
    }
    const std::string& skip() const { return m_skip; }
    const std::string& error() const { return m_error; }
    bool ready() const { return m_ready; }
    std::string ns(const std::string& name) const { return m_prefix + name; }
    // The prefix that runs a program inside a namespace.
    std::string in(const std::string& name) const { return std::string(kIp) + " netns exec " + ns(name); }

private:
    bool run(const std::string& command)
    {
        if (sh(command) == 0)
            return true;
        m_error = "failed: " + command;
        return false;
    }
    // A namespace with one veth to the bridge, its address in 192.0.2.0/24 (documentation
    // range) and a default route on the link, so that 255.255.255.255 has a way out.
    bool host(const std::string& name, const std::string& address)
    {
        if (!run(std::string(kIp) + " netns add " + ns(name)))
            return false;
        m_made.push_back(ns(name));
        const std::string lan = std::string(kIp) + " -n " + ns("lan");
        const std::string me = std::string(kIp) + " -n " + ns(name);
        return run(lan + " link add b-" + name + " type veth peer name eth0 netns " + ns(name)) &&
               run(lan + " link set b-" + name + " master br0 up") && run(me + " link set lo up") &&
               run(me + " link set eth0 up") && run(me + " addr add " + address + "/24 dev eth0") &&
               run(me + " route add default dev eth0");
    }

    std::string m_prefix, m_skip, m_error;
    std::vector<std::string> m_made;
    bool m_ready = false;
};

class NetworkLan : public ::testing::Test {
protected:
    void SetUp() override
    {
        lan = std::make_unique<Lan>();
        if (!lan->skip().empty())
            GTEST_SKIP() << lan->skip();
        ASSERT_TRUE(lan->ready()) << lan->error();
        for (int i = 1; i <= kPrinters; ++i) {
            const std::string n = std::to_string(i);
            sims.push_back(std::make_unique<SimProcess>(
                std::vector<std::string>{"netns", "exec", lan->ns("p" + n), SimProcess::defaultBinary(), "--udp-lan",
                                         "192.0.2.1" + n, "--net-mask", "255.255.255.0", "--net-gateway", "192.0.2.254",
                                         "--net-mac", "02:5C:3A:00:01:0" + n, "--tcp", "0.0.0.0:6001", "--net-restart-ms",
                                         "700", "--quiet"},
                kIp));
            ASSERT_TRUE(sims.back()->ok()) << sims.back()->error();
        }
    }
    void TearDown() override
    {
        // Printers first: a namespace goes away with its last process.
        sims.clear();
        lan.reset();
    }
    std::unique_ptr<Lan> lan;
    std::vector<std::unique_ptr<SimProcess>> sims;
    TempDir dir;
};

} // namespace

TEST_F(NetworkLan, SearchByBroadcastFindsEveryPrinter)
{
    // Defaults only: 255.255.255.255, bound to 0.0.0.0:2918.
    CliRun run = runTavroctl(dir.path(), lan->in("pc"), "net search");
    ASSERT_EQ(run.status, 0) << run.err;
    for (int i = 1; i <= kPrinters; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_NE(run.out.find("192.0.2.1" + n + "\t6001\t255.255.255.0\t192.0.2.254\t02:5C:3A:00:01:0" + n + "\n"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_NE(run.err.find("3 printers answered"), std::string::npos) << run.err << " (own broadcast not skipped?)";
}

TEST_F(NetworkLan, ChangeByMacThenVerifyAndConnectOnTheNewAddress)
{
    CliRun run = runTavroctl(dir.path(), lan->in("pc"),
                             "--yes net set --mac 02:5C:3A:00:01:02 --ip 192.0.2.50 --mask 255.255.255.0"
                             " --gateway 192.0.2.1 --port 9100 --verify --verify-timeout-ms 20000");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("verified: 192.0.2.50\t9100\t255.255.255.0\t192.0.2.1\t02:5C:3A:00:01:02"), std::string::npos)
        << run.out;
    // The printer's TCP port moved with its settings.
    EXPECT_EQ(sh(lan->in("pc") + " bash -c 'exec 3<>/dev/tcp/192.0.2.50/9100'"), 0);
    // The others did not change.
    CliRun after = runTavroctl(dir.path(), lan->in("pc"), "net search");
    EXPECT_NE(after.out.find("192.0.2.11\t6001"), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("192.0.2.13\t6001"), std::string::npos) << after.out;
    EXPECT_EQ(after.out.find("192.0.2.12\t"), std::string::npos) << after.out;
}

TEST(NetworkLanGuard, SimulatorRefusesLanModeInTheHostNamespace)
{
    // The LAN module answers anyone, so it must never run on the host's real network.
    SimProcess sim({"--udp-lan", "192.0.2.77", "--quiet"}, SimProcess::defaultBinary(), milliseconds(10000));
    EXPECT_FALSE(sim.ok());
}
