// The function menu as the desktop tool runs it (shell/ToolMain): every button opens its real
// tool on top of the menu with the run's port object, Firmware Download opens the model's
// dialog (the legacy one for a TAVRO15) in service mode only while Ctrl is held, and a port a
// tool left open is closed after it.
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "port/CPorts.h"
#include "shell/CMenuDlg.h"
#include "shell/ShellControls.h"
#include "shell/ToolMain.h"
#ifdef TAVRO_HAVE_FIRMWARE_UI
#include "firmware/ui/CFwUpdateDlg.h"
#include "firmware/ui/FirmwareControls.h"
#endif

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>

#include <string>

namespace {

class ToolMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        settings.portName = port;
        settings.modelFamily = kFamilyTavro36;
    }

    // Clicks the menu's button; `whileUp` sees the tool's window, then it is closed. The name
    // of the window that came up ("" for none: the watch ends with the click).
    std::string open(CMenuDlg& menu, int button, const std::function<void(QDialog&)>& whileUp = {})
    {
        std::string seen;
        QObject scope;
        auto* watch = new QTimer(&scope);
        QObject::connect(watch, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog == &menu)
                return;
            watch->stop();
            seen = dialog->objectName().toStdString();
            if (whileUp)
                whileUp(*dialog);
            dialog->reject();
        });
        watch->start(20);
        ctl<QPushButton>(&menu, button)->click();
        return seen;
    }
    // What a tool may leave behind: the port object open on the connection.
    void leavePortOpen()
    {
        ports.m_PortName = port;
        ASSERT_EQ(ports.Open(), 1);
        ASSERT_NE(ports.m_IsOpen.load(), 0);
    }

    TempDir work;
    const std::string port = (work.path() / "printer.prn").string();
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log{&clock};
    Profile profile{work.path() / "tavroset.INI"};
    CPorts ports{prompter, clock, log};
    bool ctrlHeld = false;
    ToolRun run{ports, prompter, clock, profile, log, [this] { return ctrlHeld; }};
    ConnectionSettings settings;
};

#ifdef TAVRO_HAVE_FIRMWARE_UI
TEST_F(ToolMenuTest, FirmwareDownloadOpensTheModelsDialogInServiceModeWithCtrlAndClosesThePort)
{
    struct Case {
        ModelFamily family;
        bool ctrl;
        const char* dialog;
        bool boot; // the Boot area offered: service mode
    };
    const Case cases[] = {
        {kFamilyTavro15, false, "CFwDownload15Dlg", false},
        {kFamilyTavro15, true, "CFwDownload15Dlg", true},
        {kFamilyTavro36, false, "CFwUpdateDlg", false},
        {kFamilyTavro46, true, "CFwUpdateDlg", true},
    };
    for (const Case& c : cases) {
        settings.modelFamily = c.family;
        ctrlHeld = c.ctrl;
        CMenuDlg menu(settings, toolMenuDeps(run, settings, false));
        bool service = !c.boot;
        const std::string seen = open(menu, menudlg::FirmwareDownload, [&](QDialog& d) {
            if (auto* update = qobject_cast<CFwUpdateDlg*>(&d))
                service = update->serviceMode();
            else if (auto* boot = ctl<QRadioButton>(&d, fw15::AreaBoot))
                service = boot->isVisibleTo(&d) && boot->isEnabled();
            leavePortOpen();
        });
        EXPECT_EQ(seen, c.dialog) << int(c.family) << " ctrl " << c.ctrl;
        EXPECT_EQ(service, c.boot) << seen;
        EXPECT_EQ(ports.m_Function, CMenuDlg::kFunctionFirmware);
        EXPECT_EQ(ports.m_IsOpen.load(), 0) << seen << ": the port is closed after the dialog";
    }
}
#endif

// The logo tool and User Setup open on top of the menu with the menu's connection; a TAVRO15
// offers no User Setup. Every tool of this build has its button enabled.
TEST_F(ToolMenuTest, EachButtonOpensItsToolAndSetsTheFunction)
{
    struct Case {
        int button;
        const char* dialog; // nullptr: not in this build
        int function;
    };
    const Case cases[] = {
#ifdef TAVRO_HAVE_LOGO_UI
        {menudlg::LogoDownload, "CMyProperty", CMenuDlg::kFunctionLogo},
#endif
        {0, nullptr, 0},
    };
    for (const Case& c : cases) {
        if (!c.dialog)
            continue;
        ports.m_Function = 0;
        CMenuDlg menu(settings, toolMenuDeps(run, settings, false));
        for (int id : {menudlg::LogoDownload, menudlg::UserSetup, menudlg::FirmwareDownload})
            EXPECT_TRUE(ctl<QPushButton>(&menu, id)->isEnabled()) << id;
        EXPECT_EQ(open(menu, c.button), c.dialog);
        EXPECT_EQ(ports.m_Function, c.function) << c.dialog;
    }
#ifdef TAVRO_HAVE_SETUP_UI
    // User Setup reads the printer as it opens: on a connection that is no printer it says so
    // and does not stay.
    CMenuDlg menu(settings, toolMenuDeps(run, settings, false));
    EXPECT_EQ(open(menu, menudlg::UserSetup), "");
    EXPECT_EQ(ports.m_Function, CMenuDlg::kFunctionUserSetup);
    EXPECT_FALSE(prompter.boxes().empty()) << "the user setup dialog tried the port";
    EXPECT_EQ(ports.m_IsOpen.load(), 0);
#endif
    settings.modelFamily = kFamilyTavro15;
    CMenuDlg tavro15(settings, toolMenuDeps(run, settings, false));
    EXPECT_FALSE(ctl<QPushButton>(&tavro15, menudlg::UserSetup)->isEnabled());
}

// Back from the menu closes a port that a tool left open, at the latest, and the menu's
// settings reach the port object.
TEST_F(ToolMenuTest, TheMenuRunHandsOverTheSettingsAndClosesALeftOpenPort)
{
    settings.baudRate = 38400;
    whenModal([&](QWidget* modal) {
        EXPECT_EQ(modal->objectName(), "CMenuDlg");
        EXPECT_EQ(ports.m_PortName, port);
        EXPECT_EQ(ports.m_BaudRate, 38400);
        leavePortOpen();
        ctl<QPushButton>(modal, menudlg::Back)->click();
    });
    runFunctionMenu(run, nullptr, settings);
    EXPECT_EQ(ports.m_IsOpen.load(), 0);
}

} // namespace
