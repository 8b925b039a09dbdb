#include "shell/CConnectDlg.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/PortName.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "app/Version.h"
#include "shell/ShellControls.h"
#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtBusy.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtStatusLine.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kUsbSearchAttempts = 16;
// The printer may still be enumerating after power-on; 16 tries 250 ms apart give it 4 s.
constexpr Clock::Ms kUsbSearchPause{250};
const char* kSearchCaption = "Searching for the printer";

QComboBox* makeCombo(int id)
{
    auto* combo = new QComboBox;
    combo->setObjectName(controlName(id));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setMinimumWidth(150);
    return combo;
}

std::string comboText(const QComboBox* combo)
{
    return combo->currentIndex() < 0 ? std::string() : combo->currentText().toStdString();
}

} // namespace

CConnectDlg::CConnectDlg(ConnectDlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CConnectDlg");
    help::installF1(this, "connect");
    m_device = makeCombo(connectdlg::Device);
    m_device->setMinimumWidth(220);
    m_port = makeCombo(connectdlg::Port);
    m_baud = makeCombo(connectdlg::Baudrate);
    m_parity = makeCombo(connectdlg::Parity);
    m_dataLen = makeCombo(connectdlg::DataLength);
    m_flow = makeCombo(connectdlg::FlowControl);
    m_stopBit = makeCombo(connectdlg::StopBit);

    auto* grid = new QGridLayout;
    struct Row {
        int labelId;
        const char* english;
        const char* korean;
        char key;
        QComboBox* combo;
    };
    const Row rows[] = {
        {connectdlg::DeviceLabel, "&DEVICE", "프린터종류", 'D', m_device},
        {connectdlg::PortLabel, "&PORT", "포트", 'P', m_port},
        {connectdlg::BaudrateLabel, "&Baudrate", "통신속도", 'B', m_baud},
        {connectdlg::ParityLabel, "P&arity", "패리티", 'A', m_parity},
        {connectdlg::DataLengthLabel, "Data &Length", "테이터 길이", 'L', m_dataLen},
        {connectdlg::FlowControlLabel, "&Flow control", "플로우 컨트롤", 'F', m_flow},
        {connectdlg::StopBitLabel, "&Stop Bit", "스톱 비트", 'S', m_stopBit},
    };
    int r = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(row.english);
        label->setObjectName(controlName(row.labelId));
        label->setBuddy(row.combo);
        grid->addWidget(label, r, 0);
        grid->addWidget(row.combo, r, 1);
        m_koreanLabels.push_back({label, row.korean, row.key});
        ++r;
    }
    m_ok = new QPushButton("OK");
    m_ok->setObjectName(controlName(connectdlg::Ok));
    m_ok->setDefault(true);
    m_cancel = new QPushButton("Cancel");
    m_cancel->setObjectName(controlName(connectdlg::Cancel));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    m_hint = new QtStatusLine;
    m_hint->setObjectName("okHint");
    auto* columns = new QHBoxLayout;
    columns->addLayout(grid, 1);
    columns->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(m_hint);
    setTabOrder(m_device, m_port);
    setTabOrder(m_port, m_baud);
    setTabOrder(m_baud, m_parity);
    setTabOrder(m_parity, m_dataLen);
    setTabOrder(m_dataLen, m_flow);
    setTabOrder(m_flow, m_stopBit);
    setTabOrder(m_stopBit, m_ok);
    setTabOrder(m_ok, m_cancel);

    m_network = std::make_unique<CNetworkDlg>(m_deps.prompter, m_deps.network, false, this);

    initialise();

    connect(m_device, &QComboBox::activated, this, [this] { onDeviceChange(); });
    connect(m_dataLen, &QComboBox::activated, this, [this] { onDataLengthChange(); });
    connect(m_ok, &QPushButton::clicked, this, &CConnectDlg::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CConnectDlg::~CConnectDlg() = default;

void CConnectDlg::initialise()
{
    setWindowIcon(appIcon());

    m_korean = selectCatalog(m_deps.locale);
    if (m_korean) {
        for (const KoreanLabel& k : m_koreanLabels)
            k.label->setText(koreanMnemonic(k.text, k.key));
        m_cancel->setText("취소");
        // The network dialog is built before the language is known; rebuild it so that its
        // captions follow the catalog.
        m_network = std::make_unique<CNetworkDlg>(m_deps.prompter, m_deps.network, true, this);
    }

    setWindowTitle(QString("TAVROSet(203dpi) ") + kVersionText + kVersionSuffix);

    fillDeviceList();

    m_baud->clear();
    fillBaudrates(false);
    m_parity->addItems({"NONE", "ODD", "EVEN"});
    m_parity->setCurrentIndex(0);
    m_dataLen->addItems({"8 Bits", "7 Bits"});
    m_dataLen->setCurrentIndex(0);
    m_flow->addItems({"H/W", "S/W", "NONE"});
    m_flow->setCurrentIndex(0);
    m_stopBit->addItems({"1", "2"});
    m_stopBit->setCurrentIndex(0);
    m_port->setEnabled(false);
    setSerialListsEnabled(false);
    m_ok->setEnabled(false);

    if (m_deps.errorLog.Open(m_deps.errorLogFile))
        m_deps.errorLog.WriteLog("ERROR LOG : Tool - Ver %d.%d.%d.%d", kVersionParts[0], kVersionParts[1],
                                 kVersionParts[2], kVersionParts[3]);

    if (m_device->currentIndex() >= 0)
        onDeviceChange();
    updateOkHint();
}

QString CConnectDlg::okHint() const
{
    return m_ok->isEnabled() ? QString() : m_hint->text();
}

void CConnectDlg::setOkHint(const char* english, const char* korean)
{
    m_hintText = QString::fromUtf8(m_korean ? korean : english);
}

void CConnectDlg::updateOkHint()
{
    // Every path that leaves OK disabled has set its reason; a message box may have said it
    // once, the line under the lists keeps saying it.
    if (m_ok->isEnabled())
        m_hint->clear();
    else if (!m_hintText.isEmpty())
        m_hint->showFailure(m_hintText);
    else if (m_device->currentIndex() < 0)
        m_hint->showMessage(QString::fromUtf8(m_korean ? "프린터종류에서 프린터 모델과 인터페이스를 선택하십시오."
                                                       : "Choose the printer model and interface under DEVICE."));
    else
        m_hint->clear();
}

void CConnectDlg::fillDeviceList()
{
    int count = 0;
    for (const auto& [key, value] : m_deps.profile.entries("DEVICELIST")) {
        (void)key;
        if (value.empty())
            continue;
        m_device->addItem(QString::fromStdString(value));
        ++count;
    }
    m_device->setCurrentIndex(-1);
    if (count > 0)
        return;

    // The built-in list with its USB preselection: the virtual serial port first, the
    // printer-class device only when no virtual serial port answered.
    const auto names = builtInDeviceList();
    for (const auto& name : names)
        m_device->addItem(QString::fromStdString(name));
    auto& d = m_deps.discovery;
    int selected = -1;
    if (d.findUsbVirtualCom) {
        for (const char* id : {"USB\\VID_5A3E&PID_3301", "USB\\VID_5A3E&PID_3303"})
            if (!d.findUsbVirtualCom(id).empty()) {
                selected = 0;
                break;
            }
    }
    if (selected < 0 && d.countUsbPrinters) {
        for (const char* id : {"USB\\VID_5A3E&PID_3302", "USB\\VID_5A3E&PID_3304"})
            if (d.countUsbPrinters(id) != -1) {
                selected = 1;
                break;
            }
    }
    m_device->setCurrentIndex(selected);
}

void CConnectDlg::setSerialListsEnabled(bool on)
{
    for (QComboBox* c : {m_baud, m_parity, m_dataLen, m_flow, m_stopBit})
        c->setEnabled(on);
}

void CConnectDlg::fillBaudrates(bool tavro15)
{
    m_baud->clear();
    if (tavro15)
        m_baud->addItems({"38400", "19200", "9600"});
    else
        m_baud->addItems({"115200", "57600", "38400", "19200", "9600"});
    m_baud->setCurrentIndex(0);
}

void CConnectDlg::clearSelections()
{
    m_port->setCurrentIndex(-1);
    m_device->setCurrentIndex(-1);
}

bool CConnectDlg::usbSearch(int& count)
{
    const auto ids = usbSearchIds(m_family);
    const QString caption = windowTitle();
    QString searching = m_korean ? QString::fromUtf8("프린터를 찾는 중") : QString(kSearchCaption);
    setWindowTitle(searching);
    QtBusy busy(this, m_hint,
                QString::fromUtf8(m_korean ? "USB 프린터를 찾는 중... (최대 4초)"
                                           : "Searching for the USB printer... (up to 4 s)"));
    count = -1;
    for (int attempt = 0; attempt < kUsbSearchAttempts; ++attempt) {
        for (const auto& id : ids) {
            count = m_deps.discovery.countUsbPrinters ? m_deps.discovery.countUsbPrinters(id) : -1;
            if (count != -1)
                break;
        }
        if (count != -1)
            break;
        searching += '.';
        setWindowTitle(searching);
        m_deps.clock.sleep(kUsbSearchPause);
    }
    setWindowTitle(caption);
    return count != -1;
}

void CConnectDlg::onDeviceChange()
{
    m_hintText.clear();
    struct HintOnReturn {
        CConnectDlg& dlg;
        ~HintOnReturn() { dlg.updateOkHint(); }
    } hintOnReturn{*this};
    const std::string name = comboText(m_device);
    ModelFamily family = familyForDeviceChange(name);
    if (family == kFamilyNone) {
        m_deps.prompter.message(catalogText(Msg::InvalidDevice));
        setOkHint("OK is off: the DEVICE entry names no printer model this tool knows.",
                  "프린터종류에 이 프로그램이 모르는 모델이 선택되어 OK를 누를 수 없습니다.");
        m_family = kFamilyNone;
        // OK must not go on with the interface of the entry chosen before.
        m_ok->setEnabled(false);
        return;
    }
    m_family = family;
    m_interface = interfaceKindOf(name, m_family);

    switch (m_interface) {
    case kInterfaceEthernet:
    case kInterfaceWireless:
        m_port->setEnabled(false);
        setSerialListsEnabled(false);
        m_ok->setEnabled(true);
        return;
    case kInterfaceUsbPrinter: {
        int count = -1;
        usbSearch(count);
        if (count == -1 || count > 1) {
            m_deps.prompter.message(catalogText(count == -1 ? Msg::TurnOnUsbPrinter : Msg::TooManyUsbDevices));
            if (count == -1)
                setOkHint("OK is off: no USB printer of this model was found. Turn it on, then choose the "
                          "DEVICE entry again.",
                          "이 모델의 USB 프린터가 없어 OK를 누를 수 없습니다. 프린터를 켜고 프린터종류를 다시 "
                          "선택하십시오.");
            else
                setOkHint("OK is off: more than one USB printer of this model is connected; leave one.",
                          "이 모델의 USB 프린터가 둘 이상 연결되어 OK를 누를 수 없습니다. 하나만 연결하십시오.");
            m_ok->setEnabled(false);
            clearSelections();
            return;
        }
        m_port->setEnabled(false);
        setSerialListsEnabled(false);
        m_ok->setEnabled(true);
        return;
    }
    case kInterfaceParallel: {
        m_port->clear();
        std::vector<std::string> ports;
        if (m_deps.discovery.enumPorts)
            ports = m_deps.discovery.enumPorts(true);
        std::sort(ports.begin(), ports.end());
        for (const auto& p : ports)
            m_port->addItem(QString::fromStdString(p));
        if (ports.empty()) {
            m_deps.prompter.message(catalogText(Msg::NoLptPort));
            setOkHint("OK is off: this system has no parallel port.",
                      "시스템에 LPT포트가 없어 OK를 누를 수 없습니다.");
            m_port->setCurrentIndex(-1);
            // Without a port OK would store an empty port name.
            m_ok->setEnabled(false);
            return;
        }
        m_port->setCurrentIndex(0);
        m_port->setEnabled(true);
        setSerialListsEnabled(false);
        break;
    }
    case kInterfaceSerial:
    case kInterfaceUsbSerial: {
        m_port->clear();
        std::vector<std::string> ports;
        if (m_interface == kInterfaceUsbSerial) {
            std::string com = m_deps.discovery.findUsbVirtualCom
                                  ? m_deps.discovery.findUsbVirtualCom(virtualSerialId(m_family))
                                  : std::string();
            if (!com.empty())
                ports.push_back(com);
        } else if (m_deps.discovery.enumPorts) {
            ports = m_deps.discovery.enumPorts(false);
            std::sort(ports.begin(), ports.end());
        }
        for (const auto& p : ports)
            m_port->addItem(QString::fromStdString(p));
        if (ports.empty()) {
            m_deps.prompter.message(catalogText(Msg::NoComPort));
            if (m_interface == kInterfaceUsbSerial)
                setOkHint("OK is off: no USB virtual serial port of this model was found. Connect and turn "
                          "on the printer, then choose the DEVICE entry again.",
                          "이 모델의 USB 가상 시리얼 포트가 없어 OK를 누를 수 없습니다. 프린터를 연결하고 켠 뒤 "
                          "프린터종류를 다시 선택하십시오.");
            else
                setOkHint("OK is off: this system has no serial port.",
                          "시스템에 COM포트가 없어 OK를 누를 수 없습니다.");
            m_port->setCurrentIndex(-1);
            m_ok->setEnabled(false);
            return;
        }
        m_port->setCurrentIndex(0);
        m_port->setEnabled(true);
        setSerialListsEnabled(true);
        fillBaudrates(m_family == kFamilyTavro15);
        break;
    }
    default:
        m_interface = kInterfaceNone;
        setOkHint("OK is off: the DEVICE entry names no interface this tool can use. The name must end "
                  "in S (serial), P (parallel), U-I (USB virtual serial), U-II (USB printer), E-II "
                  "(Ethernet) or W (wireless).",
                  "프린터종류 이름에 사용할 수 있는 인터페이스가 없어 OK를 누를 수 없습니다. 이름은 S(시리얼), "
                  "P(패러렐), U-I(USB 가상 시리얼), U-II(USB 프린터), E-II(이더넷) 또는 W(무선)로 "
                  "끝나야 합니다.");
        break;
    }
    m_ok->setEnabled(m_family != kFamilyNone && m_interface != kInterfaceNone);
}

void CConnectDlg::onDataLengthChange()
{
    const QString remembered = m_stopBit->currentText();
    m_stopBit->clear();
    if (m_dataLen->currentText() == "5 Bits")
        m_stopBit->addItem("1");
    else
        m_stopBit->addItems({"1", "2"});
    int index = m_stopBit->findText(remembered);
    m_stopBit->setCurrentIndex(index >= 0 ? index : 0);
}

void CConnectDlg::onOk()
{
    ConnectionSettings s = m_settings;
    const std::string device = comboText(m_device);
    s.portName = comboText(m_port);
    s.modelFamily = familyForOk(device);

    switch (m_interface) {
    case kInterfaceUsbPrinter:
        if (m_family != kFamilyTavro15)
            s.portName = "USB";
        break;
    case kInterfaceEthernet:
        s.portName = "ETHERNET_II";
        if (m_network->run(s.portName) != QDialog::Accepted)
            return;
        s.host = m_network->ipAddress();
        s.tcpPort = m_network->port();
        break;
    case kInterfaceWireless:
        // The network dialog tells the WLAN module by this name; every tool afterwards
        // reaches it like an Ethernet-II module.
        s.portName = "WIFI";
        if (m_network->run(s.portName) != QDialog::Accepted)
            return;
        s.portName = "ETHERNET_II";
        s.host = m_network->ipAddress();
        s.tcpPort = m_network->port();
        break;
    case kInterfaceParallel:
        break;
    default: {
        if (m_baud->currentIndex() < 0) {
            m_deps.prompter.message(catalogText(Msg::BaudrateNotSelected));
            return;
        }
        s.baudRate = m_baud->currentText().toInt();
        if (m_dataLen->currentIndex() < 0) {
            m_deps.prompter.message(catalogText(Msg::DataLengthNotSelected));
            return;
        }
        s.byteSize = m_dataLen->currentText().section(' ', 0, 0).toInt();
        if (m_parity->currentIndex() < 0) {
            m_deps.prompter.message(catalogText(Msg::ParityNotSelected));
            return;
        }
        s.parity = m_parity->currentIndex();
        if (m_stopBit->currentText().isEmpty()) {
            m_deps.prompter.message(catalogText(Msg::StopBitNotSelected));
            return;
        }
        s.stopBits = stopBitsCode(m_stopBit->currentText().toStdString());
        if (m_flow->currentIndex() < 0) {
            m_deps.prompter.message(catalogText(Msg::FlowControlNotSelected));
            return;
        }
        s.flowCtrl = m_flow->currentIndex() + 1;
        break;
    }
    }
    m_settings = s;
    if (m_deps.runMenu)
        m_deps.runMenu(this, m_settings);
}
