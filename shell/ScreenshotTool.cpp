// tavroset-screenshots OUTDIR SUFFIX: renders every dialog of the desktop tool into
// OUTDIR/<dialog>-<SUFFIX>.png, in the language of the system locale (TAVRO_ETC_ROOT
// redirects it). With the virtual printer's environment set (TAVRO_EXTRA_PORTS), the user
// setup dialog shows the values it read from that printer; otherwise its Default form.
// Run on the offscreen platform or under Xvfb by scripts/screenshots.sh.
#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "shell/CToolApp.h"
#include "qthost/QtClock.h"
#include "network/ui/CNetworkDlg.h"
#include "port/CPorts.h"
#include "setup/SetupSession.h"
#include "setup/ui/CUserSetupDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>

#include <cstdio>
#include <filesystem>

namespace {

// Answers every question with Yes and lets every message pass: the pictures show the
// dialogs, not the boxes.
class SilentPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon, std::string_view) override
    {
        std::fprintf(stderr, "screenshots: message: %.*s\n", static_cast<int>(text.size()), text.data());
        return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::Yes;
    }
};

bool save(QWidget& widget, const QString& dir, const QString& name, const QString& suffix)
{
    widget.show();
    widget.adjustSize();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QString file = QDir(dir).filePath(name + "-" + suffix + ".png");
    bool ok = widget.grab().save(file);
    std::fprintf(stderr, "screenshots: %s %s\n", ok ? "wrote" : "FAILED", file.toLocal8Bit().constData());
    widget.hide();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavroset-screenshots OUTDIR SUFFIX\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString suffix = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);

    SilentPrompter prompter;
    QtClock clock;
    CErrorLog& log = theErrorLog();
    Profile profile(Profile::defaultPath(std::filesystem::current_path()));
    CPorts ports(prompter, clock, log);
    DeviceRoots roots = DeviceRoots::fromEnvironment();
    bool ok = true;

    ConnectionSettings chosen;
    ConnectDlgDeps deps{prompter, clock, profile, log, portDiscovery(ports, log, roots), portNetworkLink(),
                        LocaleSources::fromEnvironment(), "error.log", {}};
    deps.runMenu = [&](QWidget*, const ConnectionSettings& s) { chosen = s; };
    CConnectDlg connect(std::move(deps));
    const bool korean = connect.korean();
    auto* device = connect.findChild<QComboBox*>("ctl1000");
    device->setCurrentIndex(device->findText("TAVRO36/38 S"));
    connect.onDeviceChange();
    ok &= save(connect, outDir, "connect", suffix);
    connect.onOk();
    if (chosen.portName.empty()) {
        // No serial port on this machine: show the menu for a made-up one.
        chosen.portName = "/dev/ttyS0";
        chosen.baudRate = 115200;
        chosen.byteSize = 8;
        chosen.parity = 0;
        chosen.flowCtrl = 1;
        chosen.modelFamily = kFamilyTavro36;
    }

    MenuDlgDeps menuDeps;
    menuDeps.korean = korean;
    CMenuDlg menu(chosen, menuDeps);
    ok &= save(menu, outDir, "menu", suffix);

    CNetworkDlg& network = connect.networkDialog();
    network.prepare("ETHERNET_II");
    ok &= save(network, outDir, "network-ethernet", suffix);
    network.prepare("WIFI");
    ok &= save(network, outDir, "network-wlan", suffix);

    // The user setup: over the virtual printer's serial port when there is one, else over
    // an output file with the Default form.
    const std::string serial = chosen.portName;
    const bool printer = serial.find("ttySIM") != std::string::npos;
    for (int family : {kFamilyTavro46, kFamilyTavro36}) {
        applySettings(ports, chosen);
        ports.m_ModelFamily = family;
        if (!printer)
            ports.m_PortName = "screenshot.prn";
        ConnectionSettings shown = chosen;
        shown.modelFamily = family;
        UserSetupDlgDeps setupDeps{ports, prompter, clock, profile, log, korean, connectionSummary(shown)};
        CUserSetupDlg setup(setupDeps);
        if (setup.failedToOpen()) {
            ok = false;
            continue;
        }
        if (printer) {
            setup.onGetValue();
            QtClock::waitUntil([&] { return setup.session().Answered(255); }, std::chrono::seconds(10));
        } else {
            setup.onDefault();
        }
        ok &= save(setup, outDir, family == kFamilyTavro36 ? "user-setup-tavro36" : "user-setup", suffix);
        setup.onExit();
    }
    return ok ? 0 : 1;
}
