// tavroctl: the functions of the desktop tool from the command line.
#include "cli/CliCommand.h"

#include "app/MessageCatalog.h"
#include "app/Version.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSession.h"
#include "firmware/DownloadNote.h"

#include <algorithm>
#include <csignal>
#include <iostream>

std::vector<RegisteredCommand>& registeredCommands()
{
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistrar::CommandRegistrar(const char* name, CommandInstaller installer)
{
    registeredCommands().push_back({name, installer});
}

int cliFail(const std::string& message)
{
    std::cerr << "tavroctl: error: " << message << "\n";
    return 1;
}

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    installInterruptHandler();
    CliContext context;
    CLI::App app{"tavroctl - configure TAVRO 203-dpi receipt printers from the command line", "tavroctl"};
    app.set_version_flag("--version", std::string("tavroctl ") + kVersionText + kVersionSuffix);
    app.require_subcommand(1);
    app.fallthrough();

    auto& o = context.options;
    app.add_option("--device", o.device, "printer entry, as in the DEVICE list (e.g. \"TAVRO36/38 S\")");
    app.add_option("--port", o.port, "/dev/ttyS0, COM1, LPT1, /dev/lp0, usb, tcp://HOST[:PORT] or file:PATH");
    app.add_option("--baud", o.baud, "serial baud rate")->check(CLI::IsMember({115200, 57600, 38400, 19200, 9600}));
    app.add_option("--data", o.data, "serial data bits")->check(CLI::IsMember({8, 7}));
    app.add_option("--parity", o.parity, "serial parity")->check(CLI::IsMember({"none", "odd", "even"}));
    app.add_option("--stop", o.stop, "serial stop bits")->check(CLI::IsMember({1, 2}));
    app.add_option("--flow", o.flow, "serial flow control")->check(CLI::IsMember({"hw", "sw", "none"}));
    app.add_option("--profile", o.profile, "profile (INI) file; default ./tavroset.INI when there is one, else $XDG_CONFIG_HOME/tavroset/tavroset.INI");
    app.add_flag("--yes,-y", o.yes, "answer Yes to every question");
    app.add_flag("--json", o.json, "machine-readable output");
    app.add_flag("--service", o.service, "service mode (unlocks the service functions)");
    app.add_option("--stall", o.stall, "seconds a printer may take no data before a write fails (paper out, offline)")
        ->check(CLI::Range(0.1, 3600.0));

    auto& commands = registeredCommands();
    std::sort(commands.begin(), commands.end(),
              [](const RegisteredCommand& a, const RegisteredCommand& b) { return std::string(a.name) < b.name; });
    for (auto& command : commands)
        command.installer(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (!context.action)
        return cliFail("nothing to do");
    // A firmware download that was killed, or that ended early and was not repeated, left a
    // note next to the profile: every start says what the printer holds (the completion
    // script, which a shell runs on its own, stays quiet).
    if (!app.got_subcommand("completion"))
        for (const std::string& text : downloadNoticesIn(profileFolderOf(o), systemDefaultIsKorean()))
            std::cerr << "tavroctl: warning: " << text << "\n";
    return context.action();
}
