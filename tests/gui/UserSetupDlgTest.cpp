// The user setup dialog over the setup core: the model rules and form checks over an
// output file, the serial conversation over a pseudo-terminal, and a full read and write
// against tavro-sim when it is built.
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "qthost/QtClock.h"
#include "qthost/QtStepDriver.h"
#include "common/PtyPair.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "setup/SetupFrames.h"
#include "setup/SetupSession.h"
#include "setup/ui/CUserSetupDlg.h"
#include "setup/ui/UserSetupForm.h"
#include "qthost/QtBusy.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtStatusLine.h"
#include "setup/ui/UserSetupControls.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTimer>
#include <QTest>

#include <algorithm>
#include <optional>
#include <string_view>
#include <set>
#include <atomic>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace UserSetupControls;

namespace {

using namespace std::chrono_literals;

class UserSetupDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports = std::make_unique<CPorts>(prompter, *clock, log);
        ports->m_PortName = (work / "out.prn").string();
        ports->m_ModelFamily = kFamilyTavro46;
    }
    void TearDown() override { selectCatalog(false); }

    std::unique_ptr<CUserSetupDlg> make(bool korean = false)
    {
        UserSetupDlgDeps deps{*ports, prompter, *clock, profile, log, korean, "TAVRO46/48 - test"};
        return std::make_unique<CUserSetupDlg>(deps);
    }
    std::string written() const { return readFileBytes(work / "out.prn"); }
    // Read, write and test page run on the dialog's worker: wait until the action is over.
    // A hang guard, not a time goal.
    static void waitIdle(CUserSetupDlg& dlg)
    {
        ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg.actionRunning(); }, 60s)) << "the action never ended";
    }
    static void pick(UserSetupForm& f, int comboId, const QString& text)
    {
        QComboBox* c = f.combo(comboId);
        int i = c->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        c->setCurrentIndex(i);
        emit c->activated(i);
    }

    TempDir work;
    RecordingPrompter prompter;
    TestClock testClock;
    // The real, painting clock, for tests whose worker threads must get their values
    // through while the GUI thread waits. Declared before the port object that uses it.
    QtClock qtClock;
    Clock* clock = &testClock;
    CErrorLog log{&testClock};
    Profile profile{work / "tavroset.INI"};
    std::unique_ptr<CPorts> ports;
};

TEST_F(UserSetupDlgTest, OpensWithTitleModelAreaAndNoValues)
{
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    EXPECT_EQ(dlg->windowTitle(), "TAVROSet(203dpi) : User Setup");
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.label(kModelArea)->text(), "TAVRO46/48 - test");
    EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), -1);
    EXPECT_EQ(f.combo(kCodePageCombo)->count(), 33);
    EXPECT_EQ(f.combo(kCodePageCombo)->currentIndex(), -1);
    EXPECT_EQ(f.edit(kImageNumberEdit)->text(), "1");
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "0");
    EXPECT_EQ(f.combo(kSpeedCombo)->count(), 4);
    // Not Korean: the bold Korean font row reads Reserved and is off.
    EXPECT_EQ(f.label(kBoldKoreanLabel)->text(), "Reserved");
    EXPECT_FALSE(f.radio(kBoldKoreanOff)->isEnabled());
    EXPECT_TRUE(f.control(kPrinterPicture)->isHidden());
    EXPECT_TRUE(f.button(kLoadButton)->isHidden());
    EXPECT_TRUE(f.radio(kReceiveErrorPrint)->isHidden());
    // The receive buffer list and the code-page catalogue went to the profile.
    EXPECT_EQ(f.combo(kRxBufferCombo)->count(), 4);
    EXPECT_EQ(profile.getString("USER", "R_BUF_SZ3"), "4");
    EXPECT_EQ(profile.getString("USER", "CodePage255"), "254|SPACE PAGE");
    EXPECT_EQ(profile.getString("USER", "CodePage0"), "0|PC437 (USA, Std Europe)");
}

TEST_F(UserSetupDlgTest, Tavro36HidesItsMissingOptionsAndLocksNvSizes)
{
    ports->m_ModelFamily = kFamilyTavro36;
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    for (int id : {kEmulationLabel, kEmulationEpson, kDensityCombo, kKitchenBellOff, kAutoCutOn, kSelfTestPrint,
                   kUsbModeUsb, kUsbModeCom, kLcdPasswordReset, kLcdPasswordLabel})
        EXPECT_TRUE(f.control(id)->isHidden()) << id;
    EXPECT_FALSE(f.control(kPrinterPicture)->isHidden());
    EXPECT_FALSE(f.combo(kNvGraphicCombo)->isEnabled());
    EXPECT_FALSE(f.combo(kNvUserCombo)->isEnabled());
    ASSERT_EQ(f.combo(kSpeedCombo)->count(), 2);
    EXPECT_EQ(f.combo(kSpeedCombo)->itemText(0), "180");
}

TEST_F(UserSetupDlgTest, Zqr4000RelabelsReservedAndHidesWifi)
{
    ports->m_ModelFamily = kFamilyTavro44i;
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    for (int id : {kBellTypeLabel, kKitchenBellLabel, kUsbModeLabel, kSleepModeLabel}) {
        EXPECT_EQ(f.label(id)->text(), "Reserved") << id;
        EXPECT_FALSE(f.label(id)->isEnabled());
    }
    EXPECT_FALSE(f.combo(kBellTypeCombo)->isEnabled());
    EXPECT_FALSE(f.radio(kUsbModeUsb)->isEnabled());
    EXPECT_TRUE(f.control(kWifiKeepLabel)->isHidden());
    EXPECT_TRUE(f.control(kWifiKeepEnable)->isHidden());
}

TEST_F(UserSetupDlgTest, KoreanSystemGetsKoreanCaptionsAndThreeBufferSizes)
{
    selectCatalog(true);
    auto dlg = make(true);
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.button(kGetValueButton)->text(), "설정 읽기(&G)");
    EXPECT_EQ(f.button(kExitButton)->text(), "취소(&X)");
    EXPECT_EQ(f.radio(kPaperBlack)->text(), "검정");
    EXPECT_EQ(f.label(kBoldKoreanLabel)->text(), "Bold Korean Font");
    EXPECT_TRUE(f.radio(kBoldKoreanOff)->isEnabled());
    EXPECT_EQ(f.combo(kRxBufferCombo)->count(), 3);
    pick(f, kNvGraphicCombo, "384");
    pick(f, kNvUserCombo, "128");
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_NE(prompter.texts()[0].find("최대 NV Memory Size 448KB"), std::string::npos);
}

TEST_F(UserSetupDlgTest, NvSizesOver448ShowTheMessageAndClearTheChangedCombo)
{
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    pick(f, kNvGraphicCombo, "384");
    pick(f, kNvUserCombo, "64");
    EXPECT_TRUE(prompter.boxes().empty()) << "64 + 384 fill the memory exactly";
    pick(f, kNvUserCombo, "128");
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], catalogFormat(Msg::NvMemoryExceeded, 448));
    EXPECT_EQ(f.combo(kNvUserCombo)->currentIndex(), -1);
    EXPECT_EQ(f.combo(kNvGraphicCombo)->currentText(), "384");
}

TEST_F(UserSetupDlgTest, TwoColourAndWaterMarkExcludeEachOther)
{
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    f.radio(kWaterMarkEnable)->click(); // water mark Enable
    EXPECT_TRUE(f.edit(kImageNumberEdit)->isEnabled());
    prompter.scriptAnswers({PromptAnswer::No});
    f.radio(kPaperTwoColor)->click(); // 2Color, and keep the water mark
    ASSERT_EQ(prompter.boxes().size(), 1u);
    EXPECT_EQ(prompter.boxes()[0].caption, "Notice");
    EXPECT_EQ(f.pairValue(kPaperBlack, kPaperTwoColor), 0) << "back to Black";
    EXPECT_FALSE(f.combo(kColorDensityCombo)->isEnabled());

    prompter.scriptAnswers({PromptAnswer::Yes});
    f.radio(kPaperTwoColor)->click(); // 2Color, water mark off
    EXPECT_EQ(f.pairValue(kWaterMarkDisable, kWaterMarkEnable), 0);
    EXPECT_FALSE(f.edit(kImageNumberEdit)->isEnabled());
    EXPECT_EQ(f.combo(kColorDensityCombo)->currentText(), "MEDIUM");
    EXPECT_TRUE(f.combo(kColorDensityCombo)->isEnabled());

    prompter.scriptAnswers({PromptAnswer::Yes});
    f.radio(kWaterMarkEnable)->click(); // water mark again: one colour
    EXPECT_EQ(f.pairValue(kPaperBlack, kPaperTwoColor), 0);
    EXPECT_EQ(f.pairValue(kWaterMarkDisable, kWaterMarkEnable), 1);
    EXPECT_EQ(prompter.boxes().size(), 3u);
}

TEST_F(UserSetupDlgTest, RadioRulesBellLabelAndDefault)
{
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    f.radio(kPaper58mm)->click(); // 58mm
    EXPECT_TRUE(f.combo(kColumnCombo)->isEnabled());
    EXPECT_EQ(f.combo(kColumnCombo)->currentText(), "34 Column");
    f.radio(kPaper80mm)->click();
    EXPECT_FALSE(f.combo(kColumnCombo)->isEnabled());
    f.radio(kCutAdjustOn)->click();
    EXPECT_TRUE(f.edit(kLinesEdit)->isEnabled());
    f.combo(kBellTypeCombo)->setCurrentIndex(0);
    EXPECT_EQ(f.label(kTimesLabel)->text(), "Times");
    f.combo(kBellTypeCombo)->setCurrentIndex(1);
    EXPECT_EQ(f.label(kTimesLabel)->text(), " / 5");

    prompter.scriptAnswers({PromptAnswer::No});
    dlg->onDefault();
    EXPECT_EQ(f.combo(kNvGraphicCombo)->currentIndex(), -1) << "No keeps the form";
    dlg->onDefault();
    EXPECT_EQ(prompter.boxes().back().text, catalogText(Msg::ConfirmDefaults));
    EXPECT_EQ(f.combo(kNvGraphicCombo)->currentText(), "384");
    EXPECT_EQ(f.combo(kNvUserCombo)->currentText(), "64");
    EXPECT_EQ(f.combo(kDensityCombo)->currentText(), "LEVEL 2");
    EXPECT_EQ(f.combo(kRxBufferCombo)->currentIndex(), 3);
    EXPECT_EQ(f.pairValue(kDrawerSelfTestEnable, kDrawerSelfTestDisable), 1);
    EXPECT_EQ(f.pairValue(kWifiKeepEnable, kWifiKeepDisable), 1);
    EXPECT_EQ(f.combo(kBellCountCombo)->currentText(), "3");
    EXPECT_FALSE(f.edit(kLinesEdit)->isEnabled());
    EXPECT_TRUE(dlg->session().StopBitWarningArmed());
    EXPECT_EQ(written(), "") << "Default sends nothing";
}

TEST_F(UserSetupDlgTest, SetValueSendsNothingWithoutValuesAndRefusesMargin577)
{
    auto dlg = make();
    UserSetupForm& f = dlg->form();
    dlg->onSetValue();
    waitIdle(*dlg);
    EXPECT_EQ(written(), "") << "a fresh form has nothing to write";
    EXPECT_TRUE(prompter.boxes().empty());

    f.edit(kMarginEdit)->setText("577");
    dlg->onSetValue();
    waitIdle(*dlg);
    ASSERT_EQ(prompter.boxes().size(), 1u);
    EXPECT_EQ(prompter.boxes()[0].text, "Please input a value between 0 ~ 576.");
    EXPECT_EQ(prompter.boxes()[0].caption, "Notice");
    EXPECT_EQ(written(), "") << "refused before anything is sent";
    EXPECT_TRUE(f.button(kSetValueButton)->isEnabled());

    f.edit(kMarginEdit)->setText("576");
    dlg->onSetValue();
    waitIdle(*dlg);
    std::string bytes = written();
    Bytes enter = enterUserSettingFrame();
    ASSERT_GE(bytes.size(), enter.size());
    EXPECT_EQ(bytes.substr(0, enter.size()), std::string(enter.begin(), enter.end()));
    // Margin 576 = 0x240, low byte first.
    EXPECT_NE(bytes.find(std::string("\xFA\x40\x02", 3)), std::string::npos);
    EXPECT_TRUE(f.button(kGetValueButton)->isEnabled());
}

TEST_F(UserSetupDlgTest, FailedWriteClosesTheConnectionAndLeavesOnlyExitDefaultAndRightGroup)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to refuse the writes";
    // An output "file" that takes no byte: every write of the session fails.
    ports->m_PortName = "/dev/full";
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    UserSetupForm& f = dlg->form();
    f.edit(kImageNumberEdit)->setText("9");
    f.edit(kMarginEdit)->setText("12");
    dlg->onSetValue();
    waitIdle(*dlg);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], catalogText(Msg::WriteFail));
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
    EXPECT_EQ(f.edit(kImageNumberEdit)->text(), "1") << "image number back to its start value";
    for (int id : {kPaper80mm, kPaperBlack, kWaterMarkDisable, kGetValueButton, kSetValueButton, kTestButton,
                   kCodePageCombo, kNvGraphicCombo, kMarginEdit, kCustomCodeEdit, kRxBufferCombo, kBellTypeCombo})
        EXPECT_FALSE(f.control(id)->isEnabled()) << id;
    for (int id : {kExitButton, kDefaultButton, kEmulationEpson, kDensityCombo, kUsbModeUsb})
        EXPECT_TRUE(f.control(id)->isEnabled()) << id;
}

TEST_F(UserSetupDlgTest, FailedReadAndTestPageShowTheirMessages)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to refuse the writes";
    ports->m_PortName = "/dev/full";
    {
        auto dlg = make();
        ASSERT_FALSE(dlg->failedToOpen());
        dlg->onGetValue();
        waitIdle(*dlg);
        ASSERT_EQ(prompter.texts().size(), 1u);
        EXPECT_EQ(prompter.texts()[0], catalogText(Msg::ReadFail));
        EXPECT_FALSE(dlg->form().button(kGetValueButton)->isEnabled());
        EXPECT_TRUE(dlg->form().button(kExitButton)->isEnabled());
    }
    prompter.clear();
    auto dlg = make();
    dlg->onTest();
    waitIdle(*dlg);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], catalogText(Msg::WriteFail));
    EXPECT_FALSE(dlg->form().button(kTestButton)->isEnabled());
    EXPECT_TRUE(dlg->form().button(kDefaultButton)->isEnabled());
}

TEST_F(UserSetupDlgTest, TestPageGoesToTheConnectionAndPausesOnTheClock)
{
    auto dlg = make();
    testClock.clearSleeps();
    dlg->onTest();
    waitIdle(*dlg);
    EXPECT_TRUE(prompter.boxes().empty());
    EXPECT_EQ(written().size(), 358u) << "the non-Korean test page";
    auto sleeps = testClock.sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps.back(), std::chrono::milliseconds(800));
    EXPECT_TRUE(dlg->form().button(kGetValueButton)->isEnabled());
    EXPECT_TRUE(dlg->form().button(kSetValueButton)->isEnabled());
}

TEST_F(UserSetupDlgTest, CodeAndMarginSelectTheirWholeTextOnFocus)
{
    auto dlg = make();
    for (int id : {kCustomCodeEdit, kMarginEdit}) {
        QLineEdit* edit = dlg->form().edit(id);
        edit->setText("1234");
        edit->deselect();
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason); // a tab would select anyway
        QApplication::sendEvent(edit, &focusIn);
        QCoreApplication::processEvents();
        EXPECT_EQ(edit->selectedText(), "1234") << id;
    }
    QLineEdit* image = dlg->form().edit(kImageNumberEdit);
    image->deselect();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason); // a tab would select anyway
    QApplication::sendEvent(image, &focusIn);
    QCoreApplication::processEvents();
    EXPECT_EQ(image->selectedText(), "") << "only the code and the margin select all";
}

TEST_F(UserSetupDlgTest, FailedOpenClosesTheDialog)
{
    ports->m_PortName = (work / "missing" / "ttyNONE0").string();
    ports->m_BaudRate = 115200;
    ports->m_ByteSize = 8;
    ports->m_Parity = 0;
    ports->m_FlowCtrl = 3;
    ports->m_ModelFamily = kFamilyTavro36;
    auto dlg = make();
    EXPECT_TRUE(dlg->failedToOpen());
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], catalogText(Msg::InitFail));
    EXPECT_EQ(ports->m_hNotifyWnd.load(), nullptr);
}

// A serial printer played by the test: it answers every Function 6 request with the value
// text the table gives, slowly if asked, until stopped.
class PtyPrinter {
public:
    // silent: settings the printer never answers.
    explicit PtyPrinter(PtyPair& pty, std::chrono::milliseconds delay = 0ms, std::set<int> silent = {})
        : m_pty(pty), m_delay(delay), m_silent(std::move(silent))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~PtyPrinter()
    {
        m_stop = true;
        m_thread.join();
    }
    int requests() const { return m_requests; }

private:
    static std::string valueOf(int n)
    {
        switch (n) {
        case 3: return "2";       // 58 mm, 32 columns
        case 116: return "1";     // Black
        case 118: return "85";
        case 242: return "17";    // water mark on, image 7
        case 243: return "0";
        case 250: return "144";   // margin 300
        case 252: return "32";
        case 1: return "2";       // NV user 128
        case 2: return "5";       // NV graphic 256
        case 255: return "4660";  // 0x1234
        default: return "0";
        }
    }
    void run()
    {
        std::string in;
        while (!m_stop) {
            pollfd p{m_pty.master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[256];
            ssize_t n = ::read(m_pty.master(), buf, sizeof buf);
            if (n <= 0)
                continue;
            in.append(buf, static_cast<size_t>(n));
            // 1D 28 45 02 00 06 a
            for (size_t at; (at = in.find("\x1d\x28\x45\x02\x00\x06", 0, 6)) != std::string::npos &&
                            at + 7 <= in.size();) {
                int number = static_cast<unsigned char>(in[at + 6]);
                in.erase(0, at + 7);
                ++m_requests;
                if (m_silent.count(number))
                    continue;
                if (m_delay.count())
                    std::this_thread::sleep_for(m_delay);
                std::string reply = "7'" + std::to_string(number) + "\x1f" + valueOf(number);
                reply.push_back('\0');
                if (::write(m_pty.master(), reply.data(), reply.size()) < 0)
                    return;
            }
            if (in.size() > 4096)
                in.erase(0, in.size() - 16);
        }
    }

    PtyPair& m_pty;
    std::chrono::milliseconds m_delay;
    std::set<int> m_silent;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

class UserSetupSerialTest : public UserSetupDlgTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.valid()) << pty.error();
        ASSERT_TRUE(pty.holdSlaveOpen());
        // The dialog's waits run on the real, painting clock here: the handlers of the
        // worker threads must get through while the GUI thread waits.
        clock = &qtClock;
        UserSetupDlgTest::SetUp();
        std::filesystem::create_symlink(pty.slavePath(), work / "ttySIM0");
        ports->m_PortName = (work / "ttySIM0").string();
        ports->m_BaudRate = 115200;
        ports->m_ByteSize = 8;
        ports->m_Parity = 0;
        ports->m_FlowCtrl = 3;
        ports->m_StopBits = 0;
        ports->m_ModelFamily = kFamilyTavro46;
    }
    PtyPair pty;
};

TEST_F(UserSetupSerialTest, GetValueFillsTheControlsFromThePrinterAnswers)
{
    PtyPrinter printer(pty);
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    dlg->onGetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s))
        << "requests seen: " << printer.requests();
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), 1);
    EXPECT_EQ(f.combo(kColumnCombo)->currentText(), "32 Column");
    EXPECT_TRUE(f.combo(kColumnCombo)->isEnabled());
    EXPECT_EQ(f.pairValue(kWaterMarkDisable, kWaterMarkEnable), 1);
    EXPECT_EQ(f.edit(kImageNumberEdit)->text(), "7");
    EXPECT_TRUE(f.edit(kImageNumberEdit)->isEnabled());
    EXPECT_EQ(f.edit(kMarginEdit)->text(), "300");
    EXPECT_EQ(f.combo(kNvUserCombo)->currentText(), "128");
    EXPECT_EQ(f.combo(kNvGraphicCombo)->currentText(), "256");
    EXPECT_EQ(f.combo(kRxBufferCombo)->currentText(), "32");
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "1234");
    EXPECT_EQ(printer.requests(), 18);
    EXPECT_TRUE(prompter.boxes().empty());
}

TEST_F(UserSetupSerialTest, ExitDuringAPendingReadReturnsPromptly)
{
    // Slow answers: values are being handed to the dialog when EXIT comes.
    PtyPrinter printer(pty, 30ms);
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    QtClock::waitUntil([&] { return dlg->session().Answered(3); }, 10s);
    auto start = std::chrono::steady_clock::now();
    dlg->onExit();
    // The read ends on its worker first; EXIT follows.
    QtClock::waitUntil([&] { return dlg->result() == QDialog::Accepted; }, 10s);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 5s);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
    EXPECT_EQ(ports->m_hNotifyWnd.load(), nullptr);
}

TEST_F(UserSetupSerialTest, CloseBoxDuringAPendingReadReturnsPromptly)
{
    PtyPrinter printer(pty, 30ms);
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    QtClock::waitUntil([&] { return dlg->session().Answered(3); }, 10s);
    auto start = std::chrono::steady_clock::now();
    dlg->reject();
    QtClock::waitUntil([&] { return ports->m_IsOpen.load() == 0; }, 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
}

TEST_F(UserSetupSerialTest, ParallelReadRunsOnTheAcknowledgementWorker)
{
    PtyPrinter printer(pty);
    std::filesystem::create_symlink(pty.slavePath(), work / "lpSIM0");
    ports->m_PortName = (work / "lpSIM0").string();
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    UserSetupForm& f = dlg->form();
    dlg->onGetValue();
    auto* ack = dlg->findChild<QtStepDriver*>("lptAck");
    ASSERT_NE(ack, nullptr);
    ASSERT_TRUE(QtClock::waitUntil([&] { return ack->waiting(); }, 5s));
    EXPECT_EQ(ack->currentWait(), 3000ms);
    EXPECT_TRUE(dlg->lptReadPending());
    for (int id : {kGetValueButton, kTestButton, kSetValueButton, kDefaultButton})
        EXPECT_FALSE(f.button(id)->isEnabled()) << id;
    EXPECT_TRUE(f.button(kExitButton)->isEnabled()) << "EXIT ends the acknowledgement";
    EXPECT_EQ(dlg->cursor().shape(), Qt::WaitCursor);
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s));
    // The tick the driver would take after 3 s, now: every answer is in, the read ends.
    dlg->onLptAckTick();
    ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg->lptReadPending(); }, 10s));
    EXPECT_FALSE(ack->running());
    for (int id : {kGetValueButton, kTestButton, kSetValueButton, kExitButton, kDefaultButton})
        EXPECT_TRUE(f.button(id)->isEnabled()) << id;
    EXPECT_EQ(f.edit(kMarginEdit)->text(), "300");
    EXPECT_EQ(printer.requests(), 17);
    dlg->onExit();
    EXPECT_TRUE(prompter.boxes().empty());
}

TEST_F(UserSetupSerialTest, ExitEndsAParallelReadWhileTheAcknowledgementWaits)
{
    // Nobody answers on the line: the acknowledgement would ask again for half a minute.
    std::filesystem::create_symlink(pty.slavePath(), work / "lpSIM0");
    ports->m_PortName = (work / "lpSIM0").string();
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    dlg->onGetValue();
    auto* ack = dlg->findChild<QtStepDriver*>("lptAck");
    ASSERT_NE(ack, nullptr);
    ASSERT_TRUE(QtClock::waitUntil([&] { return ack->waiting(); }, 5s));
    dlg->form().button(kExitButton)->click();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->result() == QDialog::Accepted; }, 5s));
    EXPECT_FALSE(ack->running());
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
}

// Against the virtual printer: what Set Value writes is what the printer then holds.
TEST_F(UserSetupSerialTest, SetValueWritesWhatTheSimulatorThenHolds)
{
    if (!std::filesystem::exists(SimProcess::defaultBinary()))
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--serial", "--family", "6"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ports->m_PortName = sim.serialPort();
    {
        auto dlg = make();
        ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
        dlg->onGetValue();
        ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s));
        waitIdle(*dlg);
        UserSetupForm& f = dlg->form();
        // Factory values of the printer.
        EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), 0);
        EXPECT_EQ(f.combo(kNvUserCombo)->currentText(), "64");
        EXPECT_EQ(f.combo(kNvGraphicCombo)->currentText(), "384");
        EXPECT_EQ(f.edit(kMarginEdit)->text(), "0");

        f.radio(kPaper58mm)->click(); // 58 mm, 34 columns
        f.edit(kMarginEdit)->setText("576");
        f.edit(kCustomCodeEdit)->setText("1a2B");
        pick(f, kCodePageCombo, "16| PC1252 (Windows CP)");
        dlg->onSetValue();
        waitIdle(*dlg);
        ASSERT_TRUE(sim.waitForEvent("\"fn\":2", 10s)) << "end user setting mode";
        dlg->onExit();
    }
    prompter.clear();
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s));
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), 1);
    EXPECT_EQ(f.combo(kColumnCombo)->currentText(), "34 Column");
    EXPECT_EQ(f.edit(kMarginEdit)->text(), "576");
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "1A2B");
    EXPECT_EQ(f.combo(kCodePageCombo)->currentText(), "16| PC1252 (Windows CP)");
    dlg->onExit();
}

// The USB printer-class connection against the virtual printer's fake sysfs tree: the
// answers come back on the one open node, escaped as the printer sends them over USB.
TEST_F(UserSetupDlgTest, UsbGetValueReadsThroughTheSimulatorsUsbNode)
{
    if (!std::filesystem::exists(SimProcess::defaultBinary()))
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--usb", "--family", "5"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    DeviceRoots roots;
    roots.sysfs = sim.env("TAVRO_SYSFS_ROOT");
    roots.dev = sim.env("TAVRO_DEV_ROOT");
    clock = &qtClock;
    ports = std::make_unique<CPorts>(prompter, qtClock, log, roots);
    ports->m_PortName = "USB";
    ports->m_ModelFamily = kFamilyTavro36;
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    dlg->onGetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s));
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), 0);
    EXPECT_EQ(f.combo(kCodePageCombo)->currentIndex(), 0);
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "0");
    waitIdle(*dlg);
    dlg->onExit();
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
    EXPECT_TRUE(prompter.boxes().empty()) << prompter.texts()[0];
}

// The network connection end to end: the network library gets the simulator's TCP port,
// the dialog's opening tests it, Get Value reads over one connection.
TEST_F(UserSetupDlgTest, EthernetGetValueReadsFromTheSimulatorsTcpPort)
{
    if (!std::filesystem::exists(SimProcess::defaultBinary()))
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--family", "5"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_GT(sim.tcpPort(), 0);
    EthInit(nullptr, "Ethernet", sim.tcpHost().c_str(), sim.tcpPort());
    ports->m_PortName = "ETHERNET_II";
    ports->m_ModelFamily = kFamilyTavro36;
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    testClock.clearSleeps();
    dlg->onGetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->session().Answered(255); }, 20s));
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.combo(kNvUserCombo)->currentText(), "64");
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "0");
    // The module's pause after the last answer of a read, on the clock.
    QtClock::waitUntil([&] { return f.button(kGetValueButton)->isEnabled(); }, 10s);
    auto sleeps = testClock.sleeps();
    EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), SetupSession::kEthernetCodePause), sleeps.end());
    EXPECT_TRUE(f.button(kGetValueButton)->isEnabled());
    waitIdle(*dlg);
    dlg->onExit();
    EthInit(nullptr, "Ethernet", "127.0.0.1", 1);
    EXPECT_TRUE(prompter.boxes().empty());
}

// A printer that never answers: the read ends within the bound with the catalog's read
// failure, and the connection stays for another try.
TEST_F(UserSetupSerialTest, GetValueWithoutAnswerReportsTheFailureWithinTheBound)
{
    ASSERT_TRUE(log.Open((work / "error.log").string()));
    UserSetupDlgDeps deps{*ports, prompter, *clock, profile, log, false, "test", 500ms};
    auto dlg = std::make_unique<CUserSetupDlg>(deps);
    ASSERT_FALSE(dlg->failedToOpen());
    auto start = std::chrono::steady_clock::now();
    dlg->onGetValue();
    waitIdle(*dlg);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 500ms - 20ms) << "the answers were given their time";
    EXPECT_LT(took, 500ms + 2000ms);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], catalogText(Msg::ReadFail));
    EXPECT_EQ(dlg->unanswered().size(), 18u);
    EXPECT_EQ(dlg->statusLine().kind(), QtStatusLine::Kind::Failure);
    EXPECT_FALSE(dlg->statusLine().busy());
    EXPECT_TRUE(dlg->form().button(kGetValueButton)->isEnabled()) << "the port is still open: try again";
    EXPECT_NE(readFileBytes(work / "error.log").find("no answer from the printer for setting(s) 3 116"),
              std::string::npos);
    EXPECT_FALSE(QtBusy::active());
}

// EXIT while a read waits for a printer that never answers: the click reaches the dialog
// through the busy wait, the read ends without its failure box and the dialog closes.
TEST_F(UserSetupSerialTest, ExitEndsAReadThatWaitsOnASilentPrinter)
{
    UserSetupDlgDeps deps{*ports, prompter, *clock, profile, log, false, "test", 60s};
    auto dlg = std::make_unique<CUserSetupDlg>(deps);
    ASSERT_FALSE(dlg->failedToOpen());
    QPushButton* exit = dlg->form().button(kExitButton);
    bool clicked = false;
    QTimer::singleShot(200, dlg.get(), [&] {
        EXPECT_TRUE(dlg->actionRunning()) << "the read is still waiting";
        const QPointF at = QRectF(exit->rect()).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, exit->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, exit->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(exit, &press);
        QApplication::sendEvent(exit, &release);
        clicked = true;
    });
    const auto start = std::chrono::steady_clock::now();
    dlg->onGetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->result() == QDialog::Accepted; }, 10s));
    EXPECT_TRUE(clicked);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "hang guard: the read had 60 s";
    EXPECT_TRUE(prompter.boxes().empty()) << prompter.texts()[0];
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
    EXPECT_FALSE(QtBusy::active());
}

// Answers every box as the recording prompter does; at the stop-bit warning, which comes
// after the enter frame and before the settings, the printer (the pty's master) sends XOFF and
// stops taking data, as a printer whose buffer is full holds software flow control.
class XoffAtStopBitWarning final : public Prompter {
public:
    XoffAtStopBitWarning(Prompter& inner, PtyPair& pty) : m_inner(inner), m_pty(pty) {}
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                      std::string_view caption) override
    {
        if (text == catalogText(Msg::StopBitWarning) && !held) {
            const char xoff = 0x13;
            EXPECT_EQ(::write(m_pty.master(), &xoff, 1), 1);
            // The line discipline takes the XOFF on its own time: the port takes no byte
            // (no room to write) once the output is stopped.
            const auto limit = std::chrono::steady_clock::now() + 10s;
            for (;;) {
                pollfd p{m_pty.slaveHoldFd(), POLLOUT, 0};
                if (::poll(&p, 1, 0) == 0 || std::chrono::steady_clock::now() > limit)
                    break;
                std::this_thread::sleep_for(1ms);
            }
            held = true;
        }
        return m_inner.show(text, buttons, icon, caption);
    }
    std::optional<std::string> askOutputFileName() override { return m_inner.askOutputFileName(); }
    std::atomic<bool> held{false};

private:
    Prompter& m_inner;
    PtyPair& m_pty;
};

// A write to a printer that holds flow control runs on the worker: the window's event loop
// goes on while the write is blocked, and EXIT ends it with what the printer may now hold.
TEST_F(UserSetupSerialTest, SetValueOnAPrinterHoldingFlowControlKeepsTheWindowAliveAndExitEndsIt)
{
    ports->m_FlowCtrl = 2; // XON/XOFF
    XoffAtStopBitWarning holding(prompter, pty);
    UserSetupDlgDeps deps{*ports, holding, *clock, profile, log, false, "test"};
    auto dlg = std::make_unique<CUserSetupDlg>(deps);
    ASSERT_FALSE(dlg->failedToOpen()) << (prompter.texts().empty() ? "" : prompter.texts()[0]);
    dlg->onDefault(); // every setting has a value, and the stop-bit warning is armed
    // Ticks of the GUI thread's loop once the printer holds the line, then EXIT.
    int ticksWhileHeld = 0;
    bool exitClicked = false;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!holding.held || exitClicked)
            return;
        if (++ticksWhileHeld < 20)
            return;
        EXPECT_TRUE(dlg->actionRunning()) << "the write is still blocked";
        EXPECT_EQ(dlg->statusLine().text(), "Writing the settings...");
        QTest::mouseClick(dlg->form().button(kExitButton), Qt::LeftButton);
        exitClicked = true;
    });
    ticker.start();
    const auto start = std::chrono::steady_clock::now();
    dlg->onSetValue();
    ASSERT_TRUE(QtClock::waitUntil([&] { return dlg->result() == QDialog::Accepted; }, 60s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 14s) << "hang guard: the stall limit is 15 s";
    EXPECT_TRUE(holding.held);
    EXPECT_TRUE(exitClicked);
    EXPECT_GE(ticksWhileHeld, 20);
    EXPECT_EQ(dlg->statusLine().text(),
              "Writing was stopped; the printer may hold some of the values. Read them back.");
    EXPECT_EQ(dlg->statusLine().kind(), QtStatusLine::Kind::Failure);
    // Default's question and the stop-bit warning; no failure box for the stopped write.
    EXPECT_EQ(prompter.boxes().size(), 2u);
    EXPECT_EQ(ports->m_IsOpen.load(), 0);
}

// The printer answers some settings and not others: those that answered stay in the form,
// the message names the others in the form's words.
TEST_F(UserSetupSerialTest, GetValueWithSomeAnswersKeepsThemAndNamesTheMissing)
{
    PtyPrinter printer(pty, 0ms, {250, 252});
    UserSetupDlgDeps deps{*ports, prompter, *clock, profile, log, false, "test", 600ms};
    auto dlg = std::make_unique<CUserSetupDlg>(deps);
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    waitIdle(*dlg);
    ASSERT_EQ(prompter.texts().size(), 1u);
    const std::string text = prompter.texts()[0];
    EXPECT_EQ(text.rfind(catalogText(Msg::ReadFail), 0), 0u) << text;
    EXPECT_NE(text.find("Set Left Paper Margin, Receive Buffer Size"), std::string::npos) << text;
    EXPECT_EQ(dlg->unanswered(), (std::vector<std::uint8_t>{250, 252}));
    UserSetupForm& f = dlg->form();
    EXPECT_EQ(f.pairValue(kPaper80mm, kPaper58mm), 1) << "paper width answered and is kept";
    EXPECT_EQ(f.edit(kCustomCodeEdit)->text(), "1234");
    EXPECT_EQ(f.combo(kRxBufferCombo)->currentIndex(), -1);
    EXPECT_NE(dlg->statusLine().text().indexOf("Set Left Paper Margin"), -1);
}

TEST_F(UserSetupSerialTest, KoreanSystemNamesTheMissingInKorean)
{
    selectCatalog(true);
    PtyPrinter printer(pty, 0ms, {3});
    UserSetupDlgDeps deps{*ports, prompter, *clock, profile, log, true, "test", 600ms};
    auto dlg = std::make_unique<CUserSetupDlg>(deps);
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    waitIdle(*dlg);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], std::string(catalogText(Msg::ReadFail)) + "\n\n프린터가 응답하지 않은 설정:\n용지 폭");
}

TEST_F(UserSetupSerialTest, ASuccessfulReadAndWriteSayItInTheStatusLineWithoutABox)
{
    PtyPrinter printer(pty);
    auto dlg = make();
    ASSERT_FALSE(dlg->failedToOpen());
    dlg->onGetValue();
    waitIdle(*dlg);
    EXPECT_TRUE(dlg->unanswered().empty());
    EXPECT_EQ(dlg->statusLine().text(), "Settings read from the printer.");
    dlg->form().edit(kMarginEdit)->setText("8");
    dlg->onSetValue();
    waitIdle(*dlg);
    EXPECT_EQ(dlg->statusLine().text(), "Settings written to the printer.");
    EXPECT_EQ(dlg->statusLine().kind(), QtStatusLine::Kind::Done);
    EXPECT_TRUE(prompter.boxes().empty());
}

// Default gives the USB mode a value on every model: the write makes the printer leave the
// interface. The user hears it at once and can go back to the connection dialog.
TEST_F(UserSetupDlgTest, UsbModeWriteTellsTheUserAndOffersTheWayBack)
{
    for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
        prompter.clear();
        auto dlg = make();
        prompter.scriptAnswers({PromptAnswer::Yes, answer}); // Default's question, then the notice
        dlg->onDefault();
        dlg->onSetValue();
        waitIdle(*dlg);
        // Default's question, the stop-bit warning that Default arms, the notice.
        ASSERT_EQ(prompter.boxes().size(), 3u);
        const auto notice = prompter.boxes()[2];
        EXPECT_EQ(notice.buttons, PromptButtons::YesNo);
        EXPECT_NE(notice.text.find("switched its USB mode"), std::string::npos) << notice.text;
        EXPECT_NE(notice.text.find("connection dialog"), std::string::npos);
        UserSetupForm& f = dlg->form();
        for (int id : {kGetValueButton, kSetValueButton, kTestButton})
            EXPECT_FALSE(f.button(id)->isEnabled()) << id << ": the connection is gone";
        EXPECT_TRUE(f.button(kExitButton)->isEnabled());
        EXPECT_EQ(dlg->statusLine().kind(), QtStatusLine::Kind::Failure);
        QCoreApplication::processEvents();
        EXPECT_EQ(dlg->backToConnection(), answer == PromptAnswer::Yes);
        EXPECT_EQ(dlg->result(), answer == PromptAnswer::Yes ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST_F(UserSetupDlgTest, ButtonsHaveDistinctMnemonicsInBothLanguages)
{
    for (bool korean : {false, true}) {
        selectCatalog(korean);
        auto dlg = make(korean);
        std::set<QChar> keys;
        for (int id : {kGetValueButton, kSetValueButton, kTestButton, kDefaultButton, kExitButton}) {
            QString t = dlg->form().button(id)->text();
            int amp = t.indexOf('&');
            ASSERT_GE(amp, 0) << t.toStdString();
            EXPECT_TRUE(keys.insert(t.at(amp + 1).toUpper()).second) << t.toStdString();
        }
    }
    auto dlg = make();
    EXPECT_EQ(dlg->form().button(kGetValueButton)->text(), "&Get Value");
    EXPECT_EQ(dlg->form().button(kExitButton)->text(), "E&XIT");
}

// Every model's form, in both languages, fits a 1280x720 screen and a 1366x768 laptop at
// 150 %: the options scroll and the buttons stay in view.
TEST_F(UserSetupDlgTest, FitsSmallAndScaledScreensWithTheButtonsInView)
{
    const QSize largest = largestDialogSize();
    for (ModelFamily family : {kFamilyTavro36, kFamilyTavro46, kFamilyTavro44i})
        for (bool korean : {false, true}) {
            selectCatalog(korean);
            ports->m_ModelFamily = family;
            auto dlg = make(korean);
            SCOPED_TRACE(testing::Message() << "family " << familyNumber(family) << (korean ? " Korean" : " English"));
            const QSize min = dlg->minimumSizeHint().expandedTo(dlg->minimumSize());
            EXPECT_LE(min.width(), largest.width());
            EXPECT_LE(min.height(), largest.height());
            dlg->resize(largest);
            dlg->show();
            QCoreApplication::processEvents();
            EXPECT_LE(dlg->width(), largest.width());
            EXPECT_LE(dlg->height(), largest.height());
            for (int id : {kGetValueButton, kSetValueButton, kTestButton, kDefaultButton, kExitButton}) {
                QPushButton* b = dlg->form().button(id);
                QRect r(b->mapTo(dlg.get(), QPoint(0, 0)), b->size());
                EXPECT_TRUE(dlg->rect().contains(r)) << id;
                EXPECT_TRUE(b->isVisible()) << id;
            }
            auto* area = dlg->findChild<QScrollArea*>("scrollArea");
            ASSERT_NE(area, nullptr);
            EXPECT_TRUE(area->isAncestorOf(dlg->form().control(kPaper80mm)));
            EXPECT_FALSE(area->isAncestorOf(dlg->form().button(kGetValueButton)));
            dlg->hide();
        }
}

} // namespace
