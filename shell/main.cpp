// tavroset: the desktop tool. The connection dialog is the main window for the whole run;
// the function menu and the tools open modally on top of it.
#include "app/AppPaths.h"
#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Version.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "shell/CToolApp.h"
#include "qthost/QtClock.h"
#include "qthost/QtPrompter.h"
#include "port/CPorts.h"
#ifdef TAVRO_HAVE_SETUP_UI
#include "setup/ui/CUserSetupDlg.h"
#endif

#include <QApplication>

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// --help and --version answer without a display (help2man builds the man page from them).
bool answeredCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: tavroset [OPTION]...\n"
                        "The desktop tool for TAVRO 203-dpi thermal receipt printers: pick a printer model\n"
                        "and a connection, then read and write the user setup, print the test page,\n"
                        "manage NV logos, download firmware and change network settings.\n\n"
                        "Options:\n"
                        "  -h, --help     show this help and exit\n"
                        "  --version      show the version and exit\n\n"
                        "Qt's own options (-platform, -style, ...) are accepted as well.\n");
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tavroset %s%s\n", kVersionText, kVersionSuffix);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (answeredCommandLine(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavroset");
    // No application display name: the X11 and Wayland back ends would append it to every
    // window title, and the captions are the tool's own.
    QApplication::setDesktopFileName("tavroset");

    // The profile and the error log live in the start-up directory, as service staff
    // expect to find them next to where the tool was started; an installed tool started
    // from the desktop's menu has no profile there and uses the XDG places instead.
    char workingDir[256] = "";
    if (!::getcwd(workingDir, sizeof workingDir))
        std::fputs("_getcwd error\n", stderr);
    else
        std::printf("%s\n", workingDir);
    std::fflush(stdout);
    const AppPaths paths = resolveAppPaths(workingDir, XdgDirs::fromEnvironment());
    if (Status made = prepareAppPaths(paths); !made)
        std::fprintf(stderr, "tavroset: %s\n", made.message().c_str());
    Profile profile(paths.profile);

    QtPrompter prompter;
    QtClock clock;
    CErrorLog& log = theErrorLog();
    CPorts ports(prompter, clock, log);

    ConnectDlgDeps deps{prompter, clock, profile, log, portDiscovery(ports, log, DeviceRoots::fromEnvironment()),
                        portNetworkLink(), LocaleSources::fromEnvironment(), paths.errorLog.string(), {}};
    deps.runMenu = [&](QWidget* parent, const ConnectionSettings& settings) {
        applySettings(ports, settings);
        MenuDlgDeps menuDeps;
        menuDeps.korean = g_pMsg == &koreanCatalog();
        menuDeps.setFunction = [&](int function) { ports.m_Function = static_cast<std::uint8_t>(function); };
#ifdef TAVRO_HAVE_SETUP_UI
        menuDeps.runUserSetup = [&](QWidget* menu, const std::string& summary) {
            UserSetupDlgDeps setupDeps{ports, prompter, clock, profile, log, menuDeps.korean, summary};
            CUserSetupDlg setup(setupDeps, menu);
            setup.exec();
        };
#endif
        CMenuDlg menu(settings, menuDeps, parent);
        menu.exec();
        // A tool that left the port open gets it closed here at the latest.
        if (ports.m_IsOpen)
            ports.Close();
    };

    CConnectDlg dialog(std::move(deps));
    int result = dialog.exec();
    if (result != QDialog::Accepted && ports.m_IsOpen)
        ports.Close();
    return 0;
}
