// tavroctl plan/apply/capture/history against tavro-sim: a second apply changes nothing and
// sends the printer only read requests; the plan names exactly what the apply then changes,
// over several transports and states; a bad state file sends nothing at all; an apply killed
// in the middle is finished by the next one and the history shows it.
#include "BmpBuilder.h"
#include "SimProcess.h"
#include "SimTransport.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
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

// The printer's events that change nothing: answers to setup reads, connections, the
// printer check, a reset.
bool onlyReads(const std::string& event)
{
    if (event.find("\"cmd\":\"user-setting\"") != std::string::npos)
        return event.find("\"fn\":6") != std::string::npos;
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
    }
    // Every run gets its own XDG state folder (the record) and no profile in its folder.
    CliRun run(const std::string& env, const std::string& args)
    {
        return runTavroctl(tmp.path(), "XDG_STATE_HOME=" + shellQuote((tmp / "xdg").string()) + " " + env, args);
    }
    void write(const std::string& name, const std::string& text) { writeFileBytes(tmp / name, text); }
    TempDir tmp;
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
    std::vector<std::string> args = {"--family", "6", "--quiet"};
    args.insert(args.end(), t.simArgs.begin(), t.simArgs.end());
    SimProcess sim(args);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string env = t.env(sim), conn = t.conn(sim);
    write("shop.yaml", kFullState);

    CliRun plan = run(env, conn + " --json plan shop.yaml");
    ASSERT_EQ(plan.status, 2) << plan.out << plan.err;
    const json planned = json::parse(plan.out);
    CliRun first = run(env, conn + " --json apply shop.yaml");
    ASSERT_EQ(first.status, 2) << first.out << first.err;
    const json applied = json::parse(first.out);
    EXPECT_EQ(applied["status"], "changed");
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
    std::vector<std::string> args = {"--family", "6", "--quiet"};
    args.insert(args.end(), t.simArgs.begin(), t.simArgs.end());
    SimProcess sim(args);
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
    if (std::string(c.options).find("--force") == std::string::npos) {
        CliRun after = run(env, conn + " --json plan state.yaml " + c.options);
        EXPECT_EQ(after.status, 0) << after.out << after.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, StatePlanTable,
    testing::Combine(
        testing::Values("serial", "tcp"),
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
    SimProcess sim({"--family", "6", "--quiet", "--tcp", "127.0.0.1:0", "--stall-after", "3000", "--stall-ms", "4000"});
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
