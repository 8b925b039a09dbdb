// The Printer Profile dialog against tavro-sim: a profile applied to one printer, saved from
// it and applied to a second printer lists exactly what differs and makes it; a bad profile is
// refused with its key and line before a byte is sent; Cancel during an apply to a printer
// that stopped reading is answered at once and the window says what the printer holds. The
// menu offers the dialog where a printer can answer.
#include "BmpBuilder.h"
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/Profile.h"
#include "port/CPorts.h"
#include "qthost/QtClock.h"
#include "shell/CMenuDlg.h"
#include "shell/ShellControls.h"
#include "shell/ToolMain.h"
#include "state/StateRecord.h"
#include "state/ui/CPrinterProfileDlg.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <set>

namespace {

using namespace std::chrono_literals;
using Row = CPrinterProfileDlg::RowState;

bool simBuilt() { return std::filesystem::exists(SimProcess::defaultBinary()); }

class PrinterProfileDlgTest : public ::testing::Test {
protected:
    ConnectionSettings serial(const SimProcess& sim) const
    {
        ConnectionSettings s;
        s.portName = sim.serialPort();
        s.baudRate = 115200;
        s.byteSize = 8;
        s.parity = 0;
        s.flowCtrl = 3;
        s.modelFamily = kFamilyTavro46;
        return s;
    }
    ConnectionSettings tcp(const SimProcess& sim) const
    {
        ConnectionSettings s;
        s.portName = "ETHERNET_II";
        s.host = sim.tcpHost();
        s.tcpPort = sim.tcpPort();
        s.modelFamily = kFamilyTavro46;
        return s;
    }
    std::unique_ptr<CPrinterProfileDlg> make(const ConnectionSettings& settings, bool korean = false)
    {
        PrinterProfileDlgDeps deps{prompter, log, settings, korean, "TAVRO46/48 - " + settings.describe()};
        deps.recordFile = work / "record.sqlite";
        deps.chooseSaveFile = [this](QWidget*, const std::string& suggested) {
            suggestedNames.push_back(suggested);
            return saveAs;
        };
        deps.chooseOpenFile = [this](QWidget*) { return openFile; };
        deps.stallLimit = 20s;
        return std::make_unique<CPrinterProfileDlg>(deps);
    }
    // Runs one button's job to its end.
    void run(CPrinterProfileDlg& dlg, int button)
    {
        ctl<QPushButton>(&dlg, button)->click();
        ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg.jobRunning(); }, 60s)) << dlg.message().toStdString();
    }
    void plan(CPrinterProfileDlg& dlg, const std::filesystem::path& file)
    {
        openFile = file.string();
        run(dlg, profiledlg::Open);
    }
    // The table as "item|now|then|source" lines.
    static std::vector<std::string> rows(const CPrinterProfileDlg& dlg)
    {
        std::vector<std::string> out;
        for (int r = 0; r < dlg.table()->rowCount(); ++r) {
            std::string line;
            for (int c = 0; c < profiledlg::ResultColumn; ++c)
                line += (c ? "|" : "") + dlg.table()->item(r, c)->text().toStdString();
            out.push_back(line);
        }
        return out;
    }
    static std::vector<Row> states(const CPrinterProfileDlg& dlg)
    {
        std::vector<Row> out;
        for (int r = 0; r < int(dlg.plan().size()); ++r)
            out.push_back(dlg.rowState(r));
        return out;
    }
    void picture(const std::string& name, int w, int h)
    {
        BmpSpec s;
        s.width = w;
        s.height = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                s.pixels.push_back(((x / 4 + y / 3) % 2) ? 0xFFFFFF : 0x000000);
        writeFileBytes(work / name, asString(buildBmp(s)));
    }

    TempDir work;
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log{&clock};
    std::string saveAs, openFile;
    std::vector<std::string> suggestedNames;
};

const char* kShop = "tavro: 1\n"
                    "settings:\n"
                    "  speed: 150\n"
                    "  cut_mode: full\n"
                    "  emulation: star\n"
                    "logo_settings:\n"
                    "  top: {enabled: true, number: 1, align: left}\n"
                    "  bottom: {enabled: false, number: 1, align: center}\n"
                    "  power_on: false\n";

} // namespace

// One counter's day: the first printer gets the shop's profile, its profile is saved, and the
// next printer (factory settings) is brought to it. The table names exactly what differs on
// the second printer, with where "now" comes from; the apply verifies what the printer
// reports; the record keeps it (tavroctl history reads the same database); a second look
// finds nothing to change.
TEST_F(PrinterProfileDlgTest, SavedFromOnePrinterAppliedToTheNext)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess first({"--tcp", "127.0.0.1:0", "--family", "6", "--quiet"});
    SimProcess next({"--serial", "--family", "6", "--quiet"});
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(next.ok()) << next.error();
    writeFileBytes(work / "shop.yaml", kShop);

    auto a = make(tcp(first));
    plan(*a, work / "shop.yaml");
    ASSERT_EQ(a->plan().size(), 4u) << testing::PrintToString(rows(*a));
    run(*a, profiledlg::Apply);
    EXPECT_EQ(states(*a), (std::vector<Row>{Row::Verified, Row::Verified, Row::Applied, Row::Applied}))
        << a->message().toStdString();
    EXPECT_NE(a->message().indexOf("now holds the profile"), -1) << a->message().toStdString();
    EXPECT_EQ(a->progressBar()->value(), a->progressBar()->maximum());

    // Saved without an extension: the file gets .yaml, and no temporary is left beside it.
    saveAs = (work / "counter1").string();
    run(*a, profiledlg::Save);
    EXPECT_EQ(suggestedNames, std::vector<std::string>{"printer-profile.yaml"});
    ASSERT_TRUE(std::filesystem::exists(work / "counter1.yaml")) << a->message().toStdString();
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    a.reset();

    auto b = make(serial(next));
    plan(*b, work / "counter1.yaml");
    EXPECT_EQ(rows(*b), (std::vector<std::string>{
                            "settings.cut_mode|partial|full|printer",
                            "settings.speed|220|150|printer",
                            "settings.emulation|none|star|record",
                            "logo_settings|none|top on 1 left, bottom off 1 center, power_on off|record",
                        }))
        << b->message().toStdString();
    EXPECT_EQ(b->planSummary(), "4 changes");
    EXPECT_TRUE(ctl<QPushButton>(b.get(), profiledlg::Apply)->isEnabled());
    run(*b, profiledlg::Apply);
    EXPECT_EQ(states(*b), (std::vector<Row>{Row::Verified, Row::Verified, Row::Applied, Row::Applied}));
    EXPECT_EQ(b->table()->item(0, profiledlg::ResultColumn)->text(), "Applied and verified");
    EXPECT_FALSE(ctl<QPushButton>(b.get(), profiledlg::Apply)->isEnabled()) << "applied once";
    ASSERT_TRUE(next.waitForEvent("logo-settings", 5s));

    auto record = StateRecord::open(work / "record.sqlite");
    ASSERT_TRUE(record) << record.message();
    std::set<std::string> sections;
    for (const HistoryRow& h : (*record)->history(printerIdentity(serial(next)))) {
        sections.insert(h.section);
        EXPECT_EQ(h.result, "changed") << h.section;
    }
    EXPECT_EQ(sections, (std::set<std::string>{"settings", "logo_settings"}));

    const std::size_t before = next.events().size();
    plan(*b, work / "counter1.yaml");
    EXPECT_TRUE(b->plan().empty()) << rows(*b).front();
    EXPECT_EQ(b->planSummary(), "Nothing to change: the printer already matches the profile");
    EXPECT_FALSE(ctl<QPushButton>(b.get(), profiledlg::Apply)->isEnabled());
    // The second look only asked the printer for its settings.
    const auto events = next.events();
    for (std::size_t i = before; i < events.size(); ++i) {
        EXPECT_EQ(events[i].find("logo-settings"), std::string::npos) << events[i];
        if (events[i].find("\"cmd\":\"user-setting\"") != std::string::npos) {
            EXPECT_NE(events[i].find("\"fn\":6"), std::string::npos) << events[i];
        }
    }
}

namespace {

struct BadProfile {
    const char* name;
    const char* text;
    const char* shown; // the key and its line in the message
};

class PrinterProfileBadFile : public PrinterProfileDlgTest, public testing::WithParamInterface<BadProfile> {};

} // namespace

// A bad profile is refused whole with its key and line; the printer hears nothing.
TEST_P(PrinterProfileBadFile, RefusedWithKeyAndLineAndNothingSent)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--family", "6", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    writeFileBytes(work / "bad.yaml", GetParam().text);
    auto dlg = make(tcp(sim));
    plan(*dlg, work / "bad.yaml");
    const std::string message = dlg->message().toStdString();
    EXPECT_NE(message.find(GetParam().shown), std::string::npos) << message;
    EXPECT_NE(message.find("nothing was sent"), std::string::npos) << message;
    EXPECT_EQ(dlg->table()->rowCount(), 0);
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), profiledlg::Apply)->isEnabled());
    EXPECT_TRUE(sim.events().empty()) << sim.events().front();
}

INSTANTIATE_TEST_SUITE_P(
    Files, PrinterProfileBadFile,
    testing::Values(BadProfile{"unknown_key", "tavro: 1\ncolour: red\n", "bad.yaml:2: colour"},
                    BadProfile{"out_of_range", "tavro: 1\nsettings:\n  margin: 900\n", "bad.yaml:3: settings.margin"},
                    BadProfile{"other_model", "tavro: 1\nmodel: TAVRO15\n", "bad.yaml:2: model"},
                    BadProfile{"syntax", "tavro: 1\nsettings: {speed: 150\n", "bad.yaml:"}),
    [](const auto& info) { return std::string(info.param.name); });

// The printer stops reading in the middle of the logos. Cancel is answered at once (the window
// never stops), the job ends long before the printer reads again, and the last line says what
// the printer now holds: the settings changed and verified, the logos cut.
TEST_F(PrinterProfileDlgTest, CancelDuringAStalledApplyIsAnsweredAtOnceAndSaysWhatThePrinterHolds)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--family", "6", "--quiet", "--stall-after", "3000", "--stall-ms", "30000"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    picture("big.bmp", 576, 60);
    writeFileBytes(work / "logos.yaml", "tavro: 1\nsettings: {speed: 150}\nlogos: {files: [big.bmp, big.bmp]}\n");
    auto dlg = make(tcp(sim));
    dlg->show();
    plan(*dlg, work / "logos.yaml");
    ASSERT_EQ(dlg->plan().size(), 2u) << dlg->message().toStdString();

    ctl<QPushButton>(dlg.get(), profiledlg::Apply)->click();
    ASSERT_TRUE(dlg->jobRunning());
    LoopGapMeter gaps;
    ASSERT_TRUE(QtClock::waitUntil([&] { return !sim.events().empty() && sim.waitForEvent("\"stall\"", 0ms); }, 30s));
    ASSERT_TRUE(dlg->jobRunning()) << dlg->message().toStdString();
    const auto pressed = std::chrono::steady_clock::now();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->message(), "Cancelling...");
    EXPECT_TRUE(dlg->isVisible()) << "Esc during a job cancels, it does not close";
    ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg->jobRunning(); }, 25s));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 10s) << "the printer reads again only after 30 s";
    EXPECT_LT(gaps.longest(), 1000ms) << "the window stopped";

    EXPECT_EQ(states(*dlg), (std::vector<Row>{Row::Verified, Row::Failed}));
    const std::string message = dlg->message().toStdString();
    EXPECT_NE(message.find("partly changed: 1 change(s)"), std::string::npos) << message;
    EXPECT_NE(message.find("failed at logos"), std::string::npos) << message;
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), profiledlg::Close)->isEnabled());
}

// Every caption in both languages, with access keys.
TEST_F(PrinterProfileDlgTest, CaptionsInEnglishAndKorean)
{
    struct Case {
        bool korean;
        std::vector<std::string> buttons; // Save, Open, Apply, Cancel, Close
        std::vector<std::string> headers;
        const char* menuButton;
    };
    const Case cases[] = {
        {false, {"&Save...", "&Apply...", "Apply &Changes", "Cance&l", "Cl&ose"},
         {"Item", "Now", "Then", "Source", "Result"}, "Printer &Profile"},
        {true, {"저장...(&S)", "적용...(&A)", "변경 적용(&C)", "취소(&L)", "닫기(&O)"},
         {"항목", "현재", "적용 후", "기준", "결과"}, "프린터 프로필(&P)"},
    };
    ConnectionSettings settings;
    settings.portName = "/dev/ttyS0";
    settings.modelFamily = kFamilyTavro46;
    for (const Case& c : cases) {
        auto dlg = make(settings, c.korean);
        std::vector<std::string> buttons, headers;
        for (int id : {profiledlg::Save, profiledlg::Open, profiledlg::Apply, profiledlg::Cancel, profiledlg::Close})
            buttons.push_back(ctl<QPushButton>(dlg.get(), id)->text().toStdString());
        for (int col = 0; col < profiledlg::ColumnCount; ++col)
            headers.push_back(dlg->table()->horizontalHeaderItem(col)->text().toStdString());
        EXPECT_EQ(buttons, c.buttons);
        EXPECT_EQ(headers, c.headers);
        EXPECT_FALSE(ctl<QPushButton>(dlg.get(), profiledlg::Apply)->isEnabled()) << "nothing planned yet";

        MenuDlgDeps deps;
        deps.korean = c.korean;
        deps.runProfile = [](QWidget*, const std::string&) {};
        CMenuDlg menu(settings, deps);
        EXPECT_EQ(ctl<QPushButton>(&menu, menudlg::PrinterProfile)->text().toStdString(), c.menuButton);
    }
}

// The menu offers the dialog where a printer answers on the connection and has a user setup,
// and opens it with the menu's connection.
TEST_F(PrinterProfileDlgTest, TheMenuOffersItWhereAPrinterAnswers)
{
    struct Case {
        const char* port;
        ModelFamily family;
        bool enabled;
    };
    const Case cases[] = {
        {"/dev/ttyS0", kFamilyTavro46, true}, {"ETHERNET_II", kFamilyTavro36, true}, {"USB", kFamilyTavro46, true},
        {"out.prn", kFamilyTavro46, false},   {"WIFI", kFamilyTavro46, false},      {"/dev/ttyS0", kFamilyTavro15, false},
    };
    Profile profile(work / "tavroset.INI");
    CPorts ports(prompter, clock, log);
    ToolRun tool{ports, prompter, clock, profile, log, {}};
    tool.recordFile = work / "record.sqlite";
    for (const Case& c : cases) {
        ConnectionSettings settings;
        settings.portName = c.port;
        settings.modelFamily = c.family;
        CMenuDlg menu(settings, toolMenuDeps(tool, settings, false));
        EXPECT_EQ(ctl<QPushButton>(&menu, menudlg::PrinterProfile)->isEnabled(), c.enabled) << c.port;
    }
    ConnectionSettings settings;
    settings.portName = "/dev/ttyS0";
    settings.modelFamily = kFamilyTavro46;
    CMenuDlg menu(settings, toolMenuDeps(tool, settings, false));
    std::string seen;
    whenModal(
        [&](QWidget* modal) {
            seen = modal->objectName().toStdString();
            auto* summary = ctl<QLabel>(modal, profiledlg::Summary);
            ASSERT_NE(summary, nullptr);
            EXPECT_NE(summary->text().indexOf("/dev/ttyS0"), -1) << summary->text().toStdString();
            static_cast<QDialog*>(modal)->reject();
        },
        &menu);
    ctl<QPushButton>(&menu, menudlg::PrinterProfile)->click();
    EXPECT_EQ(seen, "CPrinterProfileDlg");
}
