#pragma once
// tavroctl's commands. Each command file registers an installer with a static
// CommandRegistrar; main() installs them all under the one CLI::App.
#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

// The connection options that every command shares.
struct CliOptions {
    std::string device;          // a DEVICE entry, e.g. "TAVRO36/38 S"
    std::string port;            // /dev/..., COMn, LPTn, usb, tcp://HOST[:PORT], file:PATH
    int baud = 115200;
    int data = 8;
    std::string parity = "none"; // none|odd|even
    int stop = 1;                // 1|2
    std::string flow = "hw";     // hw|sw|none
    std::string profile;         // profile path; default: resolveAppPaths (app/AppPaths.h)
    bool yes = false;            // answer Yes to every question
    bool json = false;           // machine-readable output
    bool service = false;        // the service mode that Ctrl unlocks in the desktop tool
};

struct CliContext {
    CliOptions options;
    // Set by the callback of the chosen subcommand; returns the exit status.
    std::function<int()> action;
};

using CommandInstaller = void (*)(CLI::App& app, CliContext& context);

// Registers an installer at static-initialisation time.
struct CommandRegistrar {
    CommandRegistrar(const char* name, CommandInstaller installer);
};

struct RegisteredCommand {
    const char* name;
    CommandInstaller installer;
};
std::vector<RegisteredCommand>& registeredCommands();

// "tavroctl: error: <message>" on stderr; returns the failure exit status 1.
int cliFail(const std::string& message);
