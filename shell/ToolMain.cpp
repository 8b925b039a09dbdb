#include "shell/ToolMain.h"

#include "app/AppPaths.h"
#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "port/CPorts.h"
#include "qthost/QtClock.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtPrompter.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "shell/CToolApp.h"
#ifdef TAVRO_HAVE_FIRMWARE_UI
#include "firmware/DownloadNote.h"
#include "firmware/ui/CFwDownload15Dlg.h"
#include "firmware/ui/CFwUpdateDlg.h"
#include "port/PrinterConnection.h"
#endif
#ifdef TAVRO_HAVE_SETUP_UI
#include "setup/ui/CUserSetupDlg.h"
#endif
#ifdef TAVRO_HAVE_LOGO_UI
#include "logo/ui/CMyProperty.h"
#include "port/PrinterConnection.h"
#endif
#ifdef TAVRO_HAVE_STATE_UI
#include "state/ui/CPrinterProfileDlg.h"
#endif

#include <QApplication>
#include <QGuiApplication>

#include <climits>
#include <cstdio>
#include <unistd.h>

MenuDlgDeps toolMenuDeps(ToolRun& run, const ConnectionSettings& settings, bool korean)
{
    MenuDlgDeps menuDeps;
    menuDeps.korean = korean;
    CPorts& ports = run.ports;
    menuDeps.setFunction = [&ports](int function) { ports.m_Function = static_cast<std::uint8_t>(function); };
#ifdef TAVRO_HAVE_SETUP_UI
    menuDeps.runUserSetup = [&run, korean](QWidget* menu, const std::string& summary) {
        UserSetupDlgDeps setupDeps{run.ports, run.prompter, run.clock, run.profile, run.log, korean, summary};
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
    menuDeps.runLogo = [&run, settings, korean](QWidget* menu, const std::string& summary) {
        LogoSheetDeps d{run.prompter, run.clock, run.profile, run.log, settings, korean, summary,
                        [&run](const ConnectionSettings& s) {
                            return makeConnection(s, ConnectionHost{run.clock, run.prompter, run.log, &run.ports});
                        },
                        {}};
        CMyProperty sheet(d, menu);
        sheet.exec();
    };
#endif
#ifdef TAVRO_HAVE_FIRMWARE_UI
    menuDeps.runFirmware = [&run, settings, korean](QWidget* menu, const std::string& summary) {
        auto connectWith = [&run](const ConnectionSettings& s) {
            return makeConnection(s, ConnectionHost{run.clock, run.prompter, run.log, &run.ports});
        };
        auto connect = [connectWith, settings] { return connectWith(settings); };
        // Service mode: Ctrl held down while the dialog opens.
        const bool service = run.controlHeld
                                 ? run.controlHeld()
                                 : QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
        if (settings.modelFamily == kFamilyTavro15) {
            FwDownload15DlgDeps d{run.prompter, run.clock, run.profile, run.log, settings, korean, summary, connectWith, {}, {}};
            d.serviceMode = service;
            d.noteFolder = run.noteFolder;
            CFwDownload15Dlg dlg(d, menu);
            dlg.exec();
        } else {
            FwUpdateDlgDeps d{run.prompter, run.clock, run.profile, run.log, settings, korean, summary, service, connect, {}, {}};
            d.noteFolder = run.noteFolder;
            CFwUpdateDlg dlg(d, menu);
            dlg.exec();
        }
        // The firmware dialogs may leave the port object open; the menu's button closes it.
        if (run.ports.m_IsOpen)
            run.ports.Close();
    };
#endif
#ifdef TAVRO_HAVE_STATE_UI
    menuDeps.runProfile = [&run, settings, korean](QWidget* menu, const std::string& summary) {
        // The record is tavroctl's, so `tavroctl history` lists what the desktop applied.
        PrinterProfileDlgDeps d{run.prompter, run.log, settings, korean, summary, &run.ports};
        d.recordFile = run.recordFile;
        CPrinterProfileDlg dlg(d, menu);
        dlg.exec();
    };
#endif
    return menuDeps;
}

void runFunctionMenu(ToolRun& run, QWidget* parent, const ConnectionSettings& settings)
{
    applySettings(run.ports, settings);
    CMenuDlg menu(settings, toolMenuDeps(run, settings, g_pMsg == &koreanCatalog()), parent);
    menu.exec();
    // A tool that left the port open gets it closed here at the latest.
    if (run.ports.m_IsOpen)
        run.ports.Close();
}

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
    // Qt's own texts (the file dialog, its buttons) follow the language the dialogs take.
    if (!useQtTranslations(systemDefaultIsKorean(LocaleSources::fromEnvironment())))
        std::fputs("tavroset: Qt's Korean translations (qt6-translations-l10n) are not installed\n", stderr);

    ConnectDlgDeps deps{prompter, clock, profile, log, portDiscovery(ports, log, DeviceRoots::fromEnvironment()),
                        portNetworkLink(), LocaleSources::fromEnvironment(), paths.errorLog.string(), {}};
    ToolRun run{ports, prompter, clock, profile, log, {}};
#ifdef TAVRO_HAVE_FIRMWARE_UI
    run.noteFolder = noteFolder;
#endif
    deps.runMenu = [&run](QWidget* parent, const ConnectionSettings& settings) {
        runFunctionMenu(run, parent, settings);
    };

    CConnectDlg dialog(std::move(deps));
    int result = dialog.exec();
    if (result != QDialog::Accepted && ports.m_IsOpen)
        ports.Close();
    return 0;
}
