// Search, Change and Manual change against simulated network modules and a hand-made one, on
// loopback: what the list shows, which datagrams leave, which messages the user gets.
#include "NetTestSupport.h"

#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TempDir.h"

#include "app/MessageCatalog.h"
#include "network/NetworkSettingEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace nettest;
using std::chrono::milliseconds;

namespace {

std::vector<std::string> simArgs(const std::string& addresses, int port, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {"--udp", addresses, "--udp-port", std::to_string(port), "--udp-reply-port",
                                     std::to_string(port), "--quiet"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::string> macs(const NetworkSearchResult& r)
{
    std::vector<std::string> out;
    for (auto& row : r.rows)
        out.push_back(row.mac);
    std::sort(out.begin(), out.end());
    return out;
}

NetworkChangeRequest request(const std::string& ip, unsigned port, const std::string& mac = "02:5C:3A:00:00:01")
{
    NetworkChangeRequest r;
    r.ipText = ip;
    r.maskText = "255.255.255.0";
    r.gatewayText = "127.0.0.1";
    r.macText = mac;
    r.macLow = {"00", "00", "01"};
    r.port = port;
    // The gateway 127.0.0.1 is outside these subnets: sent as given, the engine's frames are tested here.
    r.outsideGateway = NetworkChangeRequest::OutsideGateway::Send;
    return r;
}

// Counts what a hand-made module hears for a while.
std::vector<Bytes> heard(RawModule& module, milliseconds window)
{
    std::vector<Bytes> out;
    while (auto d = module.receive(window))
        out.push_back(*d);
    return out;
}

class NetworkSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        port = freeUdpPort();
        ASSERT_NE(port, 0);
    }
    int port = 0;
    RecordingPrompter prompter;
};

} // namespace

TEST_F(NetworkSim, SearchListsEveryModuleAndSkipsTheOwnBroadcast)
{
    SimProcess sim(simArgs("127.0.81.1,127.0.81.2,127.0.81.3", port,
                           {"--net-dhcp", "2", "--net-mask", "255.255.255.0", "--net-gateway", "127.0.81.254", "--tcp", "127.0.81.1:0"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    // Bound to the wildcard address, the tool also hears its own broadcast from 127.0.0.1.
    UdpSettings s = loopbackSettings(port);
    s.bindAddress = "0.0.0.0";
    NetworkSettingEngine engine(prompter, s);
    std::vector<std::string> live;
    NetworkSearchResult r = engine.Search([&](const NetworkPrinterRow& row) { live.push_back(row.mac); });

    EXPECT_EQ(r.end, NetworkSearchResult::End::Silence) << r.detail;
    EXPECT_TRUE(r.socketsOk);
    EXPECT_EQ(r.skippedOwn, 1);
    ASSERT_EQ(macs(r), (std::vector<std::string>{"02:5C:3A:00:00:01", "02:5C:3A:00:00:02", "02:5C:3A:00:00:03"}));
    EXPECT_EQ(live.size(), 3u);
    const std::string tcpPort = std::to_string(sim.tcpPort());
    for (auto& row : r.rows) {
        EXPECT_EQ(row.ip.substr(0, 9), "127.0.81.");
        EXPECT_EQ(row.ip.substr(row.ip.size() - 7), " (DHCP)") << row.ip;
        EXPECT_EQ(row.settings.dhcp, 2);
        EXPECT_EQ(row.port, tcpPort);
        EXPECT_EQ(row.subnet, "255.255.255.0");
        EXPECT_EQ(row.gateway, "127.0.81.254");
    }
    EXPECT_TRUE(prompter.boxes().empty()) << "the finished message is the caller's";
}

TEST_F(NetworkSim, TwoAnswersFromOnePrinterGiveTwoRows)
{
    SimProcess sim(simArgs("127.0.82.1", port, {"--net-duplicate"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    NetworkSettingEngine engine(prompter, loopbackSettings(port));
    NetworkSearchResult r = engine.Search();
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0].mac, r.rows[1].mac);
    EXPECT_EQ(r.rows[0].ip, "127.0.82.1");
}

TEST_F(NetworkSim, AnAnswerLongerThanARecordEndsTheSearch)
{
    SimProcess sim(simArgs("127.0.83.1", port, {"--net-long-answer"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    NetworkSettingEngine engine(prompter, loopbackSettings(port, 5000));
    auto started = std::chrono::steady_clock::now();
    NetworkSearchResult r = engine.Search();
    EXPECT_EQ(r.end, NetworkSearchResult::End::TooLong);
    EXPECT_NE(r.detail.find("40 bytes"), std::string::npos) << r.detail;
    EXPECT_TRUE(r.rows.empty());
    // It ended on the long datagram, not after the 5 s of silence.
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(4000));
}

TEST_F(NetworkSim, ChangeSendsSetThenApplyOtherwiseIdentical)
{
    RawModule module(port);
    ASSERT_TRUE(module.ok());
    NetworkSettingEngine engine(prompter, loopbackSettings(port));
    NetworkChangeResult result;
    std::thread tool([&] { result = engine.Change(request("192.168.0.77", 9100, "02:5C:3A:AB:CD:EF")); });
    sockaddr_in requester{};
    auto set = module.receive(milliseconds(5000), &requester);
    ASSERT_TRUE(set);
    ASSERT_TRUE(RawModule::answer("127.0.84.1", requester, port, *set)); // the module's echo
    auto apply = module.receive(milliseconds(5000));
    tool.join();
    ASSERT_TRUE(apply);
    EXPECT_TRUE(heard(module, milliseconds(300)).empty()) << "exactly two datagrams";

    const Bytes expected = {0xAA, 0xAA, 0x02, 192, 168, 0, 77, 255, 255, 255, 0, 127, 0, 0, 1,
                            0x02, 0x5C, 0x3A, 0xAB, 0xCD, 0xEF, 0, 0x23, 0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x55, 0x55};
    EXPECT_EQ(*set, expected);
    Bytes expectedApply = expected;
    expectedApply[2] = 0x04;
    EXPECT_EQ(*apply, expectedApply);

    EXPECT_EQ(result.outcome, NetworkChangeResult::Outcome::Answered);
    EXPECT_TRUE(result.reachedSockets);
    EXPECT_EQ(result.answerFrom.substr(0, 11), "127.0.84.1:");
    auto boxes = prompter.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Do you want to change the Network Settings?.");
    EXPECT_EQ(boxes[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(boxes[0].caption, "Notice");
    EXPECT_EQ(boxes[1].text, "Update Complete.\nPlease wait beep the buzzer.");
    EXPECT_EQ(boxes[1].caption, "Notice");
}

TEST_F(NetworkSim, LastIpNumberAndPortRulesDifferBetweenChangeAndManualChange)
{
    RawModule module(port);
    ASSERT_TRUE(module.ok());
    NetworkSettingEngine engine(prompter, loopbackSettings(port, 100));

    // Change refuses x.x.x.255 (and x.x.x.0) before any socket.
    for (const char* ip : {"192.168.0.255", "192.168.0.0"}) {
        NetworkChangeResult r = engine.Change(request(ip, 9100));
        EXPECT_EQ(r.outcome, NetworkChangeResult::Outcome::RefusedIp) << ip;
        EXPECT_FALSE(r.reachedSockets);
    }
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>(2, "Please enter IP address between 1 ~ 254.")));
    EXPECT_TRUE(heard(module, milliseconds(200)).empty());

    // Manual change sends it, to the maker's MAC prefix with the typed low bytes.
    prompter.clear();
    NetworkChangeRequest manual = request("192.168.0.255", 9100);
    manual.macLow = {"0a", "B1", "FF"};
    NetworkChangeResult r = engine.ManualChange(manual);
    EXPECT_EQ(r.outcome, NetworkChangeResult::Outcome::NotAnswered);
    auto sent = heard(module, milliseconds(300));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][6], 255);
    EXPECT_EQ(Bytes(sent[0].begin() + 15, sent[0].begin() + 21), (Bytes{0x02, 0x5C, 0x3A, 0x0A, 0xB1, 0xFF}));
    auto boxes = prompter.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "TAVROSet(203dpi)") << "manual change asks under the tool's own title";
    EXPECT_EQ(boxes[1].caption, "TAVROSet(203dpi)");
    EXPECT_NE(boxes[1].text.find("No printer answered"), std::string::npos) << "no false 'Update Complete'";

    // Port 515 (LPD) passes Change, Manual change refuses it; 1023 and 65535 fail both.
    prompter.clear();
    EXPECT_EQ(engine.Change(request("192.168.0.9", 515)).outcome, NetworkChangeResult::Outcome::NotAnswered);
    EXPECT_EQ(heard(module, milliseconds(300)).size(), 2u);
    for (unsigned bad : {515u, 1023u, 65535u, 0u}) {
        EXPECT_EQ(engine.ManualChange(request("192.168.0.9", bad)).outcome, NetworkChangeResult::Outcome::RefusedPort) << bad;
    }
    for (unsigned bad : {1023u, 65535u}) {
        EXPECT_EQ(engine.Change(request("192.168.0.9", bad)).outcome, NetworkChangeResult::Outcome::RefusedPort) << bad;
    }
    EXPECT_TRUE(heard(module, milliseconds(200)).empty());
    EXPECT_EQ(prompter.texts().back(), "Please enter PORT number between 1024 ~ 65534.");
}

TEST_F(NetworkSim, NoSendWhenTheUserSaysNoOrTheMacCannotBeRead)
{
    RawModule module(port);
    ASSERT_TRUE(module.ok());
    NetworkSettingEngine engine(prompter, loopbackSettings(port, 100));
    prompter.scriptAnswers({PromptAnswer::No});
    NetworkChangeResult r = engine.Change(request("10.0.0.5", 6001));
    EXPECT_EQ(r.outcome, NetworkChangeResult::Outcome::Declined);
    EXPECT_TRUE(r.reachedSockets) << "the dialog wants a new row click after a declined change too";

    r = engine.Change(request("10.0.0.5", 6001, "02:5C:3A:00:00"));
    EXPECT_EQ(r.outcome, NetworkChangeResult::Outcome::RefusedMac);
    NetworkChangeRequest manual = request("10.0.0.5", 6001);
    manual.macLow = {"0", "11", "22"};
    EXPECT_EQ(engine.ManualChange(manual).outcome, NetworkChangeResult::Outcome::RefusedMac);
    EXPECT_TRUE(heard(module, milliseconds(200)).empty());
}

TEST_F(NetworkSim, UnansweredSetStillAppliesAndIsReportedAsUnconfirmed)
{
    SimProcess sim(simArgs("127.0.85.1", port, {"--net-silent-set", "--net-restart-ms", "0"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    NetworkSettingEngine engine(prompter, loopbackSettings(port));
    NetworkChangeResult r = engine.Change(request("127.0.85.9", 9100));
    EXPECT_EQ(r.outcome, NetworkChangeResult::Outcome::NotAnswered);
    ASSERT_TRUE(sim.waitForEvent("\"result\":\"apply\""));
    ASSERT_EQ(prompter.boxes().size(), 2u);
    EXPECT_NE(prompter.boxes()[1].text, catalogText(Msg::NetworkUpdateComplete));
}

TEST_F(NetworkSim, AppliedChangeMovesTheModuleAndItsTcpPort)
{
    SimProcess sim(simArgs("127.0.86.1", port, {"--tcp", "127.0.86.1:0", "--net-restart-ms", "200"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int newTcp = freeUdpPort(); // any free number; TCP and UDP share the range
    NetworkSettingEngine engine(prompter, loopbackSettings(port));
    NetworkChangeResult r = engine.Change(request("127.0.86.7", static_cast<unsigned>(newTcp)));
    ASSERT_EQ(r.outcome, NetworkChangeResult::Outcome::Answered);
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"network-restart\""));

    NetworkSearchResult found = engine.Search();
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(found.rows[0].ip, "127.0.86.7");
    EXPECT_EQ(found.rows[0].port, std::to_string(newTcp));
    ASSERT_TRUE(sim.waitForEvent("\"cmd\":\"tcp-move\""));
    UniqueFd tcp(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    SocketUtil::parseIpv4("127.0.86.7", newTcp, &sa);
    EXPECT_EQ(::connect(tcp.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << std::strerror(errno);
    // The new settings survive in the state folder.
    EXPECT_NE(readFileBytes(sim.stateDir() / "network.txt").find("ip=127.0.86.7"), std::string::npos);
}

TEST_F(NetworkSim, SocketFailureIsShownAndTheSearchFindsNothing)
{
    // 192.0.2.1 is no address of this host: the bind fails. The request still goes only to
    // loopback.
    UdpSettings s = loopbackSettings(port, 100);
    s.bindAddress = "192.0.2.1";
    NetworkSettingEngine engine(prompter, s);
    NetworkSearchResult r = engine.Search();
    EXPECT_FALSE(r.socketsOk);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.end, NetworkSearchResult::End::ReceiveError);
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"System Error. Please restart this program."}));

    prompter.clear();
    NetworkChangeResult c = engine.Change(request("10.0.0.5", 6001));
    EXPECT_EQ(c.outcome, NetworkChangeResult::Outcome::NotAnswered);
    ASSERT_GE(prompter.texts().size(), 2u);
    EXPECT_EQ(prompter.texts()[0], "System Error. Please restart this program.");
}

TEST_F(NetworkSim, CancelEndsAWaitingSearchAtOnce)
{
    NetworkSettingEngine engine(prompter, loopbackSettings(port, 60000));
    NetworkSearchResult r;
    std::thread search([&] { r = engine.Search(); });
    std::this_thread::sleep_for(milliseconds(100));
    auto asked = std::chrono::steady_clock::now();
    engine.cancel();
    search.join();
    EXPECT_EQ(r.end, NetworkSearchResult::End::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(2000));
}
