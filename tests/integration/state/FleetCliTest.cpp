// tavroctl apply --targets against a fleet of tavro-sim processes on loopback addresses
// 127.0.1.k: a mixed fleet with faults gets an exact summary while the good printers change
// and verify; the canary and the failure budget stop the run; a run killed with SIGKILL is
// resumed without a second firmware download; Ctrl-C cancels safely; the LAN search gives the
// printers; a bad printer list sends nothing.
#include "BmpBuilder.h"
#include "FirmwareImages.h"
#include "NetTestSupport.h"
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using nettest::freeUdpPort;

bool simAvailable() { return ::access(SimProcess::defaultBinary().c_str(), X_OK) == 0; }

std::string tcpOf(const SimProcess& sim) { return "tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort()); }

// A simulated TAVRO46/48 network printer on its own loopback address, with fault switches.
std::unique_ptr<SimProcess> printerAt(int k, std::vector<std::string> faults = {}, int family = 6)
{
    std::vector<std::string> args = {"--family", std::to_string(family), "--quiet", "--tcp",
                                     "127.0.1." + std::to_string(k) + ":0"};
    args.insert(args.end(), faults.begin(), faults.end());
    return std::make_unique<SimProcess>(args);
}

int count(const std::vector<std::string>& events, const std::string& needle)
{
    int n = 0;
    for (const auto& e : events)
        n += e.find(needle) != std::string::npos;
    return n;
}

// The printer lines and the summary of `--json` output; every line must be JSON.
struct FleetJson {
    std::map<std::string, json> printers;
    json summary;
};

FleetJson parseLines(const std::string& out)
{
    FleetJson r;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        if (line.empty())
            continue;
        const json j = json::parse(line); // throws, failing the test, on a line that is not JSON
        if (j.contains("summary"))
            r.summary = j;
        else
            r.printers[j.at("name").get<std::string>()] = j;
    }
    return r;
}

class FleetCli : public testing::Test {
protected:
    void SetUp() override
    {
        if (!simAvailable())
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
        std::filesystem::create_directories(tmp / "xdg");
    }
    std::string env() const { return "XDG_STATE_HOME=" + shellQuote((tmp / "xdg").string()); }
    CliRun run(const std::string& args) { return runTavroctl(tmp.path(), env(), args); }
    void write(const std::string& name, const std::string& text) { writeFileBytes(tmp / name, text); }
    // A printer list: one "{name: N, port: P, ...}" entry per line.
    void list(const std::vector<std::string>& entries)
    {
        std::string text = "printers:\n";
        for (const auto& e : entries)
            text += "  - " + e + "\n";
        write("fleet.yaml", text);
    }
    TempDir tmp;
};

} // namespace

// Six printers, four of them faulty: the summary counts them exactly, each failure says why,
// the good two changed (one with its own speed) and a plan afterwards finds them unchanged;
// the journal shows the run as it went.
TEST_F(FleetCli, MixedFleetWithFaults)
{
    auto good1 = printerAt(1), good2 = printerAt(2);
    auto hangsUp = printerAt(3, {"--hangup-after", "8"});
    auto stalls = printerAt(4, {"--stall-after", "0", "--stall-ms", "60000"});
    auto refuses = printerAt(5, {"--no-answer", "249"}); // the speed is never confirmed
    for (auto* s : {good1.get(), good2.get(), hangsUp.get(), stalls.get(), refuses.get()})
        ASSERT_TRUE(s->ok()) << s->error();
    BmpSpec picture;
    picture.width = 64;
    picture.height = 32;
    for (int i = 0; i < 64 * 32; ++i)
        picture.pixels.push_back(i % 3 ? 0xFFFFFF : 0x000000);
    writeFileBytes(tmp / "head.bmp", asString(buildBmp(picture)));
    write("shop.yaml", "tavro: 1\nsettings:\n  speed: 150\n  cut_mode: partial\nlogos: {files: [head.bmp]}\n");
    list({"{name: good-1, port: '" + tcpOf(*good1) + "', tags: [shop]}",
          "{name: good-2, port: '" + tcpOf(*good2) + "', tags: [shop], settings: {speed: 200}}",
          "{name: hangs-up, port: '" + tcpOf(*hangsUp) + "'}", "{name: stalls, port: '" + tcpOf(*stalls) + "'}",
          "{name: refuses, port: '" + tcpOf(*refuses) + "'}",
          // Nothing listens there: the simulators bind their own addresses only.
          "{name: away, port: 'tcp://127.0.1.6:" + std::to_string(good1->tcpPort()) + "'}"});

    CliRun r = run("--device 'TAVRO46/48 E-II' --stall 2 --json apply shop.yaml --targets fleet.yaml --parallel 3 "
                   "--timeout 2");
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    const FleetJson out = parseLines(r.out);
    ASSERT_EQ(out.printers.size(), 6u) << r.out;
    EXPECT_EQ(out.summary["summary"], (json{{"changed", 2}, {"unchanged", 0}, {"failed", 4}, {"partial", 0},
                                            {"cancelled", 0}, {"not_started", 0}}))
        << out.summary.dump();
    EXPECT_EQ(out.summary["run"], 1);
    EXPECT_EQ(out.summary["exit"], 6);
    for (const char* name : {"good-1", "good-2"}) {
        const json& p = out.printers.at(name);
        EXPECT_EQ(p["status"], "changed") << p.dump();
        EXPECT_TRUE(p["error"].is_null()) << p.dump();
        std::set<std::string> paths;
        for (const auto& c : p["changes"])
            paths.insert(c["path"].get<std::string>());
        // cut_mode partial is what the printer holds already.
        EXPECT_EQ(paths, (std::set<std::string>{"settings.speed", "logos"})) << p.dump();
    }
    EXPECT_EQ(out.printers.at("good-1")["identity"], "tcp:127.0.1.1:" + std::to_string(good1->tcpPort()));
    for (const auto& c : out.printers.at("good-2")["changes"]) {
        if (c["path"] == "settings.speed") {
            EXPECT_EQ(c["to"], "200");
        }
    }
    for (const char* name : {"hangs-up", "stalls", "refuses", "away"}) {
        EXPECT_EQ(out.printers.at(name)["status"], "failed") << out.printers.at(name).dump();
        EXPECT_TRUE(out.printers.at(name)["error"].is_string());
    }
    EXPECT_NE(out.printers.at("refuses")["error"].get<std::string>().find("speed"), std::string::npos)
        << out.printers.at("refuses").dump();
    // Both good printers got the one prepared picture.
    EXPECT_TRUE(good1->waitForEvent("nv-define"));
    EXPECT_TRUE(good2->waitForEvent("nv-define"));

    CliRun again = run("--device 'TAVRO46/48 E-II' --json plan shop.yaml --targets fleet.yaml --limit shop");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    const FleetJson planned = parseLines(again.out);
    EXPECT_EQ(planned.printers.at("good-1")["status"], "unchanged");
    EXPECT_EQ(planned.printers.at("good-2")["status"], "unchanged");
    EXPECT_EQ(planned.printers.count("refuses"), 0u);

    CliRun history = run("--json history --run 1");
    ASSERT_EQ(history.status, 0) << history.err;
    const json shown = json::parse(history.out);
    EXPECT_EQ(shown["status"], "finished");
    ASSERT_EQ(shown["printers"].size(), 6u);
    for (const auto& p : shown["printers"]) {
        EXPECT_EQ(p["status"], out.printers.at(p["name"].get<std::string>())["status"]) << p.dump();
        if (p["name"] == "good-1") {
            ASSERT_FALSE(p["steps"].empty());
            for (const auto& s : p["steps"])
                EXPECT_EQ(s["result"], "done") << s.dump();
        }
    }
}

namespace {

struct StopCase {
    const char* name;
    const char* options;
    std::vector<std::string> order;    // "bad", "good-a", "good-b": the list's order
    std::vector<std::string> expected; // statuses in that order
    int exit;
};

class FleetStops : public FleetCli, public testing::WithParamInterface<StopCase> {};

} // namespace

// The canary and the failure budget: the printers not started hear nothing at all.
TEST_P(FleetStops, NothingReachesThePrintersNotStarted)
{
    const StopCase& c = GetParam();
    std::map<std::string, std::unique_ptr<SimProcess>> sims;
    sims["bad"] = printerAt(7, {"--no-answer", "249"});
    sims["good-a"] = printerAt(8);
    sims["good-b"] = printerAt(9);
    std::vector<std::string> entries;
    for (const auto& name : c.order) {
        ASSERT_TRUE(sims[name]->ok()) << sims[name]->error();
        entries.push_back("{name: " + name + ", port: '" + tcpOf(*sims[name]) + "'}");
    }
    list(entries);
    write("shop.yaml", "tavro: 1\nsettings: {speed: 150}\n");
    CliRun r = run(std::string("--device 'TAVRO46/48 E-II' --json apply shop.yaml --targets fleet.yaml --timeout 2 ") +
                   c.options);
    EXPECT_EQ(r.status, c.exit) << r.out << r.err;
    const FleetJson out = parseLines(r.out);
    for (std::size_t i = 0; i < c.order.size(); ++i) {
        EXPECT_EQ(out.printers.at(c.order[i])["status"], c.expected[i]) << c.order[i] << ": " << r.out;
        if (c.expected[i] == "not_started") {
            EXPECT_TRUE(sims[c.order[i]]->events().empty()) << c.order[i] << ": " << sims[c.order[i]]->events().front();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FleetStops,
    testing::Values(StopCase{"canary", "--canary 1", {"bad", "good-a", "good-b"}, {"failed", "not_started", "not_started"}, 4},
                    StopCase{"canary_passes", "--canary 1 --parallel 2", {"good-a", "bad", "good-b"},
                             {"changed", "failed", "changed"}, 6},
                    StopCase{"failure_budget", "--parallel 1 --max-failures 1", {"good-a", "bad", "good-b"},
                             {"changed", "failed", "not_started"}, 6}),
    [](const auto& info) { return std::string(info.param.name); });

// SIGKILL after every firmware download ended, while the settings go out: the resumed run
// finishes every printer, and no printer takes a second firmware download after its first one
// completed (the simulators' event logs tell).
TEST_F(FleetCli, KilledRunResumesWithoutASecondDownload)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> entries;
    for (int k = 11; k <= 13; ++k) {
        sims.push_back(printerAt(k, {"--flash-busy-ms", "4000", "--restart-ms", "0"}, 5));
        ASSERT_TRUE(sims.back()->ok()) << sims.back()->error();
        entries.push_back("{name: p" + std::to_string(k) + ", port: '" + tcpOf(*sims.back()) + "'}");
    }
    list(entries);
    writeTestImage(tmp / "fw.T25", makeTestImage());
    write("shop.yaml", "tavro: 1\nmodel: TAVRO36/38\nfirmware: {file: fw.T25, areas: [program]}\n"
                       "settings: {cut_mode: full}\n");
    const std::string apply = "--device 'TAVRO36/38 E-II' --json apply shop.yaml --targets fleet.yaml";
    BackgroundTavroctl killed(tmp.path(), env(), apply);
    ASSERT_TRUE(killed.started());
    // Until the journal says every firmware download ended (then the record has them).
    int downloaded = 0;
    std::string seen;
    for (int i = 0; i < 900 && downloaded < 3; ++i) {
        CliRun h = run("--json history --run 1");
        seen = h.out + h.err;
        downloaded = 0;
        const json shown = h.status == 0 ? json::parse(h.out) : json::object();
        if (shown.contains("printers"))
            for (const auto& p : shown["printers"])
                for (const auto& s : p["steps"])
                    downloaded += s["step"] == "firmware.program" && s["result"] == "done";
        if (downloaded < 3)
            std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(downloaded, 3) << seen << killed.errorText();
    ASSERT_TRUE(killed.signal(SIGKILL));
    killed.wait(10s);
    // The printers run their new firmware before the resumed run begins.
    for (const auto& sim : sims)
        ASSERT_TRUE(sim->waitForEvent("\"cmd\":\"restart\"", 40s)) << sim->tcpHost();

    CliRun shown = run("--json history --run 1");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(json::parse(shown.out)["status"], "interrupted") << shown.out;

    CliRun resumed = run(apply + " --resume 1");
    EXPECT_EQ(resumed.status, 2) << resumed.out << resumed.err;
    const FleetJson out = parseLines(resumed.out);
    EXPECT_EQ(out.summary["run"], 2) << resumed.out;
    for (const auto& [name, p] : out.printers)
        EXPECT_EQ(p["status"], "changed") << p.dump();
    for (const auto& sim : sims) {
        const auto events = sim->events();
        EXPECT_EQ(count(events, "\"state\":\"complete\""), 1) << sim->tcpHost();
        EXPECT_EQ(count(events, "\"detail\":\"erasing\""), count(events, "\"state\":\"complete\"")) << sim->tcpHost();
    }
    CliRun nothing = run(apply + " --resume 2");
    EXPECT_EQ(nothing.status, 0) << nothing.out << nothing.err;
    EXPECT_EQ(json::parse(run("--json history --run 2").out)["resumes"], 1);
}

namespace {

struct BadFleet {
    const char* name;
    const char* entries; // the list after "printers:\n", PORT standing for the simulator's port
    const char* options;
    const char* expected;
};

class FleetBadList : public FleetCli, public testing::WithParamInterface<BadFleet> {};

} // namespace

// A bad list, a setting the model does not offer, a --limit that names nothing, one printer
// listed twice: exit 1 with the line, nothing sent, no run journaled.
TEST_P(FleetBadList, RefusedBeforeAByteIsSent)
{
    const BadFleet& c = GetParam();
    auto sim = printerAt(20);
    ASSERT_TRUE(sim->ok()) << sim->error();
    std::string entries = c.entries;
    for (std::size_t at; (at = entries.find("PORT")) != std::string::npos;)
        entries.replace(at, 4, tcpOf(*sim));
    write("fleet.yaml", "printers:\n" + entries);
    write("shop.yaml", "tavro: 1\nsettings: {cut_mode: partial}\n");
    CliRun r = run(std::string("--device 'TAVRO36/38 E-II' apply shop.yaml --targets fleet.yaml ") + c.options);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    EXPECT_TRUE(sim->events().empty()) << sim->events().front();
    EXPECT_EQ(run("history --run 1").status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FleetBadList,
    testing::Values(
        BadFleet{"unknown_key", "  - {name: a, port: 'PORT'}\n  - {name: b, port: 'PORT', colour: red}\n", "",
                 "fleet.yaml:3: printers[2].colour: unknown key"},
        BadFleet{"twice", "  - {name: a, port: 'PORT'}\n  - {name: a, port: /dev/ttyS0}\n", "",
                 "fleet.yaml:3: printers[2].name"},
        BadFleet{"bad_port", "  - {name: a, port: 'PORT'}\n  - {name: b, port: 'tcp://127.0.1.20:80'}\n", "",
                 "fleet.yaml:3: printers[b].port: "},
        BadFleet{"not_offered", "  - {name: a, port: 'PORT'}\n  - name: b\n    port: 'PORT'\n    settings:\n      speed: 220\n",
                 "", "fleet.yaml:6: printers[b].settings.speed"},
        BadFleet{"same_printer", "  - {name: a, port: 'PORT'}\n  - {name: b, port: 'PORT'}\n", "",
                 "printers[b]: the same printer as a"},
        BadFleet{"limit_names_nothing", "  - {name: a, port: 'PORT', tags: [bar]}\n", "--limit kitchen",
                 "--limit kitchen: no printer"}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C while one printer stalls in the middle of its pictures: it is cancelled safely and
// the summary says what it holds; the printer waiting for its turn is never started.
TEST_F(FleetCli, CtrlCCancelsTheRunningAndStartsNoMore)
{
    auto stalls = printerAt(15, {"--stall-after", "3000", "--stall-ms", "60000"});
    auto waiting = printerAt(16);
    ASSERT_TRUE(stalls->ok()) << stalls->error();
    ASSERT_TRUE(waiting->ok()) << waiting->error();
    BmpSpec picture;
    picture.width = 576;
    picture.height = 60;
    for (int i = 0; i < 576 * 60; ++i)
        picture.pixels.push_back((i / 7) % 2 ? 0xFFFFFF : 0x000000);
    writeFileBytes(tmp / "big.bmp", asString(buildBmp(picture)));
    write("shop.yaml", "tavro: 1\nlogos: {files: [big.bmp, big.bmp]}\n");
    list({"{name: stalls, port: '" + tcpOf(*stalls) + "'}", "{name: waiting, port: '" + tcpOf(*waiting) + "'}"});
    BackgroundTavroctl bg(tmp.path(), env(),
                          "--device 'TAVRO46/48 E-II' --json apply shop.yaml --targets fleet.yaml --parallel 1");
    ASSERT_TRUE(bg.started());
    ASSERT_TRUE(stalls->waitForEvent("\"stall\"", 30s));
    ASSERT_TRUE(bg.signal(SIGINT));
    CliRun r = bg.wait(30s);
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    const FleetJson out = parseLines(r.out);
    EXPECT_EQ(out.printers.at("stalls")["status"], "cancelled") << r.out;
    EXPECT_EQ(out.printers.at("waiting")["status"], "not_started") << r.out;
    EXPECT_EQ(out.printers.at("waiting")["error"], "not started: interrupted");
    ASSERT_EQ(out.summary["cancelled"].size(), 1u) << r.out;
    EXPECT_EQ(out.summary["cancelled"][0]["name"], "stalls");
    EXPECT_NE(out.summary["cancelled"][0]["holds"].get<std::string>().find("the printer"), std::string::npos) << r.out;
    EXPECT_TRUE(waiting->events().empty());
}

// --targets search: the printers the LAN search finds (here on loopback), known by their MAC.
TEST_F(FleetCli, SearchFindsThePrintersToApplyTo)
{
    const int port = freeUdpPort();
    SimProcess sim({"--family", "6", "--quiet", "--udp", "127.0.92.1", "--udp-port", std::to_string(port),
                    "--udp-reply-port", std::to_string(port), "--tcp", "127.0.92.1:0"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    write("shop.yaml", "tavro: 1\nsettings: {speed: 150}\n");
    CliRun r = run("--device 'TAVRO46/48 E-II' --json apply shop.yaml --targets search --broadcast 127.255.255.255 "
                   "--bind 127.0.0.1 --udp-port " + std::to_string(port) + " --udp-timeout-ms 300");
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    const FleetJson out = parseLines(r.out);
    ASSERT_EQ(out.printers.size(), 1u) << r.out;
    const json& p = out.printers.begin()->second;
    EXPECT_EQ(p["identity"], "mac:" + out.printers.begin()->first) << p.dump();
    EXPECT_EQ(p["port"], "tcp://127.0.92.1:" + std::to_string(sim.tcpPort())) << p.dump();
    EXPECT_EQ(p["status"], "changed") << p.dump();
}
