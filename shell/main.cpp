// tavroset: the desktop tool. The connection dialog is the main window for the whole run;
// the function menu and the tools open modally on top of it.
#include "app/Version.h"
#include "qthost/HelpFolder.h"
#include "shell/ToolMain.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

namespace {

// --help, --version and --help-folder answer without a display (help2man builds the man page
// from the first two; the package check asks the installed tool for its help pages). The
// exit status when one of them was given.
std::optional<int> answeredCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: tavroset [OPTION]...\n"
                        "The desktop tool for TAVRO 203-dpi thermal receipt printers: pick a printer model\n"
                        "and a connection, then read and write the user setup, print the test page,\n"
                        "manage NV logos, download firmware and change network settings.\n\n"
                        "Options:\n"
                        "  -h, --help     show this help and exit\n"
                        "  --version      show the version and exit\n"
                        "  --help-folder  show the folder of the help pages that F1 opens, and exit\n\n"
                        "Qt's own options (-platform, -style, ...) are accepted as well.\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--help-folder") == 0) {
            std::vector<std::filesystem::path> tried;
            if (const auto folder = findHelpFolder(HelpPlaces::fromEnvironment(), &tried)) {
                std::printf("%s\n", folder->c_str());
                return 0;
            }
            std::fprintf(stderr, "tavroset: no help pages in %s (installed with the tavroset package)\n",
                         tried.empty() ? "any folder" : tried.front().c_str());
            return 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tavroset %s%s\n", kVersionText, kVersionSuffix);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered = answeredCommandLine(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavroset");
    // No application display name: the X11 and Wayland back ends would append it to every
    // window title, and the captions are the tool's own.
    QApplication::setDesktopFileName("tavroset");
    return runTavroset(app);
}
