// The Network Setting dialog against simulated network modules on loopback: the list as the
// answers arrive, the row click, Change Setting and its enabling rules, service mode.
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
#include <sys/socket.h>

using std::chrono::milliseconds;

namespace {

using nettest::freeUdpPort;

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
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), netsetting::SearchPrinter)->text(), "Search Printer");
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), netsetting::Exit)->text(), "EXIT");
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), netsetting::Port)->text(), "0");
    for (int id : kServiceControls)
        EXPECT_FALSE(ctl(dlg.get(), id)->isVisible()) << id << " shows only in service mode";

    auto korean = make(true, true);
    EXPECT_EQ(ctl<QPushButton>(korean.get(), netsetting::SearchPrinter)->text(), "프린터 검색");
    EXPECT_EQ(ctl<QPushButton>(korean.get(), netsetting::ChangeSetting)->text(), "설정 변경");
    EXPECT_EQ(ctl<QPushButton>(korean.get(), netsetting::Exit)->text(), "닫기");
    for (int id : kServiceControls)
        EXPECT_TRUE(ctl(korean.get(), id)->isVisible()) << id;
    EXPECT_EQ(ctl<QLabel>(korean.get(), netsetting::MacLabel)->text(), "MAC(Low 3byte):");
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
