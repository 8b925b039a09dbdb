// The Ethernet-II network dialog: the OK check in both languages (port, address, the
// connection test and why it failed), its access keys, and the printer chosen in the Network
// Setting dialog coming back into its fields. Printers are tavro-sim modules on loopback.
#include "GuiTestSupport.h"
#include "LoopbackServer.h"
#include "NetTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"

#include "app/MessageCatalog.h"
#include "network/ui/CNetworkDlg.h"
#include "network/ui/CNetworkSettingDlg.h"
#include "network/ui/NetworkControls.h"
#include "qthost/QtClock.h"
#include "shell/CToolApp.h"

#include <gtest/gtest.h>

#include <cctype>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using std::chrono::milliseconds;

namespace {

enum class Target { Listening, Closed, NotTried };

struct OkCase {
    const char* name;
    bool korean;
    const char* ip;
    const char* port; // "" for the test's TCP port
    Target target;
    bool accepted;
    const char* message; // the box, with %1 for "ip:port" ("" for none)
};

const OkCase kOkCases[] = {
    {"port above the range", false, "127.0.0.1", "65535", Target::NotTried, false,
     "Please enter PORT number between 1024 ~ 65534."},
    {"address part above 255", false, "192.168.0.300", "", Target::NotTried, false,
     "The IP address \"192.168.0.300\" is not an address: enter four numbers from 0 to 255 separated by dots, "
     "such as 192.168.0.254."},
    {"three parts", false, "192.168.0", "", Target::NotTried, false,
     "The IP address \"192.168.0\" is not an address: enter four numbers from 0 to 255 separated by dots, "
     "such as 192.168.0.254."},
    {"nothing listens", false, "127.0.0.1", "", Target::Closed, false,
     "ERROR : Printer check.\n%1 did not accept the connection: the connection was refused (nothing listens on "
     "that port)."},
    {"nothing listens, Korean", true, "127.0.0.1", "", Target::Closed, false,
     "ERROR - 프린터 확인\n%1에 연결하지 못했습니다: 연결이 거부되었습니다 (해당 포트에서 응답하는 장치가 "
     "없습니다)."},
    {"a printer listens", false, "127.0.0.1", "", Target::Listening, true, ""},
};

std::string withWhere(std::string text, const std::string& where)
{
    const size_t at = text.find("%1");
    return at == std::string::npos ? text : text.replace(at, 2, where);
}

// The letter after '&' in a caption (upper case), or 0.
QChar accessKey(const QString& caption)
{
    const int amp = caption.indexOf('&');
    return amp >= 0 && amp + 1 < caption.size() ? caption.at(amp + 1).toUpper() : QChar();
}

} // namespace

class NetworkDlgOk : public ::testing::TestWithParam<OkCase> {
protected:
    void TearDown() override { selectCatalog(false); }
};

TEST_P(NetworkDlgOk, ChecksThenTestsTheConnectionAndSaysWhereAndWhy)
{
    const OkCase& c = GetParam();
    selectCatalog(c.korean);
    LoopbackServer server;
    ASSERT_TRUE(server.valid());
    if (c.target == Target::Closed)
        server.stopListening();
    RecordingPrompter prompter;
    int inits = 0;
    NetworkLinkCalls calls = portNetworkLink();
    auto realInit = calls.ethInit;
    calls.ethInit = [&](const std::string& ip, int port) {
        ++inits;
        return realInit(ip, port);
    };
    CNetworkDlg dlg(prompter, calls, c.korean);
    dlg.prepare("ETHERNET_II");
    dlg.show();
    const std::string port = *c.port ? c.port : std::to_string(server.port());
    ctl<QLineEdit>(&dlg, netdlg::IpEdit)->setText(c.ip);
    ctl<QLineEdit>(&dlg, netdlg::PortEdit)->setText(QString::fromStdString(port));
    ctl<QPushButton>(&dlg, netdlg::Ok)->click();

    EXPECT_EQ(dlg.result(), c.accepted ? QDialog::Accepted : 0);
    EXPECT_EQ(inits, c.target == Target::NotTried ? 0 : 1) << "a refused value reaches no library call";
    if (*c.message) {
        ASSERT_EQ(prompter.texts().size(), 1u);
        EXPECT_EQ(prompter.texts()[0], withWhere(c.message, std::string(c.ip) + ":" + port));
        EXPECT_TRUE(dlg.isVisible()) << "a refusal or a failed test keeps the dialog open";
    } else {
        EXPECT_TRUE(prompter.boxes().empty());
        EXPECT_EQ(dlg.ipAddress(), c.ip);
        EXPECT_EQ(dlg.checkedPort(), server.port());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, NetworkDlgOk, ::testing::ValuesIn(kOkCases),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

TEST(NetworkDlg, PortRuleOfTheOkCheck)
{
    const std::pair<int, bool> ports[] = {{515, true},    {1024, true},  {6001, true}, {65534, true},
                                          {1023, false},  {65535, false}, {0, false},   {-6001, false}};
    for (auto [port, accepted] : ports)
        EXPECT_EQ(CNetworkDlg::portAccepted(port), accepted) << port;
}

TEST(NetworkDlg, SettingButtonsHaveAccessKeysAndTheirCaptions)
{
    struct Caption {
        bool korean;
        const char* portName;
        const char* setting;
        QChar key;
    };
    const Caption captions[] = {
        {false, "ETHERNET_II", "Network Setting", 'N'},
        {true, "ETHERNET_II", "네트워크 설정", 'N'},
        {false, "WIFI", "Infrastructure", 'F'},
    };
    RecordingPrompter prompter;
    for (const Caption& c : captions) {
        SCOPED_TRACE(c.setting);
        CNetworkDlg dlg(prompter, NetworkLinkCalls{}, c.korean);
        dlg.prepare(c.portName);
        const QString text = ctl<QPushButton>(&dlg, netdlg::NetworkSetting)->text();
        EXPECT_EQ(accessKey(text), c.key) << text.toStdString();
        // What shows is the caption itself (Korean adds the key in brackets, as the tool does).
        QString shown = text;
        shown.remove('&');
        EXPECT_EQ(shown, c.korean ? QString::fromUtf8(c.setting) + "(" + c.key + ")" : QString::fromUtf8(c.setting));
        // No other control of the window uses the same key.
        int sameKey = 0;
        for (QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
            sameKey += accessKey(b->text()) == c.key;
        for (QLabel* l : dlg.findChildren<QLabel*>())
            sameKey += accessKey(l->text()) == c.key;
        EXPECT_EQ(sameKey, 1);
    }
}

TEST(NetworkDlg, ThePrinterChosenInNetworkSettingComesBack)
{
    const int udpPort = nettest::freeUdpPort();
    ASSERT_NE(udpPort, 0);
    SimProcess sim({"--udp", "127.0.105.1,127.0.105.2", "--udp-port", std::to_string(udpPort), "--udp-reply-port",
                    std::to_string(udpPort), "--quiet", "--net-restart-ms", "0"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    selectCatalog(false);
    RecordingPrompter prompter;
    CNetworkDlg net(prompter, NetworkLinkCalls{}, false);
    net.setSearchSettings(nettest::loopbackSettings(udpPort));
    net.setServiceModeQuery([] { return false; });
    net.prepare("ETHERNET_II");
    net.show();

    // Opened and closed without a click: the fields stay as they were.
    whenModal([](QWidget* w) { ctl<QPushButton>(w, netsetting::Exit)->click(); }, &net);
    ctl<QPushButton>(&net, netdlg::NetworkSetting)->click();
    EXPECT_EQ(ctl<QLineEdit>(&net, netdlg::IpEdit)->text(), "192.168.0.254");
    EXPECT_EQ(ctl<QLineEdit>(&net, netdlg::PortEdit)->text(), "6001");

    // A row clicked, then changed to a new address and port: the new ones come back.
    bool searched = false;
    whenModal(
        [&](QWidget* w) {
            auto* dlg = static_cast<CNetworkSettingDlg*>(w);
            ctl<QPushButton>(w, netsetting::SearchPrinter)->click();
            searched = QtClock::waitUntil([&] { return !dlg->busy(); }, milliseconds(20000));
            auto* list = ctl<QTableWidget>(w, netsetting::List);
            for (int r = 0; r < list->rowCount(); ++r)
                if (list->item(r, 4)->text() == "02:5C:3A:00:00:02")
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(r, 1)).center());
            ctl<QLineEdit>(w, netsetting::Ip)->setText("127.0.105.20");
            ctl<QLineEdit>(w, netsetting::Subnet)->setText("255.0.0.0");
            ctl<QLineEdit>(w, netsetting::Port)->setText("9100");
            ctl<QPushButton>(w, netsetting::ChangeSetting)->click();
            QtClock::waitUntil([&] { return !dlg->busy(); }, milliseconds(20000));
            ctl<QPushButton>(w, netsetting::Exit)->click();
        },
        &net);
    ctl<QPushButton>(&net, netdlg::NetworkSetting)->click();
    ASSERT_TRUE(searched);
    EXPECT_EQ(ctl<QLineEdit>(&net, netdlg::IpEdit)->text(), "127.0.105.20") << ::testing::PrintToString(prompter.texts());
    EXPECT_EQ(ctl<QLineEdit>(&net, netdlg::PortEdit)->text(), "9100");
    EXPECT_EQ(net.ipAddress(), "192.168.0.254") << "taken only by OK";
}
