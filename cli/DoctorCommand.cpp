// tavroctl doctor: what stops this user from printing on this machine, one line per finding
// with the fix, the profile and error log in use; exit status 1 when something blocks.
#include "cli/CliCommand.h"

#include "app/AppPaths.h"
#include "cli/JsonLine.h"
#include "port/PortDoctor.h"

#include <filesystem>
#include <iostream>
#include <sstream>

namespace {

struct DoctorArgs {
    std::string user;
};

std::vector<DoctorFinding> fileFindings(const CliOptions& options)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    AppPaths paths = resolveAppPaths(fs::current_path(ec), XdgDirs::fromEnvironment());
    std::vector<DoctorFinding> out;
    auto state = [](const fs::path& file) {
        std::error_code e;
        return fs::exists(file, e) ? "exists" : "not created yet";
    };
    if (!options.profile.empty())
        out.push_back({DoctorSeverity::Info, "profile", "files",
                       options.profile + " (" + state(options.profile) + "), named by --profile", ""});
    else
        out.push_back({DoctorSeverity::Info, "profile", "files",
                       paths.profile.string() + " (" + state(paths.profile) + "): " + paths.reason, ""});
    out.push_back({DoctorSeverity::Info, "error log", "files",
                   paths.errorLog.string() + " (" + state(paths.errorLog) + "), written by the desktop tool", ""});
    return out;
}

OrderedJson findingJson(const DoctorFinding& f)
{
    return {{"severity", severityName(f.severity)}, {"subject", f.subject}, {"check", f.check},
            {"message", f.message}, {"fix", f.fix}};
}

int runDoctor(const CliOptions& options, const DoctorArgs& args)
{
    DoctorUser user;
    if (args.user.empty()) {
        user = DoctorUser::current();
    } else if (auto named = DoctorUser::byName(args.user)) {
        user = *named;
    } else {
        return cliFail("no user " + args.user);
    }
    PortDoctor doctor(DoctorRoots::fromEnvironment(), user);
    std::vector<std::string> named;
    if (!options.port.empty())
        named.push_back(options.port);
    DoctorReport report = doctor.examine(named);
    auto files = fileFindings(options);
    report.findings.insert(report.findings.end(), files.begin(), files.end());

    std::ostringstream out;
    if (options.json) {
        OrderedJson findings = OrderedJson::array();
        for (const auto& f : report.findings)
            findings.push_back(findingJson(f));
        out << toJsonLine({{"user", report.user}, {"blocking", report.blocking()}, {"findings", std::move(findings)}})
            << "\n";
    } else {
        out << "Checks for user " << report.user << ":\n";
        for (const auto& f : report.findings) {
            out << severityName(f.severity) << ": " << f.subject << ": " << f.message;
            if (!f.fix.empty())
                out << " -- fix: " << f.fix;
            out << "\n";
        }
        out << (report.blocking() ? "Something above stops printing (the error lines).\n"
                                  : "Nothing found that stops printing.\n");
    }
    std::cout << out.str() << std::flush;
    if (!std::cout)
        return cliFail("cannot write the findings to standard output");
    return report.blocking() ? 1 : 0;
}

void installDoctor(CLI::App& app, CliContext& context)
{
    static DoctorArgs args;
    auto* cmd = app.add_subcommand(
        "doctor", "check why a port cannot be used: permissions, groups, processes holding it, ModemManager, "
                  "brltty, usblp, udev rule; exit status 1 when something blocks printing");
    cmd->add_option("--user", args.user, "check for this user (name or uid) instead of the one running tavroctl");
    cmd->callback([&context] { context.action = [&context] { return runDoctor(context.options, args); }; });
}

const CommandRegistrar registrar("doctor", installDoctor);

} // namespace
