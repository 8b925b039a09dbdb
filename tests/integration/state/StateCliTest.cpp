// tavroctl plan/apply/capture/history against tavro-sim: a second apply changes nothing and
// sends the printer only read requests; the plan names exactly what the apply then changes,
// over several transports and states; a bad state file sends nothing at all; an apply killed
// in the middle is finished by the next one and the history shows it. A network printer's
// module answers the LAN search on loopback: the search goes to 127.255.255.255 on a UDP port
// of the test's own, never to the LAN.
#include "BmpBuilder.h"
#include "FirmwareImages.h"
#include "NetTestSupport.h"
#include "SimProcess.h"
#include "SimTransport.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <sqlite3.h>
#include <unistd.h>

namespace {

using json = nlohmann::json;

bool simAvailable() { return ::access(SimProcess::defaultBinary().c_str(), X_OK) == 0; }

void picture(const TempDir& dir, const std::string& name, int w, int h)
{
    BmpSpec s;
    s.width = w;
    s.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            s.pixels.push_back(((x / 4 + y / 3) % 2) ? 0xFFFFFF : 0x000000);
    writeFileBytes(dir / name, asString(buildBmp(s)));
}

using Transport = SimTransport;
Transport transportOf(const std::string& name) { return simTransport(name, 300); }

// The network module of a TCP printer: its own loopback address (the tool receives on
// 127.0.0.1), its MAC as the simulator gives the first module.
constexpr const char* kModuleAddress = "127.0.110.1";
constexpr const char* kModuleMac = "02:5C:3A:00:00:01";

// tavro-sim's arguments for a TAVRO46/48 on a transport; over TCP with its network module.
std::vector<std::string> simArgsFor(const std::string& transport, int udpPort, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {"--family", "6", "--quiet"};
    if (transport == "tcp") {
        const std::string port = std::to_string(udpPort);
        args.insert(args.end(), {"--tcp", std::string(kModuleAddress) + ":0", "--udp", kModuleAddress, "--udp-port",
                                 port, "--udp-reply-port", port, "--net-restart-ms", "200"});
    } else {
        const auto t = transportOf(transport).simArgs;
        args.insert(args.end(), t.begin(), t.end());
    }
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The printer's events that change nothing: answers to setup reads, a LAN search,
// connections, the printer check, a reset.
bool onlyReads(const std::string& event)
{
    if (event.find("\"cmd\":\"user-setting\"") != std::string::npos)
        return event.find("\"fn\":6") != std::string::npos;
    if (event.find("\"cmd\":\"network\"") != std::string::npos)
        return event.find("\"command\":0") != std::string::npos;
    for (const char* harmless : {"\"cmd\":\"connect\"", "\"cmd\":\"disconnect\"", "\"cmd\":\"node\"", "\"cmd\":\"init\""})
        if (event.find(harmless) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> pathsOf(const json& changes)
{
    std::vector<std::string> paths;
    for (const auto& c : changes)
        paths.push_back(c.at("path").get<std::string>());
    return paths;
}

class StateCli : public testing::Test {
protected:
    void SetUp() override
    {
        if (!simAvailable())
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
        std::filesystem::create_directories(tmp / "xdg");
        picture(tmp, "head.bmp", 100, 50);
        picture(tmp, "foot.bmp", 40, 24);
        // Every tavroctl of the test searches for network printers on loopback only, on a
        // port of the test's own (the programs inherit the environment).
        udpPort = nettest::freeUdpPort();
        ASSERT_NE(udpPort, 0);
        ::setenv("TAVRO_NET_BROADCAST", "127.255.255.255", 1);
        ::setenv("TAVRO_NET_BIND", "127.0.0.1", 1);
        ::setenv("TAVRO_NET_PORT", std::to_string(udpPort).c_str(), 1);
    }
    // Every run gets its own XDG state folder (the record) and no profile in its folder.
    CliRun run(const std::string& env, const std::string& args)
    {
        return runTavroctl(tmp.path(), "XDG_STATE_HOME=" + shellQuote((tmp / "xdg").string()) + " " + env, args);
    }
    void write(const std::string& name, const std::string& text) { writeFileBytes(tmp / name, text); }
    // The history as "section:result" lines.
    std::vector<std::string> historyResults()
    {
        CliRun history = run("", "--json history");
        std::vector<std::string> results;
        EXPECT_EQ(history.status, 0) << history.err;
        const json rows = history.status == 0 ? json::parse(history.out)["history"] : json::array();
        for (const auto& row : rows)
            results.push_back(row["section"].get<std::string>() + ":" + row["result"].get<std::string>());
        return results;
    }
    TempDir tmp;
    int udpPort = 0;
};


const char* kFullState = R"(tavro: 1
model: TAVRO46/48
settings:
  speed: 150
  cut_mode: partial
  bell_type: 3
  emulation: epson
logos:
  files: [head.bmp, foot.bmp]
  center: [2]
logo_settings:
  top: {enabled: true, number: 1, align: center}
  bottom: {enabled: true, number: 2, align: left}
  power_on: false
)";

class StateCliTransport : public StateCli, public testing::WithParamInterface<std::string> {};

} // namespace

// Apply, then apply again: the second run exits 0 and the printer heard only read requests;
// plan then names nothing; capture writes a file that itself plans to nothing; the history
// lists the first run's sections.
TEST_P(StateCliTransport, SecondApplyChangesNothingAndOnlyReads)
{
    Transport t = transportOf(GetParam());
    SimProcess sim(simArgsFor(GetParam(), udpPort));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string env = t.env(sim), conn = t.conn(sim);
    write("shop.yaml", kFullState);
    // The record knows the printer by its MAC, its USB serial number, or else its port.
    const std::string identity = GetParam() == std::string("tcp")   ? std::string("mac:") + kModuleMac
                                 : GetParam() == std::string("usb") ? std::string("usb:SIM0000001")
                                                                    : sim.serialPort();

    CliRun plan = run(env, conn + " --json plan shop.yaml");
    ASSERT_EQ(plan.status, 2) << plan.out << plan.err;
    const json planned = json::parse(plan.out);
    CliRun first = run(env, conn + " --json apply shop.yaml");
    ASSERT_EQ(first.status, 2) << first.out << first.err;
    const json applied = json::parse(first.out);
    EXPECT_EQ(applied["status"], "changed");
    EXPECT_EQ(applied["printer"]["identity"], identity) << first.out;
    EXPECT_EQ(planned["printer"]["identity"], identity) << plan.out;
    EXPECT_EQ(pathsOf(applied["changes"]), pathsOf(planned["changes"])) << plan.out << "\n" << first.out;
    EXPECT_TRUE(applied["error"].is_null());
    for (const auto& c : applied["changes"])
        EXPECT_EQ(c["source"], c["path"].get<std::string>().rfind("settings.speed", 0) == 0 ||
                                       c["path"] == "settings.cut_mode" || c["path"] == "settings.bell_type"
                                   ? "printer"
                                   : "record")
            << c.dump();
    ASSERT_TRUE(sim.waitForEvent("logo-settings"));
    if (GetParam() == std::string("usb"))
        sim.waitForEvent("\"action\":\"back\"", std::chrono::milliseconds(10000), 2);

    const std::size_t before = sim.events().size();
    CliRun second = run(env, conn + " --json apply shop.yaml");
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(json::parse(second.out)["status"], "unchanged");
    const auto events = sim.events();
    bool asked = false;
    for (std::size_t i = before; i < events.size(); ++i) {
        EXPECT_TRUE(onlyReads(events[i])) << events[i];
        asked = asked || events[i].find("\"fn\":6") != std::string::npos;
    }
    EXPECT_TRUE(asked) << "the second apply did not read the settings";

    CliRun again = run(env, conn + " plan shop.yaml");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("nothing to change"), std::string::npos) << again.out;

    CliRun captured = run(env, conn + " capture captured.yaml");
    ASSERT_EQ(captured.status, 0) << captured.err;
    const std::string text = readFileBytes(tmp / "captured.yaml");
    for (const char* key : {"tavro: 1", "model: TAVRO46/48", "speed: 150", "emulation: epson", "head.bmp", "logo_settings"})
        EXPECT_NE(text.find(key), std::string::npos) << key << "\n" << text;
    CliRun replan = run(env, conn + " plan captured.yaml");
    EXPECT_EQ(replan.status, 0) << replan.out << replan.err << text;

    CliRun history = run("", "--json history");
    ASSERT_EQ(history.status, 0) << history.err;
    std::set<std::string> sections;
    const json rows = json::parse(history.out);
    for (const auto& row : rows["history"]) {
        sections.insert(row["section"].get<std::string>());
        EXPECT_EQ(row["result"], "changed") << row.dump();
        EXPECT_EQ(row["printer"], identity) << row.dump();
    }
    EXPECT_EQ(sections, (std::set<std::string>{"settings", "logos", "logo_settings"})) << history.out;
}

INSTANTIATE_TEST_SUITE_P(Transports, StateCliTransport, testing::Values("serial", "tcp", "usb"));

namespace {

struct PlanCase {
    const char* name;
    const char* state;
    const char* options; // extra apply/plan options
    std::vector<std::string> expected; // paths the plan names on a fresh printer
};

class StatePlanTable : public StateCli, public testing::WithParamInterface<std::tuple<std::string, PlanCase>> {};

} // namespace

// The plan names exactly the changes the apply then makes, and afterwards nothing is left.
TEST_P(StatePlanTable, PlanPredictsTheApply)
{
    const auto& [transport, c] = GetParam();
    Transport t = transportOf(transport);
    SimProcess sim(simArgsFor(transport, udpPort));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string env = t.env(sim), conn = t.conn(sim);
    write("state.yaml", c.state);

    CliRun plan = run(env, conn + " --json plan state.yaml " + c.options);
    ASSERT_TRUE(plan.status == 0 || plan.status == 2) << plan.out << plan.err;
    const json planned = json::parse(plan.out);
    EXPECT_EQ(pathsOf(planned["changes"]), c.expected) << plan.out;
    CliRun apply = run(env, conn + " --json apply state.yaml " + c.options);
    ASSERT_EQ(apply.status, c.expected.empty() ? 0 : 2) << apply.out << apply.err;
    EXPECT_EQ(pathsOf(json::parse(apply.out)["changes"]), c.expected) << apply.out;
    if (transport == "usb") {
        // The USB printer restarts after the settings and after the logo settings; its node
        // is away meanwhile.
        const int restarts = int(std::count(c.expected.begin(), c.expected.end(), "logo_settings")) +
                             int(std::any_of(c.expected.begin(), c.expected.end(),
                                             [](const std::string& p) { return p.rfind("settings.", 0) == 0; }));
        if (restarts > 0)
            sim.waitForEvent("\"action\":\"back\"", std::chrono::milliseconds(10000), std::size_t(restarts));
    }
    if (std::string(c.options).find("--force") == std::string::npos) {
        CliRun after = run(env, conn + " --json plan state.yaml " + c.options);
        EXPECT_EQ(after.status, 0) << after.out << after.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, StatePlanTable,
    testing::Combine(
        testing::Values("serial", "tcp", "usb"),
        testing::Values(
            PlanCase{"factory", "tavro: 1\nsettings: {paper_width: 80}\n", "", {}},
            PlanCase{"one_setting", "tavro: 1\nsettings:\n  speed: 150\n  paper_width: 80\n", "", {"settings.speed"}},
            PlanCase{"written_only", "tavro: 1\nsettings: {emulation: star, speed: 150}\n", "",
                     {"settings.emulation", "settings.speed"}},
            PlanCase{"json_file", "{\"tavro\": 1, \"logo_settings\": {\"power_on\": true}}", "", {"logo_settings"}},
            PlanCase{"only_logos", "tavro: 1\nsettings: {speed: 150}\nlogos: {files: [head.bmp]}\n", "--only logos",
                     {"logos"}},
            PlanCase{"forced", "tavro: 1\nsettings: {paper_width: 80}\n", "--force settings", {"settings.paper_width"}})),
    [](const auto& info) { return std::get<0>(info.param) + "_" + std::get<1>(info.param).name; });

// The network section is compared with the module's answer to the search (address
// 127.0.110.1, mask 255.0.0.0, gateway 127.0.0.1, DHCP off); none of these moves the printer.
INSTANTIATE_TEST_SUITE_P(
    NetworkStates, StatePlanTable,
    testing::Combine(
        testing::Values("tcp"),
        testing::Values(
            PlanCase{"network_same", "tavro: 1\nnetwork: {ip: 127.0.110.1, mask: 255.0.0.0, gateway: 127.0.0.1}\n", "", {}},
            PlanCase{"network_gateway", "tavro: 1\nnetwork: {ip: 127.0.110.1, mask: 255.0.0.0, gateway: 127.0.0.254}\n",
                     "", {"network.gateway"}},
            PlanCase{"network_mask", "tavro: 1\nnetwork: {ip: 127.0.110.1, mask: 255.255.0.0, gateway: 127.0.0.254}\n",
                     "", {"network.mask", "network.gateway"}},
            PlanCase{"network_dhcp", "tavro: 1\nnetwork: {dhcp: true}\n", "", {"network.dhcp"}},
            PlanCase{"network_last", "tavro: 1\nnetwork: {dhcp: true}\nsettings: {speed: 150}\n", "",
                     {"settings.speed", "network.dhcp"}},
            PlanCase{"network_forced", "tavro: 1\nnetwork: {ip: 127.0.110.1, mask: 255.0.0.0, gateway: 127.0.0.1}\n",
                     "--force network", {"network.dhcp", "network.ip", "network.mask", "network.gateway"}})),
    [](const auto& info) { return std::get<0>(info.param) + "_" + std::get<1>(info.param).name; });

// A new address: the change goes to the module by its MAC, is verified when the module
// answers the search from its new address, and the printer is then reached there; the
// record follows the MAC, so the next apply at the new address changes nothing and only
// reads. Capture writes the section back, and a printer that is not a network printer is
// refused one.
TEST_F(StateCli, NetworkAddressChangeIsVerifiedAtTheNewAddress)
{
    SimProcess sim(simArgsFor("tcp", udpPort));
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string tcp = std::to_string(sim.tcpPort());
    const std::string oldConn = "--device 'TAVRO46/48 E-II' --port tcp://127.0.110.1:" + tcp;
    const std::string newConn = "--device 'TAVRO46/48 E-II' --port tcp://127.0.110.2:" + tcp;
    write("move.yaml", "tavro: 1\nnetwork:\n  ip: 127.0.110.2\n  mask: 255.0.0.0\n  gateway: 127.0.0.1\n");

    CliRun refused = run("", "--port file:out.prn plan move.yaml");
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("move.yaml:2: network: the file out.prn is not a network printer"), std::string::npos)
        << refused.err;

    CliRun apply = run("", oldConn + " --json apply move.yaml");
    ASSERT_EQ(apply.status, 2) << apply.out << apply.err;
    const json applied = json::parse(apply.out);
    EXPECT_EQ(applied["printer"]["identity"], std::string("mac:") + kModuleMac);
    ASSERT_EQ(applied["changes"].size(), 1u) << apply.out;
    EXPECT_EQ(applied["changes"][0], (json{{"path", "network.ip"}, {"from", "127.0.110.1"}, {"to", "127.0.110.2"},
                                           {"source", "printer"}}));
    EXPECT_TRUE(sim.waitForEvent("\"address\":\"127.0.110.2\""));
    EXPECT_TRUE(sim.waitForEvent("\"cmd\":\"tcp-move\""));

    const std::size_t before = sim.events().size();
    CliRun again = run("", newConn + " --json apply move.yaml");
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(json::parse(again.out)["printer"]["identity"], std::string("mac:") + kModuleMac);
    const auto events = sim.events();
    for (std::size_t i = before; i < events.size(); ++i)
        EXPECT_TRUE(onlyReads(events[i])) << events[i];

    CliRun history = run("", "--json history");
    ASSERT_EQ(history.status, 0);
    const json rows = json::parse(history.out)["history"];
    ASSERT_EQ(rows.size(), 1u) << history.out;
    EXPECT_EQ(rows[0]["printer"], std::string("mac:") + kModuleMac);
    EXPECT_EQ(rows[0]["section"], "network");
    EXPECT_EQ(rows[0]["before"], "network.ip=127.0.110.1");
    EXPECT_EQ(rows[0]["result"], "changed");
    EXPECT_EQ(rows[0]["port"], "tcp 127.0.110.1:" + tcp) << "where the run reached the printer";

    CliRun captured = run("", newConn + " capture back.yaml");
    ASSERT_EQ(captured.status, 0) << captured.err;
    const std::string text = readFileBytes(tmp / "back.yaml");
    EXPECT_NE(text.find("\"127.0.110.2\""), std::string::npos) << text;
    EXPECT_NE(text.find("port: " + tcp), std::string::npos) << text;
    CliRun replan = run("", newConn + " plan back.yaml");
    EXPECT_EQ(replan.status, 0) << replan.out << replan.err << text;
}

// The firmware section end to end: the download, the wait until the restarted printer
// answers, a new plan for the settings; the next apply knows the image from the record.
TEST_F(StateCli, FirmwareDownloadWaitsForThePrinterThenPlansAgain)
{
    SimProcess sim(simArgsFor("tcp", udpPort, {"--flash-busy-ms", "100", "--restart-ms", "200"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    writeTestImage(tmp / "fw.T25", makeTestImage());
    write("fw.yaml", "tavro: 1\nmodel: TAVRO46/48\nfirmware: {file: fw.T25, areas: [program]}\nsettings: {speed: 150}\n");
    const std::string conn = "--device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort());

    CliRun first = run("", conn + " --json apply fw.yaml");
    ASSERT_EQ(first.status, 2) << first.out << first.err;
    const json applied = json::parse(first.out);
    EXPECT_EQ(pathsOf(applied["changes"]), (std::vector<std::string>{"firmware.program", "settings.speed"}));
    EXPECT_EQ(applied["changes"][0]["source"], "record");
    const auto events = sim.events();
    auto firstIndex = [&](const std::string& needle) {
        for (std::size_t i = 0; i < events.size(); ++i)
            if (events[i].find(needle) != std::string::npos)
                return i;
        return events.size();
    };
    const std::size_t complete = firstIndex("\"state\":\"complete\""), restart = firstIndex("\"reason\":\"firmware\""),
                      written = firstIndex("\"fn\":5");
    ASSERT_LT(complete, events.size()) << "the area was not taken whole";
    ASSERT_LT(restart, events.size());
    ASSERT_LT(written, events.size());
    EXPECT_LT(complete, restart);
    EXPECT_LT(restart, written) << "the settings went out before the printer was back";

    CliRun second = run("", conn + " --json apply fw.yaml");
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    CliRun forced = run("", conn + " --json plan fw.yaml --force firmware");
    ASSERT_EQ(forced.status, 2) << forced.out << forced.err;
    const json change = json::parse(forced.out)["changes"][0];
    EXPECT_EQ(change["path"], "firmware.program");
    EXPECT_EQ(change["from"].get<std::string>().rfind("digest ", 0), 0u) << change.dump();
}

namespace {

struct BadCase {
    const char* name;
    const char* state;
    const char* device;
    const char* expected; // in the error line, with the key
};

class StateBadFile : public StateCli, public testing::WithParamInterface<BadCase> {};

} // namespace

// A bad state file: exit 1 with the key and its line, and not one byte to the printer.
TEST_P(StateBadFile, RefusedBeforeAByteIsSent)
{
    const BadCase& c = GetParam();
    SimProcess sim({"--family", "6", "--quiet", "--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    write("notapicture.bmp", "this is text");
    write("bad.yaml", c.state);
    const std::string tcp = "--port tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort());
    for (const char* command : {"plan", "apply"}) {
        CliRun r = run("", std::string("--device '") + c.device + "' " + tcp + " " + command + " bad.yaml");
        EXPECT_EQ(r.status, 1) << command << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        CliRun f = run("", std::string("--device '") + c.device + "' --port file:out.prn " + command + " bad.yaml");
        EXPECT_EQ(f.status, 1) << f.err;
    }
    EXPECT_TRUE(sim.events().empty()) << sim.events().front();
    EXPECT_FALSE(std::filesystem::exists(tmp / "out.prn"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, StateBadFile,
    testing::Values(
        BadCase{"unknown_key", "tavro: 1\ncolour: red\n", "TAVRO46/48 E-II", "bad.yaml:2: colour: unknown key"},
        BadCase{"unknown_setting", "tavro: 1\nsettings:\n  speeed: 150\n", "TAVRO46/48 E-II", "bad.yaml:3: settings.speeed"},
        BadCase{"out_of_range", "tavro: 1\nsettings:\n  margin: 900\n", "TAVRO46/48 E-II", "bad.yaml:3: settings.margin"},
        BadCase{"not_offered_by_model", "tavro: 1\nsettings:\n  speed: 220\n", "TAVRO36/38 E-II",
                "bad.yaml:3: settings.speed"},
        BadCase{"schema", "tavro: 2\n", "TAVRO46/48 E-II", "bad.yaml:1: tavro: schema version 2"},
        BadCase{"missing_picture", "tavro: 1\nlogos:\n  files: [gone.bmp]\n", "TAVRO46/48 E-II",
                "bad.yaml:3: logos.files[1]: "},
        BadCase{"unreadable_picture", "tavro: 1\nlogos:\n  files:\n    - notapicture.bmp\n", "TAVRO46/48 E-II",
                "bad.yaml:4: logos.files[1]: "},
        BadCase{"digest_differs",
                "tavro: 1\nlogos:\n  files: [head.bmp]\n  sha256:\n    head.bmp: "
                "\"0000000000000000000000000000000000000000000000000000000000000000\"\n",
                "TAVRO46/48 E-II", "bad.yaml:5: logos.sha256.head.bmp: the file's SHA-256 is"},
        BadCase{"logo_number", "tavro: 1\nlogo_settings:\n  top: {enabled: true, number: 300}\n", "TAVRO46/48 E-II",
                "bad.yaml:3: logo_settings.top.number: 300 is out of range"},
        BadCase{"model_mismatch", "tavro: 1\nmodel: TAVRO15\n", "TAVRO46/48 E-II", "bad.yaml:2: model:"},
        BadCase{"missing_firmware", "tavro: 1\nfirmware:\n  file: fw.T25\n", "TAVRO46/48 E-II",
                "bad.yaml:3: firmware.file: "},
        BadCase{"syntax", "tavro: 1\nsettings: {speed: 150\n", "TAVRO46/48 E-II", "bad.yaml:"}),
    [](const auto& info) { return std::string(info.param.name); });

// The bytes of a file port: every section goes out as its own action (a file holds the last
// one), the record then knows them all, and a second apply writes nothing.
TEST_F(StateCli, FilePortGetsTheBytesOnceAndTheRecordRemembers)
{
    write("state.yaml", "tavro: 1\nsettings: {speed: 150}\nlogo_settings:\n  top: {enabled: true, number: 3}\n"
                        "  power_on: true\n  bottom: {enabled: false, number: 1, align: left}\n");
    CliRun plan = run("", "--port file:out.prn plan state.yaml");
    EXPECT_EQ(plan.status, 2) << plan.err;
    EXPECT_NE(plan.out.find("settings.speed: none -> 150 (from record)"), std::string::npos) << plan.out;
    CliRun first = run("", "--port file:out.prn apply state.yaml");
    ASSERT_EQ(first.status, 2) << first.out << first.err;
    EXPECT_EQ(readFileBytes(tmp / "out.prn"), std::string("\x1B\x40\x1C\x01\x30\x01\x03\x05\x00\x01\x00\x1C\x02\x30", 14));
    std::filesystem::remove(tmp / "out.prn");
    CliRun second = run("", "--port file:out.prn apply state.yaml");
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_FALSE(std::filesystem::exists(tmp / "out.prn"));

    // Forced, the settings go out again, bracketed by enter and end user setting mode.
    CliRun forced = run("", "--port file:set.prn apply state.yaml --only settings --force settings");
    EXPECT_EQ(forced.status, 2) << forced.out << forced.err;
    const std::string set = readFileBytes(tmp / "set.prn");
    EXPECT_EQ(set.rfind(std::string("\x1D\x28\x45\x03\x00\x01IN", 8), 0), 0u) << set.size();
    EXPECT_NE(set.find(std::string("\x1D\x28\x45\x04\x00\x02OUT", 9)), std::string::npos);
}

// kill -9 while the printer is taking the logos: the next apply finishes the job (the logos
// again, nothing else), and the history shows the killed run as interrupted.
TEST_F(StateCli, KilledApplyIsFinishedByTheNext)
{
    SimProcess sim(simArgsFor("tcp", udpPort, {"--stall-after", "3000", "--stall-ms", "4000"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    picture(tmp, "big.bmp", 576, 60);
    write("state.yaml", "tavro: 1\nsettings: {speed: 150}\nlogos: {files: [big.bmp, big.bmp]}\n");
    const std::string conn = "--device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort());
    BackgroundTavroctl killed(tmp.path(), "XDG_STATE_HOME=" + shellQuote((tmp / "xdg").string()),
                              conn + " apply state.yaml");
    ASSERT_TRUE(killed.started());
    ASSERT_TRUE(sim.waitForEvent("\"stall\"", std::chrono::milliseconds(30000)));
    ASSERT_TRUE(killed.signal(SIGKILL));
    killed.wait(std::chrono::milliseconds(10000));

    CliRun next = run("", conn + " --json apply state.yaml");
    ASSERT_EQ(next.status, 2) << next.out << next.err;
    EXPECT_EQ(pathsOf(json::parse(next.out)["changes"]), std::vector<std::string>{"logos"}) << next.out;
    CliRun history = run("", "--json history");
    ASSERT_EQ(history.status, 0) << history.err;
    std::vector<std::string> results;
    const json rows = json::parse(history.out);
    for (const auto& row : rows["history"])
        results.push_back(row["section"].get<std::string>() + ":" + row["result"].get<std::string>());
    EXPECT_EQ(results, (std::vector<std::string>{"settings:changed", "logos:interrupted", "logos:changed"}))
        << history.out;
}

namespace {

struct KillCase {
    const char* step;
    const char* event; // the simulator's event that shows the step began (or its bytes arrived)
};

class StateKilled : public StateCli, public testing::WithParamInterface<KillCase> {};

} // namespace

// kill -9 at each step of a whole apply (the LAN search that identifies the printer, the
// firmware download, the wait for the restarted printer, the settings, the logos, the logo
// settings, the network change): the next apply still has something to do and finishes it,
// the one after that has nothing left, the history shows the killed run as interrupted, and
// the record is whole. The network module takes set requests without answering them, so a
// killed run never gets as far as the second packet that applies the change.
TEST_P(StateKilled, NextApplyConvergesAndHistoryShowsTheKilledRun)
{
    const KillCase& c = GetParam();
    SimProcess sim(simArgsFor("tcp", udpPort, {"--flash-busy-ms", "100", "--restart-ms", "200", "--net-silent-set"}));
    ASSERT_TRUE(sim.ok()) << sim.error();
    writeTestImage(tmp / "fw.T25", makeTestImage());
    write("all.yaml", "tavro: 1\nmodel: TAVRO46/48\nfirmware: {file: fw.T25}\nsettings: {speed: 150, emulation: star}\n"
                      "logos: {files: [head.bmp]}\nlogo_settings: {top: {enabled: true, number: 1}}\n"
                      "network: {ip: 127.0.110.1, mask: 255.0.0.0, gateway: 127.0.0.254}\n");
    const std::string xdg = "XDG_STATE_HOME=" + shellQuote((tmp / "xdg").string());
    const std::string conn = "--device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort());
    {
        // A long silence: the killed run waits for the set request's answer until it is killed.
        BackgroundTavroctl killed(tmp.path(), xdg, conn + " apply all.yaml --udp-timeout-ms 20000");
        ASSERT_TRUE(killed.started());
        ASSERT_TRUE(sim.waitForEvent(c.event, std::chrono::milliseconds(60000))) << killed.errorText();
        ASSERT_TRUE(killed.signal(SIGKILL));
        const CliRun gone = killed.wait(std::chrono::milliseconds(10000));
        EXPECT_EQ(gone.status, -1) << "it ended before the kill: " << gone.out << gone.err;
    }
    CliRun next = run("", conn + " --json apply all.yaml");
    EXPECT_EQ(next.status, 2) << next.out << next.err;
    CliRun last = run("", conn + " --json apply all.yaml");
    EXPECT_EQ(last.status, 0) << last.out << last.err;

    const auto results = historyResults();
    EXPECT_TRUE(std::any_of(results.begin(), results.end(),
                            [](const std::string& r) { return r.find(":interrupted") != std::string::npos; }))
        << testing::PrintToString(results);
    EXPECT_EQ(std::count_if(results.begin(), results.end(),
                            [](const std::string& r) { return r.find(":running") != std::string::npos; }),
              0)
        << testing::PrintToString(results);

    std::filesystem::path file;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp / "xdg"))
        if (entry.path().filename() == "record.sqlite")
            file = entry.path();
    ASSERT_FALSE(file.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::string check;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += values[0] ? values[0] : "";
            return 0;
        },
        &check, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(check, "ok");
}

INSTANTIATE_TEST_SUITE_P(Steps, StateKilled,
                         testing::Values(KillCase{"search", "\"cmd\":\"network\""},
                                         KillCase{"firmware", "\"state\":\"unfinished\""},
                                         KillCase{"wait", "\"reason\":\"firmware\""},
                                         KillCase{"settings", "\"fn\":5"},
                                         KillCase{"logos", "\"cmd\":\"nv-define\""},
                                         KillCase{"logo_settings", "\"cmd\":\"logo-settings\""},
                                         KillCase{"network", "\"command\":2"}),
                         [](const auto& info) { return std::string(info.param.step); });
