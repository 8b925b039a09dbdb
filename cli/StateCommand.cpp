// tavroctl capture|plan|apply|history: a printer's whole configuration as one state file.
//
//   tavroctl capture STATE                      the printer's settings and what the record holds
//   tavroctl plan STATE                         what apply would change (apply --check)
//   tavroctl apply STATE [--check] [--diff] [--only SECTIONS] [--force SECTIONS]
//   tavroctl history [--printer ID | --run RUN]
//   tavroctl apply STATE --targets FILE|search|usb [--limit TAG|NAME] [--parallel N] [--canary K]
//                        [--max-failures F] [--resume RUN]     (many printers: cli/FleetCommand)
//
// For a network printer capture, plan and apply search the LAN for its module (its MAC is
// the printer's identity; the network section is compared with its answer): --broadcast,
// --bind, --udp-port and --udp-timeout-ms point the search as for `net search`.
//
// apply's exit status: 0 nothing to change; 2 changed (with --check: would change) and every
// change verified where the printer reports it; 4 failed; 6 some sections changed and another
// failed; 1 a bad state file or usage. Everything goes through the state core (StateEngine);
// this file turns arguments into a run and results into lines or one JSON object.
#include "cli/CliCommand.h"
#include "cli/CliSession.h"
#include "cli/FleetCommand.h"

#include "app/CErrorLog.h"
#include "common/FileIo.h"
#include "network/NetworkSettingEngine.h"
#include "port/CPorts.h"
#include "state/StateEngine.h"
#include "state/StateFile.h"
#include "state/StateRecord.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <iostream>

namespace {

using json = nlohmann::json;

constexpr int kExitUnchanged = 0;
constexpr int kExitChanged = 2;
constexpr int kExitFailed = 4;
constexpr int kExitPartial = 6;

struct StateArgs {
    std::string file;
    bool check = false;
    bool diff = false;
    std::string only;
    std::string force;
    std::string printer;
    double timeoutSeconds = 5.0;
    std::int64_t run = 0;
    FleetArgs fleet;
    // The LAN search; empty or 0: the defaults (TAVRO_NET_BROADCAST, TAVRO_NET_BIND,
    // TAVRO_NET_PORT where set).
    std::string broadcast, bind;
    int udpPort = 0;
    int udpTimeoutMs = 0;
    double networkWaitSeconds = 30.0;
};

// The session, the state file and the engine of one run.
struct StateRun {
    std::unique_ptr<CliSession> session;
    DesiredState state;
    std::set<StateSection> force;
    std::unique_ptr<StateRecord> record;
    std::unique_ptr<StateEngine> engine;
};

Result<std::unique_ptr<StateRecord>> openRecord()
{
    return StateRecord::open(StateRecord::defaultPath());
}

// The LAN search as the options give it; what they leave out comes from TAVRO_NET_* or the
// defaults.
UdpSettings searchSettings(const StateArgs& args)
{
    UdpSettings udp = UdpSettings::fromEnvironment();
    if (!args.broadcast.empty())
        udp.destination = args.broadcast;
    if (!args.bind.empty())
        udp.bindAddress = args.bind;
    if (args.udpPort > 0)
        udp.port = args.udpPort;
    if (args.udpTimeoutMs > 0)
        udp.silence = std::chrono::milliseconds(args.udpTimeoutMs);
    return udp;
}

std::unique_ptr<StateEngine> makeEngine(CliSession& session, StateRecord* record, const StateArgs& args)
{
    StateDeps deps{session.settings(),
                   session.host(),
                   session.connectionFactory(),
                   session.clock(),
                   session.prompter(),
                   session.log(),
                   session.progress(),
                   &session.cancelToken()};
    // The model the file names when --device names none.
    deps.settings.modelFamily = session.ports().m_ModelFamily;
    deps.stallLimit = session.stallLimit();
    deps.readTimeout = std::chrono::milliseconds(std::llround(args.timeoutSeconds * 1000.0));
    deps.network = searchSettings(args);
    deps.networkWait = std::chrono::milliseconds(std::llround(args.networkWaitSeconds * 1000.0));
    // The engine finds the identity: the MAC by a search, the USB serial number in sysfs.
    return std::make_unique<StateEngine>(deps, record);
}

// Reads and checks everything before a byte is sent. Failure: the exit status 1 line.
Result<StateRun> prepare(CliOptions options, const StateArgs& args)
{
    using R = Result<StateRun>;
    StateRun run;
    std::set<StateSection> only(std::begin(kStateSections), std::end(kStateSections));
    if (!args.only.empty()) {
        auto parsed = parseStateSections(args.only);
        if (!parsed)
            return R::failure("--only: " + parsed.message());
        only = *parsed;
    }
    if (!args.force.empty()) {
        auto parsed = parseStateSections(args.force);
        if (!parsed)
            return R::failure("--force: " + parsed.message());
        run.force = *parsed;
    }
    // Without --device the printer is taken to be the model the file names, else the
    // default entry's.
    const ModelFamily deviceFamily = options.device.empty() ? ModelFamily::None : familyForOk(options.device);
    auto state = loadStateFile(args.file, deviceFamily);
    if (!state)
        return R::failure(state.message());
    run.state = std::move(*state);
    run.state.keepOnly(only);
    run.session = std::make_unique<CliSession>(options);
    if (Status s = run.session->configure(); !s)
        return R(s);
    // Without --device, the printer is the model the file names.
    if (deviceFamily == ModelFamily::None && run.state.model != ModelFamily::None)
        run.session->ports().m_ModelFamily = run.state.model;
    if (Status s = checkStateConnection(run.state, run.session->settings()); !s)
        return R(s);
    auto record = openRecord();
    if (!record)
        return R::failure(record.message());
    run.record = std::move(*record);
    StateArgs engineArgs = args;
    run.engine = makeEngine(*run.session, run.record.get(), engineArgs);
    return run;
}

json changeJson(const StateChange& c)
{
    return {{"path", c.path}, {"from", c.from}, {"to", c.to}, {"source", c.fromRecord ? "record" : "printer"}};
}

json printerJson(const StateRun& run)
{
    const ModelFamily family = run.session->ports().m_ModelFamily;
    return {{"identity", run.engine->identity()},
            {"port", run.session->where()},
            {"model", modelName(family).empty() ? json(nullptr) : json(modelName(family))}};
}

int runFleetApply(const CliOptions& options, const StateArgs& args)
{
    FleetArgs fleet = args.fleet;
    fleet.stateFile = args.file;
    fleet.check = args.check;
    fleet.only = args.only;
    fleet.force = args.force;
    fleet.timeoutSeconds = args.timeoutSeconds;
    fleet.network = searchSettings(args);
    fleet.networkWait = std::chrono::milliseconds(std::llround(args.networkWaitSeconds * 1000.0));
    return runFleet(options, fleet);
}

int runApply(const CliOptions& given, const StateArgs& args)
{
    if (args.fleet.requested()) {
        if (args.diff)
            return cliFail("--diff is for one printer; with --targets use --check");
        return runFleetApply(given, args);
    }
    CliOptions options = given;
    auto prepared = prepare(options, args);
    if (!prepared)
        return cliFail(prepared.message());
    StateRun& run = *prepared;
    const bool asJson = options.json;

    if (args.check || args.diff) {
        auto plan = run.engine->plan(run.state, run.force);
        if (!plan) {
            if (asJson)
                std::cout << nlohmann::json{{"printer", printerJson(run)},
                                            {"changes", json::array()},
                                            {"status", "failed"},
                                            {"error", plan.message()}}
                                 .dump()
                          << "\n";
            else
                std::cerr << "tavroctl: error: " << plan.message() << "\n";
            return kExitFailed;
        }
        if (args.check) {
            if (asJson) {
                nlohmann::json changes = nlohmann::json::array();
                for (const auto& c : plan->changes)
                    changes.push_back(changeJson(c));
                std::cout << nlohmann::json{{"printer", printerJson(run)},
                                            {"changes", changes},
                                            {"status", plan->changes.empty() ? "unchanged" : "changed"},
                                            {"error", nullptr}}
                                 .dump()
                          << "\n";
            } else {
                for (const auto& c : plan->changes)
                    std::cout << c.text() << "\n";
                if (plan->changes.empty())
                    std::cout << "nothing to change on " << run.session->where() << "\n";
            }
            return plan->changes.empty() ? kExitUnchanged : kExitChanged;
        }
        if (!asJson)
            for (const auto& c : plan->changes)
                std::cout << "plan: " << c.text() << "\n";
    }

    const StateApplyResult result = run.engine->apply(run.state, run.force, [&](const StateChange& c) {
        if (!asJson)
            std::cout << c.text() << "\n" << std::flush;
    });
    int status = kExitFailed;
    const char* statusText = "failed";
    switch (result.status) {
    case StateApplyResult::Status::Unchanged:
        status = kExitUnchanged;
        statusText = "unchanged";
        break;
    case StateApplyResult::Status::Changed:
        status = kExitChanged;
        statusText = "changed";
        break;
    case StateApplyResult::Status::Partial:
        status = kExitPartial;
        break;
    case StateApplyResult::Status::Failed:
        break;
    }
    if (asJson) {
        nlohmann::json changes = nlohmann::json::array();
        for (const auto& c : result.applied)
            changes.push_back(changeJson(c));
        std::cout << nlohmann::json{{"printer", printerJson(run)},
                                    {"changes", changes},
                                    {"status", statusText},
                                    {"error", result.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(result.error)}}
                         .dump()
                  << "\n";
    } else if (status == kExitUnchanged) {
        std::cout << "nothing to change on " << run.session->where() << "\n";
    } else if (status == kExitChanged) {
        std::cout << "applied " << result.applied.size() << " change(s) to " << run.session->where() << "\n";
    }
    if (!result.error.empty()) {
        std::cerr << "tavroctl: error: " << result.error << "\n";
        if (status == kExitPartial)
            std::cerr << "tavroctl: " << result.applied.size() << " change(s) before it were made and kept in the record\n";
    }
    return status;
}

int runCapture(const CliOptions& options, const StateArgs& args)
{
    auto session = std::make_unique<CliSession>(options);
    if (Status s = session->configure(); !s)
        return cliFail(s.message());
    auto record = openRecord();
    if (!record)
        return cliFail(record.message());
    auto engine = makeEngine(*session, record->get(), args);
    auto text = engine->capture();
    if (!text)
        return cliFail(text.message());
    if (FileOutcome written = writeFileAtomically(args.file, *text); !written)
        return cliFail(written.message);
    if (options.json)
        std::cout << nlohmann::json{{"captured", args.file}, {"printer", engine->identity()}}.dump() << "\n";
    else
        std::cout << "captured " << session->where() << " into " << args.file << "\n";
    return 0;
}

int runHistory(const CliOptions& options, const StateArgs& args)
{
    if (args.run > 0)
        return showFleetRun(options, args.run);
    auto record = openRecord();
    if (!record)
        return cliFail(record.message());
    const auto rows = (*record)->history(args.printer);
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : rows)
            list.push_back({{"run", r.run},
                            {"time", r.time},
                            {"user", r.user},
                            {"host", r.host},
                            {"printer", r.printer},
                            {"port", r.port},
                            {"section", r.section},
                            {"before", r.before},
                            {"after", r.after},
                            {"result", r.result}});
        std::cout << nlohmann::json{{"history", list}}.dump() << "\n";
        return 0;
    }
    for (const auto& r : rows)
        std::cout << r.time << "  " << r.user << "@" << r.host << "  " << r.printer
                  << (r.port.empty() ? "" : " (" + r.port + ")") << "  " << r.section << ": " << r.before << " -> "
                  << r.after << "  [" << r.result << "]\n";
    if (rows.empty())
        std::cout << "nothing applied yet" << (args.printer.empty() ? "" : " to " + args.printer) << "\n";
    return 0;
}

void addTimeout(CLI::App* cmd, StateArgs& args)
{
    cmd->add_option("--timeout", args.timeoutSeconds, "seconds to wait for the printer's answers (default 5)")
        ->check(CLI::Range(0.1, 600.0));
    // The LAN search of a network printer, as `net search` sends it.
    cmd->add_option("--broadcast", args.broadcast, "network printer: where the LAN search goes (default 255.255.255.255; "
                                                   "a subnet's broadcast address, or a loopback address for the simulator)");
    cmd->add_option("--bind", args.bind, "network printer: local address the search answers are received on (default 0.0.0.0)");
    cmd->add_option("--udp-port", args.udpPort, "network printer: UDP port of the settings protocol (default 2918)")
        ->check(CLI::Range(1, 65535));
    cmd->add_option("--udp-timeout-ms", args.udpTimeoutMs, "network printer: silence that ends a search (default 1000)")
        ->check(CLI::Range(1, 600000));
}

void installState(CLI::App& app, CliContext& context)
{
    auto args = std::make_shared<StateArgs>();

    auto* capture = app.add_subcommand("capture", "write the printer's configuration as a state file (YAML)");
    capture->add_option("STATE", args->file, "the state file to write")->required();
    addTimeout(capture, *args);
    capture->callback([&context, args] { context.action = [&context, args] { return runCapture(context.options, *args); }; });

    auto* plan = app.add_subcommand("plan", "show what `apply` would change (the same as apply --check)");
    plan->add_option("STATE", args->file, "the state file")->required();
    plan->add_option("--only", args->only, "only these sections (settings,logos,logo_settings,firmware,network)");
    plan->add_option("--force", args->force, "count every item of these sections as a change");
    addTimeout(plan, *args);
    addFleetOptions(plan, args->fleet);
    plan->callback([&context, args] {
        context.action = [&context, args] {
            args->check = true;
            return runApply(context.options, *args);
        };
    });

    auto* apply = app.add_subcommand("apply", "bring the printer to the state file: exit 0 unchanged, 2 changed, "
                                              "4 failed, 6 partly changed, 1 bad file");
    apply->add_option("STATE", args->file, "the state file (YAML or JSON, `tavro: 1`)")->required();
    apply->add_flag("--check", args->check, "change nothing; exit 2 when something would change");
    apply->add_flag("--diff", args->diff, "print the plan before applying it");
    apply->add_option("--only", args->only, "only these sections (settings,logos,logo_settings,firmware,network)");
    apply->add_option("--force", args->force, "apply these sections even where nothing differs");
    apply->add_option("--network-wait", args->networkWaitSeconds,
                      "seconds a network printer may take to answer with its new network settings (default 30)")
        ->check(CLI::Range(0.1, 600.0));
    addTimeout(apply, *args);
    addFleetOptions(apply, args->fleet);
    apply->callback([&context, args] { context.action = [&context, args] { return runApply(context.options, *args); }; });

    auto* history = app.add_subcommand("history", "list what this PC applied to printers: time, user, host, printer, "
                                                  "section, before -> after, result");
    history->add_option("--printer", args->printer, "only this printer identity (as the history shows it)");
    history->add_option("--run", args->run, "one run over many printers: its printers and their steps")
        ->check(CLI::Range(std::int64_t(1), std::int64_t(1) << 62));
    history->callback([&context, args] { context.action = [&context, args] { return runHistory(context.options, *args); }; });
}

const CommandRegistrar registrar("state", installState);

} // namespace
