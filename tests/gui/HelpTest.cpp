// Help: F1 on every dialog and page opens the one help window on that dialog's page in the
// tool's language; the window outlives the dialog that opened it; the help folder holds every
// topic in both languages with links that resolve; the folder is found beside the program.
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "firmware/ui/CFwDownload15Dlg.h"
#include "firmware/ui/CFwUpdateDlg.h"
#include "logo/ui/CMyProperty.h"
#include "logo/ui/LogoProgressDlg.h"
#include "network/ui/CNetworkDlg.h"
#include "network/ui/CNetworkSettingDlg.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"
#include "qthost/HelpBrowser.h"
#include "qthost/HelpFolder.h"
#include "setup/ui/CUserSetupDlg.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "state/ui/CPrinterProfileDlg.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

namespace {

namespace fs = std::filesystem;

// The dialogs of the tool as the tests build them: every printer behind them is a file.
class HelpDialogs {
public:
    HelpDialogs()
    {
        ports.m_PortName = (work.path() / "setup.prn").string();
        ports.m_ModelFamily = kFamilyTavro46;
        settings.portName = (work.path() / "logo.prn").string();
        settings.modelFamily = kFamilyTavro46;
    }

    std::unique_ptr<QWidget> connect(bool korean)
    {
        etc = std::make_unique<FakeEtc>(korean ? "ko_KR.UTF-8" : "en_US.UTF-8");
        ConnectDlgDeps deps{prompter, clock, profile, log, {}, {}, LocaleSources{etc->path(), std::nullopt},
                            (work.path() / "error.log").string(), {}};
        return std::make_unique<CConnectDlg>(std::move(deps));
    }
    std::unique_ptr<QWidget> menu(bool korean)
    {
        MenuDlgDeps deps;
        deps.korean = korean;
        return std::make_unique<CMenuDlg>(settings, deps);
    }
    std::unique_ptr<QWidget> userSetup(bool korean)
    {
        return std::make_unique<CUserSetupDlg>(UserSetupDlgDeps{ports, prompter, clock, profile, log, korean, "test"});
    }
    std::unique_ptr<QWidget> logoSheet(bool korean, CMyProperty::Page page)
    {
        LogoSheetDeps deps{prompter, clock, profile, log, settings, korean, "test",
                           [this](const ConnectionSettings& s) {
                               return makeConnection(s, ConnectionHost{clock, prompter, log, nullptr});
                           },
                           {}};
        auto sheet = std::make_unique<CMyProperty>(deps);
        sheet->show();
        sheet->showPage(page);
        return sheet;
    }
    std::unique_ptr<QWidget> firmware(bool korean)
    {
        FwUpdateDlgDeps deps{prompter, clock, profile, log, settings, korean, "test", false, {}, {}, {}, work.path()};
        return std::make_unique<CFwUpdateDlg>(deps);
    }
    std::unique_ptr<QWidget> firmware15(bool korean)
    {
        ConnectionSettings s = settings;
        s.modelFamily = kFamilyTavro15;
        FwDownload15DlgDeps deps{prompter, clock, profile, log, s, korean, "test", {}, {}, {}, nullptr, false, work.path()};
        return std::make_unique<CFwDownload15Dlg>(deps);
    }
    std::unique_ptr<QWidget> network(bool korean)
    {
        auto dlg = std::make_unique<CNetworkDlg>(prompter, NetworkLinkCalls{}, korean);
        dlg->prepare("ETHERNET_II");
        return dlg;
    }
    std::unique_ptr<QWidget> networkSetting(bool korean)
    {
        UdpSettings udp;
        udp.destination = "127.0.0.1";
        udp.bindAddress = "127.0.0.1";
        return std::make_unique<CNetworkSettingDlg>(prompter, udp, korean, false);
    }

    std::unique_ptr<QWidget> printerProfile(bool korean)
    {
        return std::make_unique<CPrinterProfileDlg>(PrinterProfileDlgDeps{prompter, log, settings, korean, "test"});
    }

    TempDir work;
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log{&clock};
    Profile profile{work.path() / "tavroset.INI"};
    CPorts ports{prompter, clock, log};
    ConnectionSettings settings;
    std::unique_ptr<FakeEtc> etc;
};

struct F1Case {
    const char* name;
    const char* topic;
    std::function<std::unique_ptr<QWidget>(HelpDialogs&, bool korean)> make;
};

const F1Case kF1Cases[] = {
    {"Connect", "connect", [](HelpDialogs& d, bool ko) { return d.connect(ko); }},
    {"Menu", "menu", [](HelpDialogs& d, bool ko) { return d.menu(ko); }},
    {"UserSetup", "user-setup", [](HelpDialogs& d, bool ko) { return d.userSetup(ko); }},
    {"BitmapSelection", "bitmap-selection", [](HelpDialogs& d, bool ko) { return d.logoSheet(ko, CMyProperty::kSelection); }},
    {"Preview", "preview", [](HelpDialogs& d, bool ko) { return d.logoSheet(ko, CMyProperty::kPreview); }},
    {"LogoUpload", "logo-upload", [](HelpDialogs& d, bool ko) { return d.logoSheet(ko, CMyProperty::kUpload); }},
    {"LogoPrintout", "logo-printout", [](HelpDialogs& d, bool ko) { return d.logoSheet(ko, CMyProperty::kPrint); }},
    {"LogoSetup", "logo-setup", [](HelpDialogs& d, bool ko) { return d.logoSheet(ko, CMyProperty::kSetup); }},
    {"Uploading", "logo-upload", [](HelpDialogs&, bool ko) { return std::make_unique<CProgress>(ko); }},
    {"Printing", "logo-printout", [](HelpDialogs&, bool ko) { return std::make_unique<CPrintingDlg>(ko); }},
    {"FirmwareUpdate", "firmware-update", [](HelpDialogs& d, bool ko) { return d.firmware(ko); }},
    {"FirmwareTavro15", "firmware-update", [](HelpDialogs& d, bool ko) { return d.firmware15(ko); }},
    {"EthernetII", "ethernet-ii", [](HelpDialogs& d, bool ko) { return d.network(ko); }},
    {"NetworkSetting", "network-setting", [](HelpDialogs& d, bool ko) { return d.networkSetting(ko); }},
    {"PrinterProfile", "printer-profile", [](HelpDialogs& d, bool ko) { return d.printerProfile(ko); }},
};

// The widget a user's F1 reaches: the current tab page's first button on a sheet, else the
// dialog's first button (the key travels up from there).
QWidget* keyTarget(QWidget* dialog)
{
    QWidget* within = dialog;
    if (auto* tabs = dialog->findChild<QTabWidget*>())
        within = tabs->currentWidget();
    auto* button = within->findChild<QAbstractButton*>();
    return button ? static_cast<QWidget*>(button) : within;
}

class HelpF1Test : public ::testing::TestWithParam<std::tuple<F1Case, bool>> {
protected:
    void SetUp() override { ::unsetenv("TAVRO_HELP_DIR"); }
    void TearDown() override
    {
        if (HelpBrowser* b = help::browser())
            b->hide();
        selectCatalog(false);
    }
};

TEST_P(HelpF1Test, OpensTheDialogsPageInTheToolsLanguage)
{
    const auto& [c, korean] = GetParam();
    selectCatalog(korean);
    HelpDialogs dialogs;
    std::unique_ptr<QWidget> dialog = c.make(dialogs, korean);
    dialog->show();
    QTest::keyClick(keyTarget(dialog.get()), Qt::Key_F1);

    HelpBrowser* browser = help::browser();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->isVisible());
    // A child of the dialog: a modal dialog blocks every other window.
    EXPECT_EQ(browser->parentWidget(), dialog.get());
    const fs::path shown = browser->source().toLocalFile().toStdString();
    EXPECT_EQ(shown.filename(), std::string(c.topic) + ".html");
    EXPECT_EQ(shown.parent_path().filename(), korean ? "ko" : "en");
    EXPECT_TRUE(fs::is_regular_file(shown)) << shown;
    EXPECT_EQ(browser->windowTitle(), korean ? QString::fromUtf8("TAVROSet 도움말") : QString("TAVROSet Help"));
    EXPECT_FALSE(browser->view()->toPlainText().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryDialog, HelpF1Test, ::testing::Combine(::testing::ValuesIn(kF1Cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Korean" : "English");
                         });

// One window for the whole run: it follows the dialog that asks, survives the one that closes,
// keeps its history and answers the keyboard.
TEST(HelpBrowserTest, OneWindowThatOutlivesItsDialogAndAnswersTheKeyboard)
{
    ::unsetenv("TAVRO_HELP_DIR");
    selectCatalog(false);
    HelpDialogs dialogs;
    auto sheet = dialogs.logoSheet(false, CMyProperty::kPreview);
    // F1 on the tab bar (outside every page) opens the page the tabs show.
    QTest::keyClick(sheet->findChild<QTabBar*>(), Qt::Key_F1);
    HelpBrowser* browser = help::browser();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/preview.html"));

    // Following a link (as a click resolves it), then back with the keyboard.
    browser->view()->setSource(browser->source().resolved(QUrl("logo-setup.html")));
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/logo-setup.html"));
    auto* back = browser->findChild<QPushButton*>("helpBack");
    EXPECT_TRUE(back->isEnabled());
    QTest::keyClick(browser->view(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/preview.html"));
    browser->findChild<QPushButton*>("helpContents")->click();
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/index.html"));

    // The sheet closes: the window stays, on its own.
    sheet->hide();
    sheet.reset();
    ASSERT_EQ(help::browser(), browser);
    EXPECT_TRUE(browser->isVisible());
    EXPECT_EQ(browser->parentWidget(), nullptr);

    // The next dialog's F1 reuses it.
    auto menu = dialogs.menu(false);
    menu->show();
    QTest::keyClick(menu.get(), Qt::Key_F1);
    EXPECT_EQ(help::browser(), browser);
    EXPECT_EQ(browser->parentWidget(), menu.get());
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/menu.html"));

    // F1 inside the help window opens nothing else; Esc closes it.
    QTest::keyClick(browser->view(), Qt::Key_F1);
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("/en/menu.html"));
    QTest::keyClick(browser, Qt::Key_Escape);
    EXPECT_FALSE(browser->isVisible());
}

TEST(HelpBrowserTest, MissingPagesSayWhereTheyWereLookedFor)
{
    TempDir empty;
    ::setenv("TAVRO_HELP_DIR", empty.path().c_str(), 1);
    HelpBrowser browser;
    EXPECT_FALSE(browser.showTopic("menu", false));
    EXPECT_TRUE(browser.source().isEmpty());
    EXPECT_TRUE(browser.view()->toPlainText().contains(QString::fromStdString(empty.path().string())));

    // A folder with the contents but without the topic names the missing file.
    fs::create_directories(empty.path() / "en");
    writeFileBytes(empty.path() / "en" / "index.html", "<p>contents</p>");
    EXPECT_FALSE(browser.showTopic("menu", true));
    EXPECT_TRUE(browser.view()->toPlainText().contains("menu.html"));
    EXPECT_TRUE(browser.showTopic("index", true)); // no Korean page: the English one
    EXPECT_TRUE(browser.source().toLocalFile().endsWith("/en/index.html"));
    ::unsetenv("TAVRO_HELP_DIR");
}

// --- the help folder -----------------------------------------------------------------------

// Every topic in both languages and nothing else; every link resolves (file and anchor);
// the contents link every topic; the build's copy is the source's.
TEST(HelpPagesTest, EveryTopicInBothLanguagesWithLinksThatResolve)
{
    const fs::path source = fs::path(TAVRO_SOURCE_DIR) / "docs" / "help";
    const fs::path built = fs::path(TAVRO_BIN_DIR).parent_path() / "share" / "tavroset" / "help";
    std::set<std::string> topics;
    for (std::string_view t : helpTopics())
        topics.insert(std::string(t) + ".html");
    const QRegularExpression href(R"re(href="([^"]*)")re");
    for (const char* lang : {"en", "ko"}) {
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(source / lang))
            files.insert(entry.path().filename().string());
        EXPECT_EQ(files, topics) << lang;
        std::set<std::string> fromIndex;
        for (const std::string& file : files) {
            const std::string html = readFileBytes(source / lang / file);
            SCOPED_TRACE(std::string(lang) + "/" + file);
            EXPECT_NE(html.find(std::string("<html lang=\"") + lang + "\">"), std::string::npos);
            EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
            EXPECT_EQ(readFileBytes(built / lang / file), html) << "the build's copy is stale: run cmake again";
            auto links = QRegularExpression(href).globalMatch(QString::fromStdString(html));
            while (links.hasNext()) {
                const QString link = links.next().captured(1);
                ASSERT_FALSE(link.contains(':')) << "not a page of the folder: " << link.toStdString();
                const std::string target = link.section('#', 0, 0).toStdString();
                const std::string anchor = link.section('#', 1).toStdString();
                EXPECT_TRUE(topics.count(target)) << "broken link " << link.toStdString();
                if (!anchor.empty() && topics.count(target)) {
                    EXPECT_NE(readFileBytes(source / lang / target).find("id=\"" + anchor + "\""), std::string::npos)
                        << "no anchor " << link.toStdString();
                }
                if (file == "index.html")
                    fromIndex.insert(target);
            }
        }
        fromIndex.insert("index.html");
        EXPECT_EQ(fromIndex, topics) << "the contents of " << lang << " do not link every topic";
    }
}

// Where the folder is found: the override alone when set; else beside the program's bin/.
TEST(HelpFolderTest, FoundBesideTheProgramOrWhereTheOverrideSays)
{
    TempDir root;
    const fs::path installed = root.path() / "usr" / "share" / "tavroset" / "help";
    fs::create_directories(installed / "en");
    fs::create_directories(installed / "ko");
    writeFileBytes(installed / "en" / "index.html", "<p/>");
    writeFileBytes(installed / "ko" / "menu.html", "<p/>");
    const fs::path program = root.path() / "usr" / "bin" / "tavroset";
    const fs::path elsewhere = root.path() / "opt" / "bin" / "tavroset";

    struct Case {
        const char* what;
        std::optional<fs::path> override;
        fs::path executable;
        std::optional<fs::path> found;
        std::vector<fs::path> tried;
    };
    const Case cases[] = {
        {"installed", std::nullopt, program, installed, {installed}},
        {"no pages beside the program", std::nullopt, elsewhere, std::nullopt, {root.path() / "opt/share/tavroset/help"}},
        {"override with pages", installed, elsewhere, installed, {installed}},
        {"override without pages wins", root.path() / "opt", program, std::nullopt, {root.path() / "opt"}},
        {"program unknown", std::nullopt, fs::path(), std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<fs::path> tried;
        EXPECT_EQ(findHelpFolder(HelpPlaces{c.override, c.executable}, &tried), c.found);
        EXPECT_EQ(tried, c.tried);
    }
    EXPECT_EQ(helpPage(installed, "menu", true), installed / "ko" / "menu.html");
    EXPECT_EQ(helpPage(installed, "connect", true), installed / "en" / "connect.html");
    EXPECT_EQ(helpPage(installed, "menu", false), installed / "en" / "menu.html");

    // The environment: an empty TAVRO_HELP_DIR is no override; this test program, built into
    // <build>/bin, finds the build's copy as the installed tool finds /usr/share's.
    ::setenv("TAVRO_HELP_DIR", "", 1);
    const HelpPlaces places = HelpPlaces::fromEnvironment();
    ::unsetenv("TAVRO_HELP_DIR");
    EXPECT_FALSE(places.override);
    EXPECT_EQ(places.executable.parent_path(), fs::path(TAVRO_BIN_DIR));
    EXPECT_EQ(findHelpFolder(places), (fs::path(TAVRO_BIN_DIR) / ".." / "share" / "tavroset" / "help").lexically_normal());
}

} // namespace
