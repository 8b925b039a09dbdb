#pragma once
// The `logo` command's subcommands come from two files: the conversion commands that need no
// printer, and the printer actions, which register here.
#include "cli/CliCommand.h"

using LogoSubcommandInstaller = void (*)(CLI::App* logo, CliContext& context);

struct LogoSubcommandRegistrar {
    explicit LogoSubcommandRegistrar(LogoSubcommandInstaller installer);
};
