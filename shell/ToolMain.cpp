#include "shell/ToolMain.h"

#include "app/AppPaths.h"
#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "port/CPorts.h"
#include "qthost/QtClock.h"
#include "qthost/QtPrompter.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "shell/CToolApp.h"
#ifdef TAVRO_HAVE_FIRMWARE_UI
#include "firmware/DownloadNote.h"
#include "firmware/ui/CFwDownload15Dlg.h"
#include "firmware/ui/CFwUpdateDlg.h"
#include "port/PrinterConnection.h"
#include <QGuiApplication>
#endif
#ifdef TAVRO_HAVE_SETUP_UI
#include "setup/ui/CUserSetupDlg.h"
#endif
#ifdef TAVRO_HAVE_LOGO_UI
#include "logo/ui/CMyProperty.h"
#include "port/PrinterConnection.h"
#endif

#include <QApplication>

#include <climits>
#include <cstdio>
#include <unistd.h>

int runTavroset(QApplication&)
{
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

#ifdef TAVRO_HAVE_FIRMWARE_UI
    // A firmware download that was killed, or that ended early and was not repeated, left a
    // note next to the profile: say what the printer holds before anything else.
    const std::filesystem::path noteFolder = paths.profile.parent_path();
    showDownloadNotices(prompter, noteFolder, systemDefaultIsKorean());
#endif

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
            // The printer left the connection (USB mode change) and the user chose to make it
            // again: the menu goes too, back to the connection dialog.
            if (setup.backToConnection())
                if (auto* dialog = qobject_cast<QDialog*>(menu))
                    dialog->reject();
        };
#endif
#ifdef TAVRO_HAVE_LOGO_UI
        menuDeps.runLogo = [&](QWidget* menu, const std::string& summary) {
            LogoSheetDeps d{prompter, clock, profile, log, settings, menuDeps.korean, summary,
                            [&](const ConnectionSettings& s) {
                                return makeConnection(s, ConnectionHost{clock, prompter, log, &ports});
                            },
                            {}};
            CMyProperty sheet(d, menu);
            sheet.exec();
        };
#endif
#ifdef TAVRO_HAVE_FIRMWARE_UI
        menuDeps.runFirmware = [&](QWidget* menu, const std::string& summary) {
            auto connectWith = [&](const ConnectionSettings& s) {
                return makeConnection(s, ConnectionHost{clock, prompter, log, &ports});
            };
            auto connect = [&] { return connectWith(settings); };
            // Service mode: Ctrl held down while the dialog opens.
            const bool service = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
            if (settings.modelFamily == kFamilyTavro15) {
                FwDownload15DlgDeps d{prompter, clock, profile, log, settings, menuDeps.korean, summary, connectWith, {}, {}};
                d.serviceMode = service;
                d.noteFolder = noteFolder;
                CFwDownload15Dlg dlg(d, menu);
                dlg.exec();
                return;
            }
            FwUpdateDlgDeps d{prompter, clock, profile, log, settings, menuDeps.korean, summary, service, connect, {}, {}};
            d.noteFolder = noteFolder;
            CFwUpdateDlg dlg(d, menu);
            dlg.exec();
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
