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
#include "shell/ShellControls.h"
#include "qthost/QtClock.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"
#include "network/ui/CNetworkDlg.h"
#include "network/ui/CNetworkSettingDlg.h"
#include "qthost/HelpBrowser.h"
#include "port/CPorts.h"
#include "setup/SetupSession.h"
#include "setup/ui/CUserSetupDlg.h"
#ifdef TAVRO_HAVE_LOGO_UI
#include "logo/ui/CMyProperty.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoProgressDlg.h"
#include "port/PrinterConnection.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPainter>
#include <QTabWidget>
#include <QTreeWidget>
#endif

#ifdef TAVRO_HAVE_STATE_UI
#include "common/FileIo.h"
#include "state/ui/CPrinterProfileDlg.h"
#endif
#ifdef TAVRO_HAVE_FIRMWARE_UI
#include "firmware/ui/CFwDownload15Dlg.h"
#include "firmware/ui/CFwUpdateDlg.h"
#endif

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QScrollArea>

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
    // A long form scrolls on a small screen; the picture shows all of it.
    QSize grow(0, 0);
    for (QScrollArea* area : widget.findChildren<QScrollArea*>())
        if (area->widget() && area->isVisible())
            grow = grow.expandedTo(area->widget()->sizeHint() - area->viewport()->size());
    if (!grow.isNull()) {
        widget.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        widget.resize(widget.size() + grow);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    QString file = QDir(dir).filePath(name + "-" + suffix + ".png");
    bool ok = widget.grab().save(file);
    std::fprintf(stderr, "screenshots: %s %s\n", ok ? "wrote" : "FAILED", file.toLocal8Bit().constData());
    widget.hide();
    return ok;
}

#ifdef TAVRO_HAVE_LOGO_UI
// A shop's logo as a user would draw it: an emblem with a gradient (so the dithering shows)
// and the shop's name.
QString writeSampleLogo(const QString& dir)
{
    QImage image(360, 120, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(60, 60), 56);
    shade.setColorAt(0, QColor(230, 230, 230));
    shade.setColorAt(1, QColor(40, 40, 40));
    p.setBrush(shade);
    p.setPen(QPen(Qt::black, 4));
    p.drawEllipse(QPointF(60, 60), 52, 52);
    p.setPen(QPen(Qt::white, 6));
    p.drawArc(QRectF(34, 30, 52, 52), 200 * 16, 140 * 16);
    p.setPen(Qt::black);
    QFont font("DejaVu Sans", 30, QFont::Bold);
    p.setFont(font);
    p.drawText(QRect(124, 14, 236, 52), Qt::AlignLeft | Qt::AlignVCenter, "HARBOUR");
    font.setPointSize(20);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QRect(126, 64, 236, 40), Qt::AlignLeft | Qt::AlignVCenter, "coffee & bakery");
    p.end();
    const QString file = QDir(dir).filePath("harbour-logo.bmp");
    return image.save(file, "BMP") ? file : QString();
}

// The logo tool's pages with a real logo in the list, the as-printed preview and the
// Uploading window.
bool saveLogoTool(Prompter& prompter, QtClock& clock, Profile& profile, CErrorLog& log,
                  const ConnectionSettings& settings, bool korean, const QString& dir, const QString& suffix)
{
    const QString logo = writeSampleLogo(QDir::currentPath());
    if (logo.isEmpty())
        return false;
    LogoSheetDeps deps{prompter, clock, profile, log, settings, korean, connectionSummary(settings),
                       [&](const ConnectionSettings& s) { return makeConnection(s, ConnectionHost{clock, prompter, log, nullptr}); },
                       [logo](QWidget*, const QString&) { return QStringList{logo}; }};
    CMyProperty sheet(deps);
    auto* first = qobject_cast<CPage1Selection*>(sheet.tabs()->widget(CMyProperty::kSelection));
    first->onOpenFile();
    first->panel()->tree()->topLevelItem(0)->setSelected(true);
    first->panel()->tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    bool ok = true;
    const char* names[] = {"logo-select", "logo-preview", "logo-upload", "logo-print", "logo-advanced"};
    for (int page = 0; page < 5; ++page) {
        sheet.showPage(CMyProperty::Page(page));
        ok &= save(sheet, dir, names[page], suffix);
    }
    sheet.showPage(CMyProperty::kPreview);
    auto* preview = qobject_cast<CPage2Preview*>(sheet.tabs()->widget(CMyProperty::kPreview));
    preview->asPrintedSwitch()->setChecked(true);
    ok &= save(sheet, dir, "logo-preview-printed", suffix);
    // The same logo as the top logo (centred twice), and in Double Width cut at the paper's edge.
    preview->printedBy()->setCurrentIndex(CPage2Preview::kAsTopLogo);
    ok &= save(sheet, dir, "logo-preview-top-logo", suffix);
    preview->printedBy()->setCurrentIndex(CPage2Preview::kByPrint);
    first->panel()->tree()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    if (auto* wide = preview->findChild<QAbstractButton*>(controlName(logo_ctl::kPreviewDoubleWidth)))
        wide->click();
    preview->refresh();
    ok &= save(sheet, dir, "logo-preview-double-width", suffix);

    CProgress progress(korean);
    progress.report({9216, 13680, "Updating(9216/13680)...harbour-logo.bmp"});
    ok &= save(progress, dir, "logo-uploading", suffix);
    CPrintingDlg printing(korean);
    printing.report({2, 5, "Printing... 2/5"});
    ok &= save(printing, dir, "logo-printing", suffix);
    return ok;
}
#endif

#ifdef TAVRO_HAVE_STATE_UI
// The Printer Profile dialog with the plan of a shop's profile for the virtual printer, and
// after the apply; the printer gets its own settings back afterwards, so that the next
// language's pictures show the same plan. Without the virtual printer: the dialog as it opens.
bool saveProfileDialog(Prompter& prompter, CErrorLog& log, ConnectionSettings settings, bool printer, bool korean,
                       const QString& dir, const QString& suffix)
{
    settings.modelFamily = kFamilyTavro46;
    const std::filesystem::path here = std::filesystem::current_path();
    std::string open;
    PrinterProfileDlgDeps deps{prompter, log, settings, korean, connectionSummary(settings)};
    deps.recordFile = here / "record.sqlite";
    deps.chooseOpenFile = [&open](QWidget*) { return open; };
    deps.chooseSaveFile = [&here](QWidget*, const std::string&) { return (here / "factory.yaml").string(); };
    CPrinterProfileDlg dlg(deps);
    auto finish = [&dlg] { return QtClock::waitUntil([&dlg] { return !dlg.jobRunning(); }, std::chrono::seconds(60)); };
    if (!printer)
        return save(dlg, dir, "printer-profile", suffix);
    dlg.onSave();
    bool ok = finish();
    const std::filesystem::path shop = here / "harbour-coffee.yaml";
    ok &= bool(writeFileAtomically(shop, "tavro: 1\nmodel: TAVRO46/48\nsettings:\n  speed: 150\n  cut_mode: full\n"
                                         "  emulation: star\nlogo_settings:\n  top: {enabled: true, number: 1, align: center}\n"
                                         "  bottom: {enabled: false, number: 1, align: center}\n  power_on: false\n"));
    open = shop.string();
    dlg.onOpen();
    ok &= finish();
    ok &= save(dlg, dir, "printer-profile", suffix);
    dlg.onApply();
    ok &= finish();
    ok &= save(dlg, dir, "printer-profile-applied", suffix);
    open = (here / "factory.yaml").string();
    dlg.onOpen();
    ok &= finish();
    dlg.onApply();
    ok &= finish();
    return ok;
}
#endif

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
    useQtTranslations(korean);
    auto* device = findControl<QComboBox>(&connect, connectdlg::Device);
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
    // The menu as the tool shows it: every tool this build has is offered.
    menuDeps.runUserSetup = [](QWidget*, const std::string&) {};
    menuDeps.runFirmware = [](QWidget*, const std::string&) {};
    menuDeps.runProfile = [](QWidget*, const std::string&) {};
#ifdef TAVRO_HAVE_LOGO_UI
    menuDeps.runLogo = [](QWidget*, const std::string&) {};
#endif
    CMenuDlg menu(chosen, menuDeps);
    ok &= save(menu, outDir, "menu", suffix);

    CNetworkDlg& network = connect.networkDialog();
    network.prepare("ETHERNET_II");
    ok &= save(network, outDir, "network-ethernet", suffix);
    network.prepare("WIFI");
    ok &= save(network, outDir, "network-wlan", suffix);
    {
        // No search: the picture shows the dialog as it opens (in service mode, with every
        // control).
        UdpSettings udp;
        udp.destination = "127.0.0.1";
        udp.bindAddress = "127.0.0.1";
        CNetworkSettingDlg setting(prompter, udp, korean, true);
        ok &= save(setting, outDir, "network-setting", suffix);
    }
#ifdef TAVRO_HAVE_FIRMWARE_UI
    {
        // In service mode, so that every area shows; no file chosen yet.
        ConnectionSettings fw = chosen;
        fw.modelFamily = kFamilyTavro46;
        FwUpdateDlgDeps update{prompter, clock, profile, log, fw, korean, connectionSummary(fw), true,
                               {}, {}, {}, std::filesystem::current_path()};
        CFwUpdateDlg updateDlg(update);
        ok &= save(updateDlg, outDir, "firmware-update", suffix);
        fw.modelFamily = kFamilyTavro15;
        FwDownload15DlgDeps legacy{prompter, clock, profile, log, fw, korean, connectionSummary(fw), {}, {}, {},
                                   nullptr, true, std::filesystem::current_path()};
        CFwDownload15Dlg legacyDlg(legacy);
        ok &= save(legacyDlg, outDir, "firmware-tavro15", suffix);
    }
#endif
    {
        // The help window on its contents page, as F1 opens it.
        HelpBrowser* browser = help::show("index");
        ok &= save(*browser, outDir, "help", suffix);
    }

    // The user setup: over the virtual printer's serial port when there is one, else over
    // an output file with the Default form.
    const std::string serial = chosen.portName;
    const bool printer = serial.find("ttySIM") != std::string::npos;
    for (ModelFamily family : {kFamilyTavro46, kFamilyTavro36}) {
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
#ifdef TAVRO_HAVE_LOGO_UI
    ConnectionSettings logoSettings = chosen;
    logoSettings.modelFamily = kFamilyTavro46;
    ok &= saveLogoTool(prompter, clock, profile, log, logoSettings, korean, outDir, suffix);
#endif
#ifdef TAVRO_HAVE_STATE_UI
    ok &= saveProfileDialog(prompter, log, chosen, printer, korean, outDir, suffix);
#endif
    return ok ? 0 : 1;
}
