// The connection dialog, the function menu and the network dialog over the real port
// layer: discovery in a fake USB tree, ports as pseudo-terminals, the network test against
// a loopback listener.
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TestClock.h"

#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "shell/CConnectDlg.h"
#include "shell/CMenuDlg.h"
#include "shell/CToolApp.h"
#include "shell/ShellControls.h"
#include "network/ui/NetworkControls.h"
#include "common/PtyPair.h"
#include "network/ui/CNetworkDlg.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "qthost/QtBusy.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtStatusLine.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The test clock, with a hook that runs at every sleep (the moments the window paints).
struct HookClock final : Clock {
    std::chrono::steady_clock::time_point now() override { return inner.now(); }
    LocalTime localTime() override { return inner.localTime(); }
    void sleep(Ms d) override
    {
        if (onSleep)
            onSleep();
        inner.sleep(d);
    }
    std::vector<Ms> sleeps() const { return inner.sleeps(); }
    TestClock inner;
    std::function<void()> onSleep;
};

class ConnectDlgTest : public ::testing::Test {
protected:
    void TearDown() override { selectCatalog(false); }

    DeviceRoots roots() const
    {
        DeviceRoots r;
        r.sysfs = usb.sysfs();
        r.dev = usb.dev();
        r.extraPorts = extraPorts;
        return r;
    }

    std::unique_ptr<CConnectDlg> make(const std::string& lang = "en_US.UTF-8")
    {
        etc = std::make_unique<FakeEtc>(lang);
        profile = std::make_unique<Profile>(work / "tavroset.INI");
        ports = std::make_unique<CPorts>(prompter, clock, log, roots());
        ConnectDlgDeps deps{prompter, clock, *profile, log, portDiscovery(*ports, log, roots()), portNetworkLink(),
                            LocaleSources{}, "error.log", {}};
        deps.locale.etcRoot = etc->path();
        deps.locale.langEnv.reset();
        deps.errorLogFile = (work / "error.log").string();
        deps.runMenu = [this](QWidget*, const ConnectionSettings& s) { menuRuns.push_back(s); };
        return std::make_unique<CConnectDlg>(std::move(deps));
    }

    void addDevices(std::initializer_list<const char*> names)
    {
        Profile p(work / "tavroset.INI");
        int i = 0;
        for (const char* name : names)
            ASSERT_TRUE(p.writeString("DEVICELIST", "DEVICE" + std::to_string(i++), name).ok());
    }

    static QComboBox* combo(CConnectDlg& d, int id) { return ctl<QComboBox>(&d, id); }
    static void choose(CConnectDlg& d, const QString& device)
    {
        QComboBox* c = combo(d, 1000);
        int index = c->findText(device);
        ASSERT_GE(index, 0) << device.toStdString();
        c->setCurrentIndex(index);
        d.onDeviceChange();
    }

    TempDir work;
    FakeUsbTree usb;
    std::vector<std::string> extraPorts;
    std::unique_ptr<FakeEtc> etc;
    RecordingPrompter prompter;
    HookClock clock;
    CErrorLog log{&clock};
    std::unique_ptr<Profile> profile;
    std::unique_ptr<CPorts> ports;
    std::vector<ConnectionSettings> menuRuns;
};

TEST_F(ConnectDlgTest, NoUsbDeviceShowsBuiltInListWithNothingSelected)
{
    auto dlg = make();
    EXPECT_EQ(dlg->windowTitle(), "TAVROSet(203dpi) 1.10E");
    QComboBox* device = combo(*dlg, connectdlg::Device);
    ASSERT_EQ(device->count(), 5);
    EXPECT_EQ(device->itemText(0), "TAVRO36/38 U-I");
    EXPECT_EQ(device->itemText(4), "TAVRO36/38 E-II");
    EXPECT_EQ(device->currentIndex(), -1);
    for (int id : {1001, 1002, 1003, 1048, 1013, 1014})
        EXPECT_FALSE(combo(*dlg, id)->isEnabled()) << id;
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_EQ(combo(*dlg, connectdlg::Baudrate)->currentText(), "115200");
    EXPECT_EQ(combo(*dlg, connectdlg::FlowControl)->currentText(), "H/W");
    EXPECT_TRUE(prompter.boxes().empty());
    // The error log starts with the tool's version.
    EXPECT_NE(readFileBytes(work / "error.log").find("ERROR LOG : Tool - Ver 1.10.0.0"), std::string::npos);
}

TEST_F(ConnectDlgTest, VirtualSerialPortAtStartSelectsUsbSerialEntryAndFillsPort)
{
    usb.addVirtualSerial(0, "3301");
    usb.addPrinter(0, "3302"); // a printer-class device as well: the virtual serial port wins
    auto dlg = make();
    EXPECT_EQ(combo(*dlg, connectdlg::Device)->currentText(), "TAVRO36/38 U-I");
    EXPECT_EQ(combo(*dlg, connectdlg::Port)->currentText().toStdString(), (usb.dev() / "ttyACM0").string());
    EXPECT_TRUE(combo(*dlg, connectdlg::Port)->isEnabled());
    EXPECT_TRUE(combo(*dlg, connectdlg::Baudrate)->isEnabled());
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_EQ(dlg->interfaceKind(), kInterfaceUsbSerial);
}

TEST_F(ConnectDlgTest, UsbPrinterAloneSelectsPrinterClassEntry)
{
    usb.addPrinter(0, "3304");
    auto dlg = make();
    EXPECT_EQ(combo(*dlg, connectdlg::Device)->currentText(), "TAVRO36/38 U-II");
    EXPECT_EQ(dlg->interfaceKind(), kInterfaceUsbPrinter);
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_FALSE(combo(*dlg, connectdlg::Port)->isEnabled());
    dlg->onOk();
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].portName, "USB");
    EXPECT_EQ(menuRuns[0].modelFamily, kFamilyTavro36);
    EXPECT_TRUE(clock.sleeps().empty()) << "found at the first attempt";
}

TEST_F(ConnectDlgTest, SimulatorsUsbVirtualSerialPortIsPreselected)
{
    if (!std::filesystem::exists(SimProcess::defaultBinary()))
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--usb", "--usb-serial", "--family", "5"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    etc = std::make_unique<FakeEtc>("en_US.UTF-8");
    DeviceRoots simRoots;
    simRoots.sysfs = sim.env("TAVRO_SYSFS_ROOT");
    simRoots.dev = sim.env("TAVRO_DEV_ROOT");
    profile = std::make_unique<Profile>(work / "tavroset.INI");
    ports = std::make_unique<CPorts>(prompter, clock, log, simRoots);
    ConnectDlgDeps deps{prompter, clock, *profile, log, portDiscovery(*ports, log, simRoots), portNetworkLink(),
                        LocaleSources{}, (work / "error.log").string(), {}};
    deps.locale.etcRoot = etc->path();
    deps.runMenu = [this](QWidget*, const ConnectionSettings& s) { menuRuns.push_back(s); };
    CConnectDlg dlg(std::move(deps));
    EXPECT_EQ(combo(dlg, 1000)->currentText(), "TAVRO36/38 U-I");
    EXPECT_EQ(combo(dlg, 1001)->currentText().toStdString(), (simRoots.dev / "ttyACM0").string());
    choose(dlg, "TAVRO36/38 U-II");
    EXPECT_TRUE(prompter.boxes().empty());
    dlg.onOk();
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].portName, "USB");
}

TEST_F(ConnectDlgTest, TwoUsbPrintersShowEntry11AndClearBothSelections)
{
    usb.addPrinter(0, "3302");
    usb.addPrinter(1, "3302");
    auto dlg = make();
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], englishCatalog()[11]);
    EXPECT_EQ(combo(*dlg, connectdlg::Device)->currentIndex(), -1);
    EXPECT_EQ(combo(*dlg, connectdlg::Port)->currentIndex(), -1);
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
}

TEST_F(ConnectDlgTest, UsbSearchTriesSixteenTimesWithGrowingCaption)
{
    auto dlg = make();
    QStringList captions;
    int busySleeps = 0;
    QString hintDuringSearch;
    clock.onSleep = [&] {
        captions << dlg->windowTitle();
        // The 4 s search shows that it runs and drops the clicks made meanwhile.
        busySleeps += QtBusy::isBusy(dlg.get());
        hintDuringSearch = dlg->findChild<QtStatusLine*>("okHint")->text();
    };
    choose(*dlg, "TAVRO36/38 U-II");
    EXPECT_EQ(busySleeps, 16);
    EXPECT_EQ(hintDuringSearch, "Searching for the USB printer... (up to 4 s)");
    EXPECT_FALSE(QtBusy::active());
    EXPECT_NE(dlg->okHint().indexOf("no USB printer of this model"), -1) << dlg->okHint().toStdString();
    auto sleeps = clock.sleeps();
    ASSERT_EQ(sleeps.size(), 16u);
    for (auto s : sleeps)
        EXPECT_EQ(s, std::chrono::milliseconds(250));
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], englishCatalog()[10]);
    ASSERT_EQ(captions.size(), 16);
    EXPECT_EQ(captions[0], "Searching for the printer.");
    EXPECT_EQ(captions[15], "Searching for the printer................");
    EXPECT_EQ(dlg->windowTitle(), "TAVROSet(203dpi) 1.10E") << "caption restored";
    EXPECT_EQ(combo(*dlg, connectdlg::Device)->currentIndex(), -1);
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
}

TEST_F(ConnectDlgTest, Tavro15OffersThreeBaudratesAndNoUserSetup)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid()) << pty.error();
    std::filesystem::create_symlink(pty.slavePath(), work / "ttySIM0");
    extraPorts = {(work / "ttySIM0").string()};
    addDevices({"TAVRO15 S"});
    auto dlg = make();
    QComboBox* device = combo(*dlg, connectdlg::Device);
    ASSERT_EQ(device->count(), 1);
    EXPECT_EQ(device->currentIndex(), -1) << "profile entries are not preselected";
    choose(*dlg, "TAVRO15 S");
    QComboBox* baud = combo(*dlg, connectdlg::Baudrate);
    ASSERT_EQ(baud->count(), 3);
    EXPECT_EQ(baud->itemText(0), "38400");
    EXPECT_EQ(baud->itemText(2), "9600");
    EXPECT_EQ(combo(*dlg, connectdlg::Port)->currentText().toStdString(), (work / "ttySIM0").string());
    dlg->onOk();
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].modelFamily, kFamilyTavro15);
    EXPECT_EQ(menuRuns[0].baudRate, 38400);

    CMenuDlg menu(menuRuns[0], MenuDlgDeps{});
    EXPECT_FALSE(ctl<QPushButton>(&menu, menudlg::UserSetup)->isEnabled());
    EXPECT_TRUE(ctl<QPushButton>(&menu, menudlg::Back)->isEnabled());
}

TEST_F(ConnectDlgTest, OkOnSerialEntryStoresOneStopBitAndHardwareFlow)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid()) << pty.error();
    std::filesystem::create_symlink(pty.slavePath(), work / "ttySIM0");
    extraPorts = {(work / "ttySIM0").string()};
    auto dlg = make();
    choose(*dlg, "TAVRO36/38 S");
    ASSERT_TRUE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    combo(*dlg, connectdlg::Parity)->setCurrentIndex(2); // EVEN
    combo(*dlg, connectdlg::DataLength)->setCurrentIndex(1); // 7 Bits
    dlg->onDataLengthChange();
    combo(*dlg, connectdlg::Baudrate)->setCurrentIndex(4); // 9600
    dlg->onOk();
    ASSERT_EQ(menuRuns.size(), 1u);
    const ConnectionSettings& s = menuRuns[0];
    EXPECT_EQ(s.portName, (work / "ttySIM0").string());
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.flowCtrl, 1);
    EXPECT_EQ(s.baudRate, 9600);
    EXPECT_EQ(s.byteSize, 7);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.modelFamily, kFamilyTavro36);

    // Two stop bits survive a change of the data length.
    combo(*dlg, connectdlg::StopBit)->setCurrentIndex(1);
    combo(*dlg, connectdlg::DataLength)->setCurrentIndex(0);
    dlg->onDataLengthChange();
    EXPECT_EQ(combo(*dlg, connectdlg::StopBit)->currentText(), "2");
    dlg->onOk();
    ASSERT_EQ(menuRuns.size(), 2u);
    EXPECT_EQ(menuRuns[1].stopBits, 2);
}

TEST_F(ConnectDlgTest, MissingPortsAndUnknownNamesKeepOkDisabled)
{
    addDevices({"TAVRO36/38 S", "TAVRO36/38 P", "TAVRO36/38 U-I", "ACME 9000 S"});
    auto dlg = make();
    choose(*dlg, "TAVRO36/38 S");
    choose(*dlg, "TAVRO36/38 P");
    choose(*dlg, "TAVRO36/38 U-I");
    choose(*dlg, "ACME 9000 S");
    auto texts = prompter.texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], englishCatalog()[13]);
    EXPECT_EQ(texts[1], englishCatalog()[12]);
    EXPECT_EQ(texts[2], englishCatalog()[13]);
    EXPECT_EQ(texts[3], englishCatalog()[9]);
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_EQ(dlg->family(), kFamilyNone);
}

TEST_F(ConnectDlgTest, OemPrefixIsATavro36)
{
    PtyPair pty;
    ASSERT_TRUE(pty.valid());
    std::filesystem::create_symlink(pty.slavePath(), work / "lpSIM0");
    extraPorts = {(work / "lpSIM0").string()};
    addDevices({std::string(kOemPrefix).append("-80 P").c_str()});
    auto dlg = make();
    choose(*dlg, QString(kOemPrefix) + "-80 P");
    EXPECT_EQ(dlg->family(), kFamilyTavro36);
    EXPECT_EQ(combo(*dlg, connectdlg::Port)->currentText().toStdString(), (work / "lpSIM0").string());
    EXPECT_FALSE(combo(*dlg, connectdlg::Baudrate)->isEnabled());
    dlg->onOk();
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].modelFamily, kFamilyTavro36);
    CMenuDlg menu(menuRuns[0], MenuDlgDeps{});
    EXPECT_EQ(menu.summary(), "TAVRO36/38 - " + (work / "lpSIM0").string());
}

TEST_F(ConnectDlgTest, KoreanSystemGivesKoreanLabelsAndCatalog)
{
    addDevices({"ACME S"});
    auto dlg = make("ko_KR.UTF-8");
    EXPECT_TRUE(dlg->korean());
    // Korean labels keep the English label's key, in brackets.
    EXPECT_EQ(ctl<QLabel>(dlg.get(), connectdlg::DeviceLabel)->text(), "프린터종류(&D)");
    EXPECT_EQ(ctl<QLabel>(dlg.get(), connectdlg::DeviceLabel)->buddy(), combo(*dlg, connectdlg::Device));
    EXPECT_EQ(ctl<QLabel>(dlg.get(), connectdlg::DataLengthLabel)->text(), "테이터 길이(&L)");
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), connectdlg::Cancel)->text(), "취소");
    choose(*dlg, "ACME S");
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.texts()[0], "알수없는 장치입니다.");

    ConnectionSettings s;
    s.portName = "/dev/ttyS0";
    MenuDlgDeps deps;
    deps.korean = true;
    CMenuDlg menu(s, deps);
    EXPECT_EQ(ctl<QPushButton>(&menu, menudlg::UserSetup)->text(), "사용자 설정(&U)");
    EXPECT_EQ(ctl<QPushButton>(&menu, menudlg::Back)->text(), "<< 뒤로(&B)");
}

TEST(ToolAppTest, ApplySettingsKeepsSerialValuesForOtherInterfaces)
{
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log(&clock);
    CPorts ports(prompter, clock, log);
    ConnectionSettings serial;
    serial.portName = "/dev/ttyUSB0";
    serial.baudRate = 9600;
    serial.byteSize = 7;
    serial.parity = 1;
    serial.flowCtrl = 3;
    serial.stopBits = 2;
    serial.modelFamily = kFamilyTavro15;
    applySettings(ports, serial);
    EXPECT_EQ(ports.m_PortName, "/dev/ttyUSB0");
    EXPECT_EQ(ports.m_BaudRate, 9600);
    EXPECT_EQ(ports.m_ByteSize, 7);
    EXPECT_EQ(ports.m_Parity, 1);
    EXPECT_EQ(ports.m_FlowCtrl, 3);
    EXPECT_EQ(ports.m_StopBits, 2);
    EXPECT_EQ(ports.m_ModelFamily, kFamilyTavro15);

    ConnectionSettings usb;
    usb.portName = "USB";
    usb.modelFamily = kFamilyTavro36;
    applySettings(ports, usb);
    EXPECT_EQ(ports.m_PortName, "USB");
    EXPECT_EQ(ports.m_ModelFamily, kFamilyTavro36);
    EXPECT_EQ(ports.m_BaudRate, 9600) << "not a serial choice: the serial settings stay";
}

TEST(MenuDlgTest, SerialSummaryHasSixLinesAndUserSetupSetsFunction)
{
    ConnectionSettings s;
    s.portName = "COM3";
    s.baudRate = 115200;
    s.byteSize = 8;
    s.parity = 0;
    s.flowCtrl = 1;
    s.stopBits = 0;
    s.modelFamily = kFamilyTavro36;
    int function = 0;
    std::string shown;
    MenuDlgDeps deps;
    deps.setFunction = [&](int f) { function = f; };
    deps.runUserSetup = [&](QWidget*, const std::string& summary) { shown = summary; };
    CMenuDlg menu(s, deps);
    EXPECT_EQ(menu.windowTitle(), "TAVROSet");
    EXPECT_EQ(menu.summary(), "TAVRO36/38 - COM3\r\nBaud : 115200\r\nData : 8 bit\r\nNone Parity\r\n"
                              "H/W Flow control\r\nOne Stop Bit");
    EXPECT_EQ(ctl<QPushButton>(&menu, menudlg::LogoDownload)->text(), "&Logo Download");
    ASSERT_TRUE(ctl<QPushButton>(&menu, menudlg::UserSetup)->isEnabled());
    ctl<QPushButton>(&menu, menudlg::UserSetup)->click();
    EXPECT_EQ(function, CMenuDlg::kFunctionUserSetup);
    EXPECT_EQ(shown, menu.summary());

    s.portName = "USB";
    EXPECT_EQ(CMenuDlg(s, MenuDlgDeps{}).summary(), "TAVRO \r\nUSB-II Interface");
}

// A loopback listener that takes connections into its backlog (the kernel completes the
// handshake without accept()).
class LoopbackListener {
public:
    LoopbackListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 8) == 0) {
            socklen_t len = sizeof a;
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
            m_port = ntohs(a.sin_port);
        }
    }
    ~LoopbackListener() { ::close(m_fd); }
    int port() const { return m_port; }
    // A loopback port with nothing listening: this one after closing.
    void stop()
    {
        ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

TEST_F(ConnectDlgTest, EthernetEntryGoesThroughNetworkDialog)
{
    LoopbackListener listener;
    ASSERT_GT(listener.port(), 0);
    auto dlg = make();
    choose(*dlg, "TAVRO36/38 E-II");
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_FALSE(combo(*dlg, connectdlg::Port)->isEnabled());
    QString title, ip, port;
    bool settingEnabled = true;
    whenModal([&](QWidget* net) {
        title = net->windowTitle();
        ip = ctl<QLineEdit>(net, netdlg::IpEdit)->text();
        port = ctl<QLineEdit>(net, netdlg::PortEdit)->text();
        settingEnabled = ctl<QPushButton>(net, netdlg::NetworkSetting)->isEnabled();
        ctl<QLineEdit>(net, netdlg::IpEdit)->setText("127.0.0.1");
        ctl<QLineEdit>(net, netdlg::PortEdit)->setText(QString::number(listener.port()));
        ctl<QPushButton>(net, netdlg::Ok)->click();
    });
    dlg->onOk();
    EXPECT_EQ(title, "Ethernet-II Network");
    EXPECT_EQ(ip, "192.168.0.254");
    EXPECT_EQ(port, "6001");
    EXPECT_TRUE(settingEnabled) << "Network Setting opens the printer search";
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].portName, "ETHERNET_II");
    EXPECT_EQ(dlg->networkDialog().ipAddress(), "127.0.0.1");
    EXPECT_EQ(dlg->networkDialog().checkedPort(), listener.port());
    EXPECT_TRUE(prompter.boxes().empty());
    // The menu names the printer's address after the summary text.
    EXPECT_EQ(menuRuns[0].host, "127.0.0.1");
    EXPECT_EQ(menuRuns[0].tcpPort, listener.port());
    CMenuDlg menu(menuRuns[0], MenuDlgDeps{});
    EXPECT_EQ(menu.summary(), "TAVRO36/38 - ETHERNET_II\r\n127.0.0.1 : " + std::to_string(listener.port()));
}

TEST_F(ConnectDlgTest, WirelessEntryEndsAsEthernetAndCancelStops)
{
    LoopbackListener listener;
    addDevices({"TAVRO36/38 W"});
    auto dlg = make();
    choose(*dlg, "TAVRO36/38 W");
    QString title, limitedAp;
    bool limitedEnabled = false;
    whenModal([&](QWidget* net) {
        title = net->windowTitle();
        limitedAp = ctl<QPushButton>(net, netdlg::Reserved)->text();
        limitedEnabled = ctl<QPushButton>(net, netdlg::Reserved)->isEnabled();
        ctl<QPushButton>(net, netdlg::NetworkSetting)->click();
        ctl<QPushButton>(net, netdlg::Reserved)->click();
        ctl<QLineEdit>(net, netdlg::IpEdit)->setText("127.0.0.1");
        ctl<QLineEdit>(net, netdlg::PortEdit)->setText(QString::number(listener.port()));
        ctl<QPushButton>(net, netdlg::Ok)->click();
    });
    dlg->onOk();
    EXPECT_EQ(title, "WLAN(WiFi) Network");
    EXPECT_EQ(limitedAp, "Limited AP");
    EXPECT_TRUE(limitedEnabled);
    auto boxes = prompter.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Turn on the printer and Connect a USB cable.");
    EXPECT_EQ(boxes[0].caption, "Notice");
    ASSERT_EQ(menuRuns.size(), 1u);
    EXPECT_EQ(menuRuns[0].portName, "ETHERNET_II");

    whenModal([](QWidget* net) { ctl<QPushButton>(net, netdlg::Cancel)->click(); });
    dlg->onOk();
    EXPECT_EQ(menuRuns.size(), 1u) << "Cancel in the network dialog stops OK";
}

TEST_F(ConnectDlgTest, OkDisabledAlwaysSaysWhy)
{
    addDevices({"TAVRO36/38 X", "TAVRO36/38 S", "TAVRO36/38 E-II"});
    auto dlg = make();
    auto* hint = dlg->findChild<QtStatusLine*>("okHint");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(dlg->okHint(), "Choose the printer model and interface under DEVICE.");

    // A known model with no interface at the end of its name: no box, but the reason.
    choose(*dlg, "TAVRO36/38 X");
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_TRUE(prompter.boxes().empty());
    EXPECT_NE(dlg->okHint().indexOf("names no interface"), -1) << dlg->okHint().toStdString();
    EXPECT_NE(dlg->okHint().indexOf("E-II"), -1);
    EXPECT_TRUE(hint->isVisibleTo(dlg.get()));
    EXPECT_EQ(hint->kind(), QtStatusLine::Kind::Failure);

    // No serial port: the box says it once, the line keeps saying it.
    choose(*dlg, "TAVRO36/38 S");
    EXPECT_NE(dlg->okHint().indexOf("no serial port"), -1) << dlg->okHint().toStdString();

    // OK on: nothing to explain.
    choose(*dlg, "TAVRO36/38 E-II");
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), connectdlg::Ok)->isEnabled());
    EXPECT_EQ(dlg->okHint(), "");
    EXPECT_EQ(hint->text(), "");
}

TEST_F(ConnectDlgTest, KoreanSystemSaysWhyOkIsDisabledInKorean)
{
    addDevices({"TAVRO36/38 X"});
    auto dlg = make("ko_KR.UTF-8");
    choose(*dlg, "TAVRO36/38 X");
    EXPECT_NE(dlg->okHint().indexOf(QString::fromUtf8("OK를 누를 수 없습니다")), -1) << dlg->okHint().toStdString();
}

// The shell's dialogs fit a 1280x720 screen and a 1366x768 laptop at 150 %.
TEST_F(ConnectDlgTest, ShellDialogsFitSmallAndScaledScreens)
{
    const QSize largest = largestDialogSize();
    for (const char* lang : {"en_US.UTF-8", "ko_KR.UTF-8"}) {
        SCOPED_TRACE(lang);
        addDevices({"TAVRO36/38 X"});
        auto dlg = make(lang);
        choose(*dlg, "TAVRO36/38 X"); // the longest hint
        QSize size = dlg->sizeHint().expandedTo(dlg->minimumSizeHint());
        EXPECT_LE(size.width(), largest.width());
        EXPECT_LE(size.height(), largest.height());
        size = dlg->networkDialog().minimumSizeHint();
        EXPECT_LE(size.width(), largest.width());
        EXPECT_LE(size.height(), largest.height());
        ConnectionSettings s;
        s.portName = "/dev/ttyS0";
        s.modelFamily = kFamilyTavro36;
        MenuDlgDeps deps;
        deps.korean = dlg->korean();
        CMenuDlg menu(s, deps);
        size = menu.sizeHint();
        EXPECT_LE(size.width(), largest.width());
        EXPECT_LE(size.height(), largest.height());
        selectCatalog(false);
    }
}

} // namespace
