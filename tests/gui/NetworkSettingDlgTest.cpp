// The Network Setting dialog against simulated network modules on loopback: the list as the
// answers arrive, the row click, Change Setting and its enabling rules, the address rules,
// access keys, service mode.
#include "GuiTestSupport.h"
#include "NetTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"

#include "app/MessageCatalog.h"
#include "common/SocketUtil.h"
#include "common/UniqueFd.h"
#include "network/ui/CNetworkDlg.h"
#include "network/ui/CNetworkSettingDlg.h"
#include "network/ui/NetworkControls.h"
#include "qthost/QtClock.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <map>
#include <sys/socket.h>

using std::chrono::milliseconds;

namespace {

using nettest::freeUdpPort;

// A caption as it shows: the access key's '&' is not drawn.
template <class W>
QString shown(W* widget)
{
    QString text = widget->text();
    return text.remove('&');
}

QChar accessKey(const QString& caption)
{
    const int amp = caption.indexOf('&');
    return amp >= 0 && amp + 1 < caption.size() ? caption.at(amp + 1).toUpper() : QChar();
}

// The service-mode controls: the three MAC edits, their three labels and "Manually change".
constexpr int kServiceControls[] = {netsetting::MacLow,       netsetting::MacLow + 1,   netsetting::MacLow + 2,
                                    netsetting::MacLabel,     netsetting::MacLabel + 1, netsetting::MacLabel + 2,
                                    netsetting::ManualChange};

UdpSettings loopback(int port, int silenceMs = 300)
{
    UdpSettings s;
    s.destination = "127.255.255.255";
    s.bindAddress = "127.0.0.1";
    s.port = port;
    s.silence = milliseconds(silenceMs);
    return s;
}

class NetworkSettingDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        port = freeUdpPort();
        ASSERT_NE(port, 0);
    }
    std::unique_ptr<SimProcess> startSim(const std::string& addresses, std::vector<std::string> more = {})
    {
        std::vector<std::string> args = {"--udp", addresses, "--udp-port", std::to_string(port), "--udp-reply-port",
                                         std::to_string(port), "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<SimProcess>(args);
    }
    std::unique_ptr<CNetworkSettingDlg> make(bool service = false, bool korean = false, int silenceMs = 300)
    {
        auto dlg = std::make_unique<CNetworkSettingDlg>(prompter, loopback(port, silenceMs), korean, service);
        dlg->show();
        return dlg;
    }
    // Clicks and waits until the operation's worker is done.
    static bool clickAndWait(CNetworkSettingDlg& dlg, int id)
    {
        ctl<QPushButton>(&dlg, id)->click();
        return QtClock::waitUntil([&] { return !dlg.busy(); }, milliseconds(20000));
    }
    static QTableWidget* list(CNetworkSettingDlg& dlg) { return ctl<QTableWidget>(&dlg, netsetting::List); }
    static void clickRow(CNetworkSettingDlg& dlg, int row)
    {
        QTableWidget* l = list(dlg);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row, 1)).center());
    }
    static int rowOf(CNetworkSettingDlg& dlg, const QString& mac)
    {
        for (int r = 0; r < list(dlg)->rowCount(); ++r)
            if (list(dlg)->item(r, 4)->text() == mac)
                return r;
        return -1;
    }

    int port = 0;
    RecordingPrompter prompter;
};

} // namespace

TEST_F(NetworkSettingDlgTest, OpensWithItsColumnsAndChangeSettingDisabled)
{
    auto dlg = make();
    EXPECT_EQ(dlg->windowTitle(), "Ethernet-II Network Setting");
    QTableWidget* l = list(*dlg);
    ASSERT_EQ(l->columnCount(), 5);
    QStringList headers;
    for (int c = 0; c < 5; ++c)
        headers << l->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers, (QStringList{"IP", "Port", "Subnet", "Gateway", "Mac Address"}));
    EXPECT_EQ(l->columnWidth(0), 130);
    EXPECT_EQ(l->columnWidth(1), 60);
    EXPECT_TRUE(l->showGrid());
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), netsetting::ChangeSetting)->isEnabled());
    EXPECT_EQ(shown(ctl<QPushButton>(dlg.get(), netsetting::SearchPrinter)), "Search Printer");
    EXPECT_EQ(shown(ctl<QPushButton>(dlg.get(), netsetting::Exit)), "EXIT");
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Port)->text(), "0");
    for (int id : kServiceControls)
        EXPECT_FALSE(ctl(dlg.get(), id)->isVisible()) << id << " shows only in service mode";

    auto korean = make(true, true);
    EXPECT_EQ(shown(ctl<QPushButton>(korean.get(), netsetting::SearchPrinter)), "프린터 검색(S)");
    EXPECT_EQ(shown(ctl<QPushButton>(korean.get(), netsetting::ChangeSetting)), "설정 변경(C)");
    EXPECT_EQ(shown(ctl<QPushButton>(korean.get(), netsetting::Exit)), "닫기(X)");
    for (int id : kServiceControls)
        EXPECT_TRUE(ctl(korean.get(), id)->isVisible()) << id;
    EXPECT_EQ(shown(ctl<QLabel>(korean.get(), netsetting::MacLabel)), "MAC(Low 3byte):");
    EXPECT_EQ(ctl<QLineEdit>(korean.get(), netsetting::MacLow)->maxLength(), 2);
}

TEST_F(NetworkSettingDlgTest, RowsAppearWhileTheSearchRuns)
{
    auto sim = startSim("127.0.101.1,127.0.101.2", {"--net-dhcp", "2"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    auto dlg = make(false, false, 3000); // 3 s of silence: the rows are there long before
    ctl<QPushButton>(dlg.get(), netsetting::SearchPrinter)->click();
    EXPECT_TRUE(dlg->busy());
    EXPECT_TRUE(QtClock::waitUntil([&] { return list(*dlg)->rowCount() == 2; }, milliseconds(2500)));
    EXPECT_TRUE(dlg->busy()) << "the rows came while the search was still listening";
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), netsetting::SearchPrinter)->isEnabled());
    ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg->busy(); }, milliseconds(20000)));
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), netsetting::SearchPrinter)->isEnabled());
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"The printer has finished searching."}));
    int r = rowOf(*dlg, "02:5C:3A:00:00:02");
    ASSERT_GE(r, 0);
    EXPECT_EQ(list(*dlg)->item(r, 0)->text(), "127.0.101.2 (DHCP)");
    EXPECT_EQ(list(*dlg)->item(r, 1)->text(), "6001");

    // A second search starts from an empty list.
    ASSERT_TRUE(clickAndWait(*dlg, netsetting::SearchPrinter));
    EXPECT_EQ(list(*dlg)->rowCount(), 2);
}

TEST_F(NetworkSettingDlgTest, RowClickFillsTheFieldsAndChangeSettingChangesThatPrinter)
{
    auto sim = startSim("127.0.102.1,127.0.102.2", {"--net-dhcp", "2", "--net-mask", "255.255.0.0",
                                                     "--net-restart-ms", "0"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    auto dlg = make();
    ASSERT_TRUE(clickAndWait(*dlg, netsetting::SearchPrinter));
    ASSERT_EQ(list(*dlg)->rowCount(), 2);
    const int r = rowOf(*dlg, "02:5C:3A:00:00:02");
    ASSERT_GE(r, 0);
    clickRow(*dlg, r);
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Ip)->text(), "127.0.102.2");
    EXPECT_TRUE(ctl<QCheckBox>(dlg.get(), netsetting::Dhcp)->isChecked());
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Port)->text(), "6001");
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Subnet)->text(), "255.255.0.0");
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Gateway)->text(), "127.0.0.1");
    EXPECT_EQ(dlg->macText(), "02:5C:3A:00:00:02");
    QPushButton* change = ctl<QPushButton>(dlg.get(), netsetting::ChangeSetting);
    EXPECT_TRUE(change->isEnabled());

    // A click below the rows disables it again.
    QTableWidget* l = list(*dlg);
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, QPoint(10, l->viewport()->height() - 5));
    EXPECT_FALSE(change->isEnabled());

    // A refused address leaves it enabled and sends nothing.
    clickRow(*dlg, r);
    prompter.clear();
    ctl<QLineEdit>(dlg.get(), netsetting::Ip)->setText("127.0.102.255");
    ASSERT_TRUE(clickAndWait(*dlg, netsetting::ChangeSetting));
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Please enter IP address between 1 ~ 254."}));
    EXPECT_TRUE(change->isEnabled());

    prompter.clear();
    ctl<QLineEdit>(dlg.get(), netsetting::Ip)->setText("127.0.102.9");
    ctl<QLineEdit>(dlg.get(), netsetting::Port)->setText("9100");
    ctl<QCheckBox>(dlg.get(), netsetting::Dhcp)->setChecked(false);
    ASSERT_TRUE(clickAndWait(*dlg, netsetting::ChangeSetting));
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Do you want to change the Network Settings?.",
                                                          "Update Complete.\nPlease wait beep the buzzer."}));
    EXPECT_FALSE(change->isEnabled()) << "a new row click is needed for the next change";
    EXPECT_EQ(list(*dlg)->item(r, 0)->text(), "127.0.102.9") << "the list shows the new settings at once";
    EXPECT_EQ(list(*dlg)->item(r, 1)->text(), "9100");
    ASSERT_TRUE(dlg->chosenPrinter());
    EXPECT_EQ(dlg->chosenPrinter()->ip, "127.0.102.9");
    EXPECT_EQ(dlg->chosenPrinter()->port, 9100);
    ASSERT_TRUE(sim->waitForEvent("\"result\":\"apply\""));
    ASSERT_TRUE(sim->waitForEvent("\"cmd\":\"network-restart\""));

    ASSERT_TRUE(clickAndWait(*dlg, netsetting::SearchPrinter));
    const int moved = rowOf(*dlg, "02:5C:3A:00:00:02");
    ASSERT_GE(moved, 0);
    EXPECT_EQ(list(*dlg)->item(moved, 0)->text(), "127.0.102.9");
    EXPECT_EQ(list(*dlg)->item(moved, 1)->text(), "9100");
}

TEST_F(NetworkSettingDlgTest, ManualChangeInServiceMode)
{
    auto sim = startSim("127.0.103.1", {"--net-restart-ms", "0"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    auto dlg = make(true);
    ctl<QLineEdit>(dlg.get(), netsetting::Ip)->setText("127.0.103.5");
    ctl<QLineEdit>(dlg.get(), netsetting::Subnet)->setText("255.0.0.0");
    ctl<QLineEdit>(dlg.get(), netsetting::Gateway)->setText("127.0.0.1");
    ctl<QLineEdit>(dlg.get(), netsetting::MacLow)->setText("00");
    ctl<QLineEdit>(dlg.get(), netsetting::MacLow + 1)->setText("00");
    ctl<QLineEdit>(dlg.get(), netsetting::MacLow + 2)->setText("01");
    ctl<QLineEdit>(dlg.get(), netsetting::Port)->setText("515");
    ASSERT_TRUE(clickAndWait(*dlg, 1112));
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Please enter PORT number between 1024 ~ 65534."}));

    prompter.clear();
    ctl<QLineEdit>(dlg.get(), netsetting::Port)->setText("9100");
    ASSERT_TRUE(clickAndWait(*dlg, 1112));
    ASSERT_EQ(prompter.boxes().size(), 2u);
    EXPECT_EQ(prompter.boxes()[0].caption, "TAVROSet(203dpi)");
    EXPECT_EQ(prompter.boxes()[1].text, catalogText(Msg::NetworkUpdateComplete));
    ASSERT_TRUE(sim->waitForEvent("\"result\":\"apply\""));
}

TEST_F(NetworkSettingDlgTest, TheNetworkDialogOpensItWithServiceModeFromCtrl)
{
    CNetworkDlg net(prompter, NetworkLinkCalls{}, false);
    net.setSearchSettings(loopback(port));
    net.setServiceModeQuery([] { return true; });
    net.prepare("ETHERNET_II");
    net.show();
    QPushButton* setting = ctl<QPushButton>(&net, netdlg::NetworkSetting);
    ASSERT_TRUE(setting->isEnabled());
    QString title;
    bool manualVisible = false;
    whenModal(
        [&](QWidget* w) {
            title = w->windowTitle();
            manualVisible = ctl(w, netsetting::ManualChange)->isVisible();
            ctl<QPushButton>(w, netsetting::Exit)->click();
        },
        &net);
    setting->click();
    EXPECT_EQ(title, "Ethernet-II Network Setting");
    EXPECT_TRUE(manualVisible);
}

namespace {

// Change Setting on a clicked row with typed values: what the dialog says, whether a set
// request reached the module, and which field has the focus afterwards.
struct RuleCase {
    const char* name;
    const char* ip;
    const char* mask;
    const char* gateway;
    PromptAnswer gatewayAnswer; // the answer to the gateway question, when it comes
    std::vector<std::string> texts;
    bool sent;
    int focus; // the field with the focus after a refusal (0: not looked at)
};

const char* const kGatewayQuestion =
    "The gateway 127.0.0.1 is outside the subnet of 127.0.106.9 with mask 255.255.255.0, so the printer cannot "
    "reach it.\nSend these settings anyway?";

const RuleCase kRuleCases[] = {
    {"a part above 255 is refused, not cut to a byte", "127.0.106.300", "255.0.0.0", "127.0.0.1", PromptAnswer::Yes,
     {"The IP address \"127.0.106.300\" is not an address: enter four numbers from 0 to 255 separated by dots, "
      "such as 192.168.0.254."},
     false, netsetting::Ip},
    {"a mask part above 255", "127.0.106.9", "255.255.255.999", "127.0.0.1", PromptAnswer::Yes,
     {"The subnet mask \"255.255.255.999\" is not an address: enter four numbers from 0 to 255 separated by dots, "
      "such as 192.168.0.254."},
     false, netsetting::Subnet},
    {"a mask with holes", "127.0.106.9", "1.2.3.4", "127.0.0.1", PromptAnswer::Yes,
     {"The subnet mask 1.2.3.4 is not a mask: its bits must be ones from the left followed by zeros, such as "
      "255.255.255.0."},
     false, netsetting::Subnet},
    {"a gateway outside the subnet, answered No", "127.0.106.9", "255.255.255.0", "127.0.0.1", PromptAnswer::No,
     {kGatewayQuestion}, false, netsetting::Gateway},
    {"a gateway outside the subnet, answered Yes", "127.0.106.9", "255.255.255.0", "127.0.0.1", PromptAnswer::Yes,
     {kGatewayQuestion, "Do you want to change the Network Settings?.", "Update Complete.\nPlease wait beep the buzzer."},
     true, 0},
};

} // namespace

TEST_F(NetworkSettingDlgTest, AddressRulesRefuseOrAskBeforeAnythingIsSent)
{
    auto sim = startSim("127.0.106.1", {"--net-restart-ms", "600000"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    auto dlg = make();
    ASSERT_TRUE(clickAndWait(*dlg, netsetting::SearchPrinter));
    ASSERT_EQ(list(*dlg)->rowCount(), 1);
    auto setRequests = [&] {
        auto events = sim->events();
        return std::count_if(events.begin(), events.end(),
                             [](const std::string& e) { return e.find("\"command\":2") != std::string::npos; });
    };
    for (const RuleCase& c : kRuleCases) {
        SCOPED_TRACE(c.name);
        clickRow(*dlg, 0);
        prompter.clear();
        const bool asks = !c.texts.empty() && c.texts[0] == kGatewayQuestion;
        if (asks)
            prompter.scriptAnswers({c.gatewayAnswer});
        ctl<QLineEdit>(dlg.get(), netsetting::Ip)->setText(c.ip);
        ctl<QLineEdit>(dlg.get(), netsetting::Subnet)->setText(c.mask);
        ctl<QLineEdit>(dlg.get(), netsetting::Gateway)->setText(c.gateway);
        ctl<QLineEdit>(dlg.get(), netsetting::Port)->setText("9100");
        const auto before = setRequests();
        ASSERT_TRUE(clickAndWait(*dlg, netsetting::ChangeSetting));
        EXPECT_EQ(prompter.texts(), c.texts);
        if (c.sent) {
            EXPECT_TRUE(sim->waitForEvent("\"command\":2", milliseconds(10000), static_cast<size_t>(before + 1)));
        } else {
            EXPECT_EQ(setRequests(), before);
            EXPECT_TRUE(ctl<QPushButton>(dlg.get(), netsetting::ChangeSetting)->isEnabled())
                << "nothing was sent: the row is still chosen";
        }
        if (asks)
            EXPECT_EQ(prompter.boxes()[0].buttons, PromptButtons::YesNoDefaultNo) << "No unless Yes is chosen";
        if (c.focus)
            EXPECT_EQ(dlg->focusWidget(), ctl(dlg.get(), c.focus)) << "the refused field is the one to mend";
    }
}

TEST_F(NetworkSettingDlgTest, EveryControlHasItsOwnAccessKeyInBothLanguages)
{
    struct Key {
        int id;
        QChar key;
    };
    // Buttons and the check box carry their key; a field's key is on its label.
    const Key keys[] = {{netsetting::SearchPrinter, 'S'}, {netsetting::ChangeSetting, 'C'}, {netsetting::Exit, 'X'},
                        {netsetting::Dhcp, 'D'},          {netsetting::ManualChange, 'N'},  {netsetting::Ip, 'I'},
                        {netsetting::Subnet, 'U'},        {netsetting::Gateway, 'G'},       {netsetting::Port, 'P'},
                        {netsetting::MacLow, 'M'}};
    for (bool korean : {false, true}) {
        SCOPED_TRACE(korean ? "Korean" : "English");
        auto dlg = make(true, korean);
        std::map<QChar, int> used;
        for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>())
            if (!accessKey(b->text()).isNull())
                ++used[accessKey(b->text())];
        for (QLabel* l : dlg->findChildren<QLabel*>())
            if (!accessKey(l->text()).isNull())
                ++used[accessKey(l->text())];
        for (const Key& k : keys) {
            QWidget* w = ctl(dlg.get(), k.id);
            QString caption;
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                caption = b->text();
            for (QLabel* l : dlg->findChildren<QLabel*>())
                if (l->buddy() == w)
                    caption = l->text();
            EXPECT_EQ(accessKey(caption), k.key) << k.id << " " << caption.toStdString();
            EXPECT_EQ(used[k.key], 1) << "key " << QString(k.key).toStdString() << " used more than once";
        }
        EXPECT_EQ(used.size(), std::size(keys)) << "no key beyond these";
    }
}

TEST_F(NetworkSettingDlgTest, AccessKeysReachTheirControls)
{
    auto dlg = make();
    dlg->activateWindow();
    if (!QTest::qWaitForWindowActive(dlg.get()))
        GTEST_SKIP() << "this platform does not make the dialog the active window, and keys go to the active one";
    // Alt+U goes to the Subnet field, Alt+S searches.
    QTest::keyClick(dlg.get(), Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(ctl(dlg.get(), netsetting::Subnet)->hasFocus());
    QTest::keyClick(dlg.get(), Qt::Key_S, Qt::AltModifier); // a button's key clicks it a moment later
    EXPECT_TRUE(QtClock::waitUntil([&] { return !prompter.texts().empty() && !dlg->busy(); }, milliseconds(20000)));
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"The printer has finished searching."}));
}
