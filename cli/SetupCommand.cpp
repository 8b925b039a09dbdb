// tavroctl setup: the printer's user setup from the command line - read it, write it, keep
// it as a snapshot file, compare a printer with a snapshot, print the test page and show
// the factory form. Everything goes through the setup core (SetupSession); this file only
// turns arguments into a form and answers into lines.
#include "cli/CliCommand.h"
#include "cli/JsonLine.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSession.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "port/CPorts.h"
#include "setup/SetupLink.h"
#include "setup/SetupSession.h"
#include "setup/SetupSnapshot.h"
#include "setup/SetupValueCollector.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace {

using Ms = std::chrono::milliseconds;

struct SetupArgs {
    double timeoutSeconds = 5.0;
    std::string saveFile;
    std::vector<std::string> assignments;
    std::string fromFile;
    bool verify = false;   // --verify: read back, and fail when that cannot be done
    bool noVerify = false; // --no-verify: do not read back
    std::string diffFile;
};

void printLines(const SnapshotLines& lines, bool json)
{
    if (json) {
        OrderedJson object = OrderedJson::object();
        for (const auto& [key, value] : lines)
            object[key] = value;
        std::cout << toJsonLine(object) << "\n";
        return;
    }
    for (const auto& [key, value] : lines)
        std::cout << key << " = " << value << "\n";
}

ModelFamily modelFamilyOf(const CliOptions& o)
{
    return o.device.empty() ? ModelFamily::None : familyForOk(o.device);
}

// One connection and its setup session for the length of a command: the session's link
// (SetupLink), with Ctrl-C cancelling its reads and writes.
class CliSetup {
public:
    explicit CliSetup(const CliOptions& options) : m_cli(options) {}
    CliSetup(const CliSetup&) = delete;
    CliSetup& operator=(const CliSetup&) = delete;

    // Parses the connection options only (nothing opened).
    Status configure()
    {
        Status s = m_cli.configure();
        if (s)
            m_link = std::make_unique<SetupLink>(m_cli.settings(), m_cli.host(), m_cli.stallLimit(),
                                                 &m_cli.cancelToken());
        return s;
    }

    Status open()
    {
        // Ctrl-C cancels the command's token: a read or write blocked on the printer ends
        // within a fraction of a second and the command says what the printer may hold.
        m_interrupt.emplace(m_cli.cancelToken());
        return m_link->open();
    }

    std::string where() const { return m_link->where(); }
    std::string because(const std::string& what) const { return m_link->because(what); }
    bool isFile() const { return m_link->isFile(); }
    ModelFamily family() const { return m_link->family(); }
    SetupSession& session() { return m_link->session(); }
    const SetupLink& link() const { return *m_link; }
    Result<SetupReadOutcome> read(Ms timeout) { return m_link->read(timeout); }
    bool interrupted() const { return m_link->interrupted(); }
    bool readable(const std::string& key) const { return m_link->readable(key); }

private:
    CliSession m_cli;
    std::optional<InterruptCancels> m_interrupt;
    std::unique_ptr<SetupLink> m_link; // goes before the session it borrows from
};

Ms timeoutOf(const SetupArgs& args)
{
    return Ms(static_cast<long>(std::llround(args.timeoutSeconds * 1000.0)));
}

// Reads a snapshot file into a form; the keys given come back in `given`.
Status loadSnapshot(const std::string& file, ModelFamily family, SetupOptions& form, std::set<std::string>& given)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return Status::failure(file + ": no such snapshot file");
    Profile profile(file);
    auto entries = profile.entries(kSnapshotSection);
    if (entries.empty())
        return Status::failure(file + ": no [" + std::string(kSnapshotSection) + "] section with settings");
    for (const auto& [rawKey, value] : entries) {
        std::string key = rawKey;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        if (Status s = applySnapshotValue(form, key, value, family); !s)
            return s.context(file);
        given.insert(key);
    }
    return Status::success();
}

Status saveSnapshot(const std::string& file, const SnapshotLines& lines)
{
    // A snapshot is the printer as it is now: keys of an older snapshot must not survive,
    // and one save writes it whole, so a killed run never leaves half a snapshot for `set
    // --from` to apply.
    Profile profile(file);
    return profile.apply(Profile::Edit().replaceSection(kSnapshotSection, lines)).context(file);
}

int runGet(const CliOptions& options, const SetupArgs& args)
{
    CliSetup setup(options);
    if (Status s = setup.configure(); !s)
        return cliFail(s.message());
    if (setup.isFile())
        return cliFail("a file does not answer: setup get needs a printer connection");
    if (Status s = setup.open(); !s)
        return cliFail(s.message());
    auto back = setup.read(timeoutOf(args));
    if (!back && setup.interrupted())
        return cliFail(back.message() + "; nothing was written to the printer");
    if (!back)
        return cliFail(back.message());
    SnapshotLines lines = snapshotOf(back->values, setup.family(), &back->shown);
    printLines(lines, options.json);
    if (!args.saveFile.empty())
        if (Status s = saveSnapshot(args.saveFile, lines); !s)
            return cliFail(s.message());
    if (!back->missing.empty())
        return cliFail(missingSettingsText(back->missing));
    return 0;
}

// The KEY=VALUE arguments and the --from file as a form.
Status formFromArgs(const SetupArgs& args, ModelFamily family, SetupOptions& form, std::set<std::string>& given)
{
    if (!args.fromFile.empty())
        if (Status s = loadSnapshot(args.fromFile, family, form, given); !s)
            return s;
    for (const auto& text : args.assignments) {
        auto kv = splitAssignment(text);
        if (!kv)
            return kv.status();
        if (Status s = applySnapshotValue(form, kv->first, kv->second, family); !s)
            return s;
        given.insert(kv->first);
    }
    if (given.empty())
        return Status::failure("nothing to set: give KEY=VALUE arguments or --from FILE");
    return completeGivenForm(form, given);
}

int runSet(const CliOptions& options, const SetupArgs& args)
{
    CliSetup setup(options);
    if (Status s = setup.configure(); !s)
        return cliFail(s.message());
    SetupOptions form;
    std::set<std::string> given;
    if (Status s = formFromArgs(args, setup.family(), form, given); !s)
        return cliFail(s.message());
    if (args.verify && args.noVerify)
        return cliFail("--verify and --no-verify exclude each other");
    if (args.verify && setup.isFile())
        return cliFail("--verify: a file cannot be read back");
    // A printer that can answer is read back unless told not to: a frame that was lost on
    // the way (a hang-up in the middle of it) is caught there, not reported as written.
    bool verify = !args.noVerify && !setup.isFile();
    if (Status s = setup.open(); !s)
        return cliFail(s.message());

    // Margin and custom code travel in every write. Unless they are given, the printer's
    // own values go back, so that changing one option does not reset them to 0.
    const bool needMargin = !given.count("margin"), needCode = !given.count("custom_code");
    if ((needMargin || needCode) && !setup.isFile()) {
        auto current = setup.read(timeoutOf(args));
        if (!current && setup.interrupted())
            return cliFail(current.message() + " before anything was written; the printer is unchanged");
        if (!current)
            return cliFail(current.message() + " (needed for the margin and custom code; give margin= and "
                                               "custom_code= to write without reading)");
        if (Status s = keepPrinterValues(form, given, *current); !s)
            return cliFail(s.message());
    }
    if (given.count("stop_bit"))
        setup.session().NoteStopBitChosen();

    SetupSession::WriteResult written = setup.session().SetValue(form);
    switch (written) {
    case SetupSession::WriteResult::Cancelled:
        if (!setup.session().WriteCancelledAfterSending())
            return cliFail("interrupted before anything was written to " + setup.where() +
                           "; the printer is unchanged");
        return cliFail("interrupted while writing the setup to " + setup.where() +
                       ": the printer may hold some of the values; read them back with `tavroctl setup get`");
    case SetupSession::WriteResult::Nothing:
        return cliFail("nothing to write");
    case SetupSession::WriteResult::Refused:
        return cliFail("the settings were refused before anything was sent");
    case SetupSession::WriteResult::Failed:
        return cliFail(setup.because("writing the setup to " + setup.where() + " failed") +
                       "; the printer may be half-configured, check it and write again");
    case SetupSession::WriteResult::ReopenFailed:
        std::cerr << "tavroctl: warning: the settings were sent, but the printer did not come back after its "
                     "restart\n";
        if (verify)
            return cliFail(setup.because("the printer did not come back after the write, so the settings could "
                                         "not be read back") + " (--no-verify skips the read-back)");
        break;
    case SetupSession::WriteResult::ConnectionClosed:
        std::cerr << "tavroctl: note: usb_mode was written: the printer leaves this interface, connection closed\n";
        if (args.verify)
            return cliFail("--verify: the connection closed with the usb_mode change, nothing to read back");
        verify = false;
        break;
    case SetupSession::WriteResult::Written:
        break;
    }

    SnapshotLines wrote = snapshotOf(form, setup.family());
    std::size_t count = 0;
    for (const auto& line : wrote)
        if (given.count(line.first) || line.first == "margin" || line.first == "custom_code")
            ++count;
    if (!options.json)
        std::cout << "sent " << count << " settings to " << setup.where() << "\n";

    if (!verify) {
        if (options.json)
            std::cout << toJsonLine({{"written", count}}) << "\n";
        return 0;
    }
    auto back = setup.read(timeoutOf(args));
    if (!back && setup.interrupted())
        return cliFail(back.message() + " after the write, so it is not confirmed; read the settings back with "
                                        "`tavroctl setup get`");
    if (!back)
        return cliFail("reading the settings back failed, so the write is not confirmed: " + back.message());
    std::set<std::string> compare = given;
    compare.insert({"margin", "custom_code"});
    const SetupReadBack checked = compareReadBack(wrote, compare, *back, setup.link());
    const auto& differences = checked.differences;
    const auto& unreported = checked.unreported;
    const std::size_t verified = checked.verified;
    if (options.json)
        std::cout << toJsonLine({{"written", count}, {"verified", verified},
                                 {"differences", differences.size() + unreported.size()}})
                  << "\n";
    if (!differences.empty()) {
        for (const auto& d : differences)
            std::cerr << "  " << d << "\n";
        return cliFail(std::to_string(differences.size()) + " setting(s) did not stick: the printer reports "
                       "other values after the write");
    }
    if (!unreported.empty())
        return cliFail("the write is not confirmed: " + missingSettingsText(unreported));
    if (!options.json)
        std::cout << "verified " << verified << " settings\n";
    return 0;
}

int runDiff(const CliOptions& options, const SetupArgs& args)
{
    CliSetup setup(options);
    if (Status s = setup.configure(); !s)
        return cliFail(s.message());
    SetupOptions fileForm;
    std::set<std::string> given;
    if (Status s = loadSnapshot(args.diffFile, setup.family(), fileForm, given); !s)
        return cliFail(s.message());
    if (setup.isFile())
        return cliFail("a file does not answer: setup diff needs a printer connection");
    if (Status s = setup.open(); !s)
        return cliFail(s.message());
    auto back = setup.read(timeoutOf(args));
    if (!back)
        return cliFail(back.message());
    SnapshotLines printer = snapshotOf(back->values, setup.family(), &back->shown);
    SnapshotLines file = snapshotOf(fileForm, setup.family());
    auto valueIn = [](const SnapshotLines& lines, const std::string& key) -> std::optional<std::string> {
        for (const auto& [k, v] : lines)
            if (k == key)
                return v;
        return std::nullopt;
    };
    int differences = 0;
    OrderedJson json = OrderedJson::object();
    for (const auto& key : snapshotKeys()) {
        std::optional<std::string> f = given.count(key) || (key == "columns" && given.count("paper_width"))
                                           ? valueIn(file, key)
                                           : std::nullopt;
        std::optional<std::string> p = valueIn(printer, key);
        if (!setup.readable(key)) {
            if (f && !options.json)
                std::cout << key << ": file=" << *f << " (written only; the printer does not report it)\n";
            continue;
        }
        if (f == p)
            continue;
        ++differences;
        if (options.json)
            json[key] = {{"printer", p ? OrderedJson(*p) : OrderedJson()}, {"file", f ? OrderedJson(*f) : OrderedJson()}};
        else
            std::cout << key << ": printer=" << (p ? *p : "(not reported)") << " file=" << (f ? *f : "(not set)")
                      << "\n";
    }
    if (options.json)
        std::cout << toJsonLine(json) << "\n";
    else if (differences == 0)
        std::cout << "no differences\n";
    if (!back->missing.empty())
        return cliFail(missingSettingsText(back->missing));
    return differences == 0 ? 0 : 1;
}

int runTestPage(const CliOptions& options)
{
    CliSetup setup(options);
    if (Status s = setup.configure(); !s)
        return cliFail(s.message());
    if (Status s = setup.open(); !s)
        return cliFail(s.message());
    SetupOptions form;
    if (setup.session().PrintTestPage(form) != SetupSession::TestResult::Printed)
        return cliFail("printing the test page on " + setup.where() + " failed");
    if (options.json)
        std::cout << toJsonLine({{"test_page", "sent"}}) << "\n";
    else
        std::cout << "test page sent to " << setup.where() << "\n";
    return 0;
}

int runDefaults(const CliOptions& options)
{
    printLines(snapshotOf(SetupOptions::defaults(systemDefaultIsKorean()), modelFamilyOf(options)), options.json);
    return 0;
}

void installSetup(CLI::App& app, CliContext& context)
{
    auto* setup = app.add_subcommand("setup", "read, write, compare and keep the printer's user setup");
    setup->require_subcommand(1);
    auto args = std::make_shared<SetupArgs>();
    auto addTimeout = [args](CLI::App* cmd) {
        cmd->add_option("--timeout", args->timeoutSeconds, "seconds to wait for the printer's answers (default 5)")
            ->check(CLI::Range(0.1, 600.0));
    };

    auto* get = setup->add_subcommand("get", "read every setting the connection offers, one `key = value` line each");
    addTimeout(get);
    get->add_option("--save", args->saveFile, "also write the settings as a snapshot (INI, section [setup])");
    get->callback([&context, args] { context.action = [&context, args] { return runGet(context.options, *args); }; });

    auto* set = setup->add_subcommand("set", "write the settings given (KEY=VALUE ... or --from FILE)");
    set->add_option("KEY=VALUE", args->assignments, "settings to write, e.g. paper_width=58 speed=180");
    set->add_option("--from", args->fromFile, "a snapshot file written by `setup get --save`");
    set->add_flag("--verify", args->verify,
                  "read the settings back after the write and compare (the default where the printer can answer; "
                  "with this flag a connection that cannot answer is an error)");
    set->add_flag("--no-verify", args->noVerify, "do not read the settings back after the write");
    addTimeout(set);
    set->callback([&context, args] { context.action = [&context, args] { return runSet(context.options, *args); }; });

    auto* diff = setup->add_subcommand("diff", "show what differs between the printer and a snapshot file");
    diff->add_option("FILE", args->diffFile, "the snapshot file")->required();
    addTimeout(diff);
    diff->callback([&context, args] { context.action = [&context, args] { return runDiff(context.options, *args); }; });

    auto* test = setup->add_subcommand("test-page", "print the setup test page");
    test->callback([&context] { context.action = [&context] { return runTestPage(context.options); }; });

    auto* defaults = setup->add_subcommand("defaults", "print the factory setup (the Default form) as a snapshot");
    defaults->callback([&context] { context.action = [&context] { return runDefaults(context.options); }; });
}

const CommandRegistrar registrar("setup", installSetup);

} // namespace
