// tavroctl apply|plan STATE --targets FILE|search|usb: one state file for many printers.
//
// Everything is checked before a byte is sent: the state file for every printer model of the
// list, each printer's own settings over it, its connection options, the pictures (read and
// converted once per model for the whole run). Then each printer is one job with its own
// engine, connection, record connection and cancel token; the journal keeps the run.
#include "cli/FleetCommand.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/Sha256.h"
#include "cli/CliConnection.h"
#include "cli/CliInterrupt.h"
#include "cli/CliPrompter.h"
#include "cli/JsonLine.h"
#include "network/NetworkSettingEngine.h"
#include "port/DeviceDiscovery.h"
#include "port/PrinterConnection.h"
#include "state/FleetRunner.h"
#include "state/Inventory.h"
#include "state/RunJournal.h"
#include "state/StateEngine.h"
#include "state/StateLogoSet.h"
#include "state/StateRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kExitUnchanged = 0;
constexpr int kExitChanged = 2;
constexpr int kExitFailed = 4;
constexpr int kExitPartial = 6;

// What one printer's job holds open at most: its connection (a USB printer's node, a socket),
// the eventfds of its cancel token and of an upload's own token, and its record connection
// (the database, its WAL and shared-memory files).
constexpr rlim_t kFilesPerPrinter = 8;
// Standard streams, the journal's connection, a search socket, what libraries keep open.
constexpr rlim_t kFilesReserved = 32;

// The USB vendor of every TAVRO printer (the families differ in the product id).
constexpr const char* kTavroUsbVendor = "USB\\VID_5A3E";

// A printer of the run, checked whole before anything is sent.
struct FleetPrinter {
    std::string name;
    std::string port; // as the list or the search gave it
    ConnectionSettings settings;
    std::string identity;
    std::shared_ptr<const DesiredState> state;
    std::shared_ptr<const PreparedLogos> logos;
    // Set when it cannot be reached at all (a USB serial number that is not attached): its
    // job fails at once without a byte sent.
    std::string unusable;
};

// The prompter of one printer's job. The state file is the consent the engines ask for
// (StateEngine answers their questions), so what arrives here is a message, told again in
// the job's result, or a question whose safe answer is No.
class JobPrompter final : public Prompter {
public:
    explicit JobPrompter(std::string outputFile) : m_outputFile(std::move(outputFile)) {}
    PromptAnswer show(std::string_view, PromptButtons buttons, PromptIcon, std::string_view) override
    {
        return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
    }
    std::optional<std::string> askOutputFileName() override
    {
        if (m_outputFile.empty())
            return std::nullopt;
        return m_outputFile;
    }

private:
    std::string m_outputFile;
};

// The first journal write that failed, told once at the end: the printers are not failed for it.
class JournalTrouble {
public:
    void note(const Status& s)
    {
        if (s)
            return;
        std::lock_guard lock(m_mutex);
        if (m_first.empty())
            m_first = s.message();
    }
    std::string first() const
    {
        std::lock_guard lock(m_mutex);
        return m_first;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_first;
};

OrderedJson changeJson(const StateChange& c)
{
    return {{"path", c.path}, {"from", c.from}, {"to", c.to}, {"source", c.fromRecord ? "record" : "printer"}};
}

OrderedJson changesJson(const std::vector<StateChange>& changes)
{
    OrderedJson list = OrderedJson::array();
    for (const auto& c : changes)
        list.push_back(changeJson(c));
    return list;
}

// Raises the open-file limit as far as the system allows and returns how many printers may
// run at once under it (wanted, unless the limit is lower).
int parallelUnderFileLimit(int wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (raised.rlim_cur == RLIM_INFINITY) {
            // The kernel's own ceiling for one process.
            std::ifstream in("/proc/sys/fs/nr_open");
            unsigned long nrOpen = 0;
            if (in >> nrOpen && nrOpen > 0)
                raised.rlim_cur = rlim_t(nrOpen);
        }
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || kFilesReserved + kFilesPerPrinter * rlim_t(wanted) <= limit.rlim_cur)
        return wanted;
    const rlim_t room = limit.rlim_cur > kFilesReserved ? limit.rlim_cur - kFilesReserved : 0;
    const int allowed = std::max(1, int(room / kFilesPerPrinter));
    std::cerr << "tavroctl: warning: the open-file limit (" << limit.rlim_cur << ") allows --parallel " << allowed
              << ", not " << wanted << "\n";
    return allowed;
}

struct Targets {
    std::string listName; // for messages: the list file's name, "search" or "usb"
    std::vector<InventoryPrinter> printers;
    std::map<std::string, std::string> macs; // name -> MAC (search)
};

Result<Targets> searchTargets(const CliOptions& options, const FleetArgs& a)
{
    CliPrompter prompter(options.yes);
    NetworkSettingEngine engine(prompter, a.network);
    const NetworkSearchResult found = engine.Search();
    if (!found.socketsOk || found.end == NetworkSearchResult::End::ReceiveError)
        return Result<Targets>::failure("--targets search: the search failed: " + found.detail);
    Targets t;
    t.listName = "search";
    for (const auto& row : found.rows) {
        InventoryPrinter p;
        p.name = row.mac;
        p.port = InventoryValue{"tcp://" + dottedText(row.settings.ip) + ":" + std::to_string(row.settings.port), 0};
        if (std::any_of(t.printers.begin(), t.printers.end(), [&](const auto& q) { return q.name == p.name; }))
            continue; // a module that answered twice
        t.macs[p.name] = row.mac;
        t.printers.push_back(std::move(p));
    }
    return t;
}

Targets usbTargets()
{
    Targets t;
    t.listName = "usb";
    const DeviceRoots roots = DeviceRoots::fromEnvironment();
    for (const auto& entry : listUsbPrinters(roots)) {
        if (!hardwareIdMatches(entry.hardwareId, kTavroUsbVendor))
            continue;
        InventoryPrinter p;
        const std::string serial = entry.serial;
        p.name = serial.empty() ? entry.name : serial;
        p.port = InventoryValue{entry.node, 0};
        t.printers.push_back(std::move(p));
    }
    return t;
}

Result<Targets> targetsOf(const CliOptions& options, const FleetArgs& a)
{
    if (a.targets == "search")
        return searchTargets(options, a);
    if (a.targets == "usb")
        return usbTargets();
    auto inventory = loadInventory(a.targets);
    if (!inventory)
        return Result<Targets>(inventory.status());
    Targets t;
    t.listName = inventory->name;
    t.printers = std::move(inventory->printers);
    return t;
}

// The node of the attached USB printer with this serial number, "" when none is attached.
std::string usbNodeOfSerial(const std::string& serial)
{
    const DeviceRoots roots = DeviceRoots::fromEnvironment();
    for (const auto& entry : listUsbPrinters(roots))
        if (entry.serial == serial)
            return entry.node;
    return {};
}

// Everything a run needs, checked. Failure: the exit status 1 line.
struct FleetPlan {
    std::vector<FleetPrinter> printers;
    std::string stateDigest;
};

Result<FleetPlan> preparePrinters(const CliOptions& options, const FleetArgs& a, const Targets& targets,
                                  const std::set<StateSection>& only)
{
    using R = Result<FleetPlan>;
    FleetPlan plan;
    auto digest = sha256OfFile(a.stateFile);
    if (!digest)
        return R::failure(a.stateFile + ": cannot be read: " + digest.message());
    plan.stateDigest = *digest;

    std::map<ModelFamily, std::shared_ptr<const DesiredState>> states; // by the --device family (None: the file's)
    std::map<ModelFamily, std::shared_ptr<const PreparedLogos>> logos;
    std::map<std::string, std::string> identities; // identity -> name
    JobPrompter quiet{std::string()};
    for (const InventoryPrinter& p : targets.printers) {
        const std::string at = targets.listName + ":" + std::to_string(p.line) + ": printers[" + p.name + "]";
        CliOptions o = options;
        if (p.device)
            o.device = p.device->value;
        if (p.port)
            o.port = p.port->value;
        if (p.baud)
            o.baud = std::stoi(p.baud->value);
        if (p.data)
            o.data = std::stoi(p.data->value);
        if (p.parity)
            o.parity = p.parity->value;
        if (p.stop)
            o.stop = std::stoi(p.stop->value);
        if (p.flow)
            o.flow = p.flow->value;

        const ModelFamily deviceFamily = o.device.empty() ? ModelFamily::None : familyForOk(o.device);
        auto& base = states[deviceFamily];
        if (!base) {
            auto loaded = loadStateFile(a.stateFile, deviceFamily);
            if (!loaded)
                return R::failure(loaded.message() + (o.device.empty() ? "" : " (for " + o.device + ")"));
            loaded->keepOnly(only);
            base = std::make_shared<const DesiredState>(std::move(*loaded));
        }

        FleetPrinter printer;
        printer.name = p.name;
        printer.port = o.port;
        std::string serial;
        if (p.port && inventoryPortForm(o.port) == InventoryPortForm::UsbSerialNumber) {
            serial = o.port;
            const std::string node = usbNodeOfSerial(serial);
            if (node.empty())
                printer.unusable = "no USB printer with the serial number " + serial + " is attached";
            o.port = node.empty() ? "usb" : node;
        }
        auto settings = parseConnection(o);
        if (!settings)
            return R::failure(at + ".port: " + settings.message());
        printer.settings = *settings;
        // Without a device the printer is the model the state file names.
        if (o.device.empty() && base->model != ModelFamily::None)
            printer.settings.modelFamily = base->model;
        const ModelFamily family = printer.settings.modelFamily;

        auto mine = stateForPrinter(*base, p, family, targets.listName);
        if (!mine)
            return R(mine.status());
        printer.state = p.settings.empty() ? base : std::make_shared<const DesiredState>(std::move(*mine));

        if (auto mac = targets.macs.find(p.name); mac != targets.macs.end())
            printer.identity = printerIdentity(printer.settings, mac->second);
        else if (!serial.empty())
            printer.identity = "usb:" + serial;
        else
            printer.identity = printerIdentity(printer.settings);
        if (auto [it, fresh] = identities.emplace(printer.identity, p.name); !fresh)
            return R::failure(at + ": the same printer as " + it->second + " (" + printer.identity + ")");

        if (!a.check && printer.state->logos) {
            auto& set = logos[family];
            if (!set) {
                auto prepared = prepareStateLogos(*printer.state->logos, family, quiet);
                if (!prepared)
                    return R::failure(a.stateFile + ": logos: " + prepared.message());
                set = *prepared;
            }
            printer.logos = set;
        }
        plan.printers.push_back(std::move(printer));
    }
    return plan;
}

// One line per printer as it finishes, and a bar of the run under them while stdout is a
// terminal; or one JSON object per printer.
class FleetOutput {
public:
    FleetOutput(bool json, std::size_t total)
        : m_json(json), m_bar(!json && ::isatty(STDOUT_FILENO) == 1), m_total(total),
          m_begin(std::chrono::steady_clock::now())
    {
    }

    void started()
    {
        ++m_running;
        draw();
    }

    void finished(const FleetPrinter& p, const FleetOutcome& o, const std::vector<StateChange>& changes)
    {
        if (o.status != FleetOutcome::Status::NotStarted) {
            --m_running;
            ++m_done;
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", o.seconds);
        if (m_json) {
            std::cout << toJsonLine({{"name", p.name},
                                     {"identity", p.identity},
                                     {"port", p.port},
                                     {"status", fleetStatusName(o.status)},
                                     {"changes", changesJson(changes)},
                                     {"error", o.error.empty() ? OrderedJson(nullptr) : OrderedJson(o.error)},
                                     {"seconds", std::round(o.seconds * 1000.0) / 1000.0}})
                      << "\n"
                      << std::flush;
            return;
        }
        clear();
        std::string what;
        if (!o.error.empty()) {
            what = o.error;
        } else if (changes.empty()) {
            what = "nothing to change";
        } else {
            for (const auto& c : changes)
                what += (what.empty() ? "" : ", ") + c.path;
        }
        std::cout << p.name << "  " << fleetStatusName(o.status) << "  " << what;
        if (o.status != FleetOutcome::Status::NotStarted)
            std::cout << "  " << seconds;
        std::cout << "\n" << std::flush;
        draw();
    }

    void end() { clear(); }

private:
    void clear()
    {
        if (m_bar && m_drawn)
            std::cout << "\r\033[K" << std::flush;
        m_drawn = false;
    }
    void draw()
    {
        if (!m_bar)
            return;
        constexpr std::size_t kWidth = 30;
        const std::size_t filled = m_total ? m_done * kWidth / m_total : kWidth;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_begin).count();
        char text[64];
        std::snprintf(text, sizeof text, "  %zu/%zu done, %d running  %lld:%02lld", m_done, m_total, m_running,
                      static_cast<long long>(elapsed / 60), static_cast<long long>(elapsed % 60));
        std::cout << "\r\033[K[" << std::string(filled, '#') << std::string(kWidth - filled, '-') << "]" << text
                  << std::flush;
        m_drawn = true;
    }

    const bool m_json;
    const bool m_bar;
    const std::size_t m_total;
    const std::chrono::steady_clock::time_point m_begin;
    std::size_t m_done = 0;
    int m_running = 0;
    bool m_drawn = false;
};

int exitStatusOf(const std::vector<FleetOutcome>& outcomes)
{
    std::size_t good = 0, bad = 0, changed = 0;
    for (const auto& o : outcomes) {
        switch (o.status) {
        case FleetOutcome::Status::Changed:
            ++changed;
            ++good;
            break;
        case FleetOutcome::Status::Unchanged:
            ++good;
            break;
        default:
            ++bad; // a printer not started did not reach the state either
            break;
        }
    }
    if (bad == 0)
        return changed ? kExitChanged : kExitUnchanged;
    return good ? kExitPartial : kExitFailed;
}

OrderedJson optionsJson(const CliOptions& options, const FleetArgs& a)
{
    return {{"targets", a.targets},       {"limit", a.limits},          {"check", a.check},
            {"only", a.only},             {"force", a.force},           {"parallel", a.parallel},
            {"canary", a.canary},         {"max_failures", a.maxFailures}, {"device", options.device},
            {"port", options.port}};
}

} // namespace

void addFleetOptions(CLI::App* cmd, FleetArgs& a)
{
    cmd->add_option("--targets", a.targets,
                    "many printers: a printer list (YAML), `search` (the LAN search) or `usb` (every USB printer attached)");
    cmd->add_option("--limit", a.limits, "only the printers with these names or tags (repeatable, or a comma list)");
    cmd->add_option("--parallel", a.parallel, "printers at once (default 8)")->check(CLI::Range(1, 1024));
    cmd->add_option("--canary", a.canary, "run the first K printers alone first; stop when one of them fails")
        ->check(CLI::Range(0, 1000000));
    cmd->add_option("--max-failures", a.maxFailures, "start no printer after F failures (default: no limit)")
        ->check(CLI::Range(1, 1000000));
    cmd->add_option("--resume", a.resume, "run again the printers of run RUN that did not finish")
        ->check(CLI::Range(std::int64_t(1), std::int64_t(1) << 62));
}

int runFleet(const CliOptions& options, const FleetArgs& given)
{
    FleetArgs a = given;
    std::set<StateSection> only(std::begin(kStateSections), std::end(kStateSections));
    if (!a.only.empty()) {
        auto parsed = parseStateSections(a.only);
        if (!parsed)
            return cliFail("--only: " + parsed.message());
        only = *parsed;
    }
    std::set<StateSection> force;
    if (!a.force.empty()) {
        auto parsed = parseStateSections(a.force);
        if (!parsed)
            return cliFail("--force: " + parsed.message());
        force = *parsed;
    }
    const std::filesystem::path recordPath = StateRecord::defaultPath();
    auto journal = RunJournal::open(recordPath);
    if (!journal)
        return cliFail(journal.message());

    // A resumed run: the same state file, the printers that did not finish.
    std::set<std::string> resumeNames;
    if (a.resume) {
        const auto previous = (*journal)->run(a.resume);
        if (!previous)
            return cliFail("--resume " + std::to_string(a.resume) + ": no such run in " + recordPath.string());
        if (previous->status == "running")
            return cliFail("--resume " + std::to_string(a.resume) + ": the run is still going on");
        auto digest = sha256OfFile(a.stateFile);
        if (digest && *digest != previous->stateDigest)
            return cliFail("--resume " + std::to_string(a.resume) + ": " + a.stateFile +
                           " is not the state file of that run (it changed, or it is another); apply it as a new run");
        const auto stored = nlohmann::json::parse(previous->options, nullptr, false);
        if (a.targets.empty() && stored.is_object()) {
            a.targets = stored.value("targets", std::string());
            if (a.limits.empty() && stored.contains("limit") && stored["limit"].is_array())
                for (const auto& l : stored["limit"])
                    if (l.is_string())
                        a.limits.push_back(l.get<std::string>());
        }
        for (const auto& p : (*journal)->printers(a.resume))
            if (p.status != "unchanged" && p.status != "changed")
                resumeNames.insert(p.name);
        if (resumeNames.empty()) {
            if (options.json)
                std::cout << toJsonLine({{"summary", OrderedJson::object()}, {"run", a.resume}, {"resumed", 0}}) << "\n";
            else
                std::cout << "every printer of run " << a.resume << " finished; nothing to resume\n";
            return kExitUnchanged;
        }
    }
    if (a.targets.empty())
        return cliFail("--targets: give a printer list, search or usb");

    auto targets = targetsOf(options, a);
    if (!targets)
        return cliFail(targets.message());
    auto selected = selectPrinters(targets->printers, a.limits);
    if (!selected)
        return cliFail(selected.message());
    targets->printers = std::move(*selected);
    std::vector<std::string> gone; // printers of the resumed run the targets no longer name
    if (a.resume) {
        std::vector<InventoryPrinter> keep;
        for (auto& p : targets->printers)
            if (resumeNames.count(p.name))
                keep.push_back(std::move(p));
        for (const auto& name : resumeNames)
            if (std::none_of(keep.begin(), keep.end(), [&](const auto& p) { return p.name == name; }))
                gone.push_back(name);
        targets->printers = std::move(keep);
    }
    if (targets->printers.empty() && gone.empty())
        return cliFail("--targets " + a.targets + ": no printer" + (a.limits.empty() ? "" : " left after --limit"));

    auto prepared = preparePrinters(options, a, *targets, only);
    if (!prepared)
        return cliFail(prepared.message());
    std::vector<FleetPrinter>& printers = prepared->printers;
    for (const auto& name : gone) {
        FleetPrinter p;
        p.name = name;
        p.unusable = "not among the targets any more";
        printers.push_back(std::move(p));
    }

    std::vector<JournalPrinter> listed;
    for (const auto& p : printers)
        listed.push_back({p.name, p.identity, p.port, "waiting", {}, "[]", 0});
    auto run = (*journal)->beginRun(std::filesystem::absolute(a.stateFile).lexically_normal().string(),
                                    prepared->stateDigest, toJsonLine(optionsJson(options, a)), a.resume, listed);
    if (!run)
        return cliFail(run.message());
    const std::int64_t runId = *run;
    RunJournal& notes = **journal;
    JournalTrouble trouble;

    FleetLimits limits;
    limits.parallel = parallelUnderFileLimit(a.parallel);
    limits.canary = a.canary;
    limits.maxFailures = a.maxFailures;

    const auto readTimeout = std::chrono::milliseconds(std::llround(a.timeoutSeconds * 1000.0));
    const auto stall = std::chrono::milliseconds(std::llround(options.stall * 1000.0));
    CErrorLog& log = theErrorLog();
    Clock& clock = SystemClock::instance();
    // Written by job i only, read by its own finish callback and after the run.
    std::vector<std::vector<StateChange>> changes(printers.size());

    std::vector<FleetRunner::Job> jobs;
    for (std::size_t i = 0; i < printers.size(); ++i) {
        jobs.push_back([&, i](const CancelToken& token) -> FleetOutcome {
            const FleetPrinter& p = printers[i];
            FleetOutcome out;
            out.status = FleetOutcome::Status::Failed;
            if (!p.unusable.empty()) {
                out.error = p.unusable;
                return out;
            }
            auto record = StateRecord::open(recordPath);
            if (!record) {
                out.error = record.message();
                return out;
            }
            JobPrompter prompter(p.settings.outputFile);
            NullProgress progress;
            const ConnectionHost host{clock, prompter, log, nullptr, nullptr};
            auto connect = [&](const ConnectionSettings& s) -> std::unique_ptr<PrinterConnection> {
                auto c = makeConnection(s, host);
                if (!c)
                    return nullptr;
                c->setStallLimit(stall);
                c->setCancelToken(&token);
                return c;
            };
            StateDeps deps{p.settings, host, connect, clock, prompter, log, progress, &token};
            deps.stallLimit = stall;
            deps.readTimeout = readTimeout;
            deps.network = a.network;
            deps.networkWait = a.networkWait;
            deps.logos = p.logos;
            deps.onSectionEnd = [&](const std::vector<StateChange>& ended, const Status& s) {
                for (const auto& c : ended)
                    trouble.note(notes.stepEnded(runId, p.name, c.path, s ? "done" : "failed: " + s.message()));
            };
            StateEngine engine(deps, record->get(), p.identity);
            if (a.check) {
                auto plan = engine.plan(*p.state, force);
                if (!plan) {
                    out.error = plan.message();
                    return out;
                }
                changes[i] = plan->changes;
                out.status = plan->changes.empty() ? FleetOutcome::Status::Unchanged : FleetOutcome::Status::Changed;
                return out;
            }
            const StateApplyResult r = engine.apply(*p.state, force, [&](const StateChange& c) {
                trouble.note(notes.stepStarted(runId, p.name, c.path));
            });
            changes[i] = r.applied;
            out.error = r.error;
            switch (r.status) {
            case StateApplyResult::Status::Unchanged: out.status = FleetOutcome::Status::Unchanged; break;
            case StateApplyResult::Status::Changed: out.status = FleetOutcome::Status::Changed; break;
            case StateApplyResult::Status::Partial: out.status = FleetOutcome::Status::Partial; break;
            case StateApplyResult::Status::Failed: out.status = FleetOutcome::Status::Failed; break;
            }
            return out;
        });
    }

    FleetOutput output(options.json, printers.size());
    CancelToken stop;
    std::vector<FleetOutcome> outcomes;
    {
        // Ctrl-C stops the run: no printer starts any more, the running ones are cancelled.
        InterruptCancels interrupt(stop);
        FleetRunner runner(limits, stop);
        outcomes = runner.run(
            jobs,
            [&](std::size_t i) {
                trouble.note(notes.printerStarted(runId, printers[i].name));
                output.started();
            },
            [&](std::size_t i, const FleetOutcome& o) {
                const FleetPrinter& p = printers[i];
                trouble.note(notes.printerFinished(runId, {p.name, p.identity, p.port, fleetStatusName(o.status),
                                                          o.error, toJsonLine(changesJson(changes[i])), o.seconds}));
                output.finished(p, o, changes[i]);
            });
    }
    output.end();
    trouble.note(notes.finishRun(runId));

    std::map<std::string, std::size_t> counts;
    for (auto s : {FleetOutcome::Status::Unchanged, FleetOutcome::Status::Changed, FleetOutcome::Status::Failed,
                   FleetOutcome::Status::Partial, FleetOutcome::Status::Cancelled, FleetOutcome::Status::NotStarted})
        counts[fleetStatusName(s)] = 0;
    OrderedJson cancelled = OrderedJson::array();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        ++counts[fleetStatusName(outcomes[i].status)];
        if (outcomes[i].status == FleetOutcome::Status::Cancelled)
            cancelled.push_back({{"name", printers[i].name}, {"holds", outcomes[i].error}});
    }
    const int status = exitStatusOf(outcomes);
    if (options.json) {
        OrderedJson summary = OrderedJson::object();
        for (const auto& [name, n] : counts)
            summary[name] = n;
        std::cout << toJsonLine({{"summary", summary},
                                 {"run", runId},
                                 {"printers", printers.size()},
                                 {"cancelled", cancelled},
                                 {"exit", status}})
                  << "\n";
    } else {
        std::cout << printers.size() << (printers.size() == 1 ? " printer" : " printers") << ":";
        bool first = true;
        for (const auto& [name, n] : counts)
            if (n) {
                std::cout << (first ? " " : ", ") << n << " " << name;
                first = false;
            }
        std::cout << " (run " << runId << ")\n";
        for (const auto& c : cancelled)
            std::cout << "cancelled: " << c["name"].get<std::string>() << ": " << c["holds"].get<std::string>() << "\n";
        if (status == kExitPartial || status == kExitFailed)
            std::cerr << "tavroctl: `tavroctl apply " << a.stateFile << " --resume " << runId
                      << "` runs again the printers that did not finish\n";
    }
    if (const std::string t = trouble.first(); !t.empty())
        std::cerr << "tavroctl: warning: " << t << "; the journal of run " << runId << " may be incomplete\n";
    return status;
}

int showFleetRun(const CliOptions& options, std::int64_t runId)
{
    auto journal = RunJournal::open(StateRecord::defaultPath());
    if (!journal)
        return cliFail(journal.message());
    const auto run = (*journal)->run(runId);
    if (!run)
        return cliFail("--run " + std::to_string(runId) + ": no such run");
    const auto printers = (*journal)->printers(runId);
    const auto steps = (*journal)->steps(runId);
    if (options.json) {
        OrderedJson list = OrderedJson::array();
        for (const auto& p : printers) {
            OrderedJson stepList = OrderedJson::array();
            for (const auto& s : steps)
                if (s.printer == p.name)
                    stepList.push_back({{"step", s.step}, {"started", s.started}, {"ended", s.ended}, {"result", s.result}});
            auto changes = OrderedJson::parse(p.changes, nullptr, false);
            list.push_back({{"name", p.name},
                            {"identity", p.identity},
                            {"port", p.port},
                            {"status", p.status},
                            {"error", p.error.empty() ? OrderedJson(nullptr) : OrderedJson(p.error)},
                            {"changes", changes.is_discarded() ? OrderedJson::array() : changes},
                            {"seconds", p.seconds},
                            {"steps", stepList}});
        }
        auto opts = OrderedJson::parse(run->options, nullptr, false);
        std::cout << toJsonLine({{"run", run->id},
                                 {"started", run->started},
                                 {"user", run->user},
                                 {"host", run->host},
                                 {"state", run->stateFile},
                                 {"sha256", run->stateDigest},
                                 {"options", opts.is_discarded() ? OrderedJson::object() : opts},
                                 {"status", run->status},
                                 {"resumes", run->resumes ? OrderedJson(run->resumes) : OrderedJson(nullptr)},
                                 {"printers", list}})
                  << "\n";
        return 0;
    }
    std::cout << "run " << run->id << "  " << run->started << "  " << run->user << "@" << run->host << "  "
              << run->stateFile << " (sha256 " << run->stateDigest.substr(0, 12) << "…)  " << run->status;
    if (run->resumes)
        std::cout << "  resumes run " << run->resumes;
    std::cout << "\n";
    for (const auto& p : printers) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", p.seconds);
        std::cout << "  " << p.name << "  " << p.identity << "  " << p.status;
        if (!p.error.empty())
            std::cout << ": " << p.error;
        std::cout << "  " << seconds << "\n";
        for (const auto& s : steps)
            if (s.printer == p.name)
                std::cout << "    " << s.started << "  " << s.step << "  " << s.result << "\n";
    }
    return 0;
}
