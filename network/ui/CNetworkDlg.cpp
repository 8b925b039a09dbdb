#include "network/ui/CNetworkDlg.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "network/ui/CNetworkSettingDlg.h"
#include "network/ui/NetworkControls.h"

#include "qthost/HelpBrowser.h"
#include "qthost/QtClock.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"
#include "app/MessageCatalogNetwork.h"
#include "network/NetworkAddressRules.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

const char* kUsbNotice = "Turn on the printer and Connect a USB cable.";
const char* kUsbNoticeKo = "프린터를 켜고 USB케이블을 연결하십시오.";

// Why a connect failed, from the library's errno, in the user's language.
std::string connectReason(int error)
{
    switch (error) {
    case ECONNREFUSED: return networkText(NetText::ReasonRefused);
    case ETIMEDOUT: return networkText(NetText::ReasonTimedOut);
    case EHOSTUNREACH:
    case ENETUNREACH: return networkText(NetText::ReasonUnreachable);
    case EINVAL: return networkText(NetText::ReasonBadAddress);
    case 0: return networkText(NetText::ReasonUnknown);
    default: return std::strerror(error);
    }
}

} // namespace

bool CNetworkDlg::portAccepted(int port)
{
    return (port >= 1024 && port <= 65534) || port == 515;
}

CNetworkDlg::CNetworkDlg(Prompter& prompter, NetworkLinkCalls calls, bool korean, QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_calls(std::move(calls)), m_korean(korean)
{
    setObjectName("CNetworkDlg");
    // One page for the Ethernet-II and the WLAN form of the dialog.
    help::installF1(this, "ethernet-ii");
    setModal(true);
    setMinimumWidth(300);

    m_ipEdit = new QLineEdit;
    m_ipEdit->setObjectName(controlName(netdlg::IpEdit));
    m_ipEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression("[0-9.]{0,15}"), m_ipEdit));
    m_portEdit = new QLineEdit;
    m_portEdit->setObjectName(controlName(netdlg::PortEdit));
    m_portEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]{0,6}"), m_portEdit));
    m_portEdit->setMaximumWidth(90);

    auto* ipLabel = new QLabel("&IP :");
    ipLabel->setBuddy(m_ipEdit);
    auto* portLabel = new QLabel(korean ? koreanMnemonic("포트", 'P') + " :" : QString("&PORT :"));
    portLabel->setBuddy(m_portEdit);
    auto* form = new QFormLayout;
    form->addRow(ipLabel, m_ipEdit);
    form->addRow(portLabel, m_portEdit);

    auto* box = new QGroupBox(korean ? QString::fromUtf8("설정") : QString("Setting"));
    m_setting = new QPushButton("&Network Setting");
    m_setting->setObjectName(controlName(netdlg::NetworkSetting));
    m_reserved = new QPushButton(korean ? QString::fromUtf8("예약") : QString("Reserved"));
    m_reserved->setObjectName(controlName(netdlg::Reserved));
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->addWidget(m_setting);
    boxLayout->addWidget(m_reserved);

    m_ok = new QPushButton("OK");
    m_ok->setObjectName(controlName(netdlg::Ok));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(korean ? "취소" : "Cancel");
    m_cancel->setObjectName(controlName(netdlg::Cancel));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(box);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &CNetworkDlg::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_setting, &QPushButton::clicked, this, &CNetworkDlg::onSettingButton);
    connect(m_reserved, &QPushButton::clicked, this, &CNetworkDlg::onSettingButton);
}

void CNetworkDlg::prepare(const std::string& portName)
{
    m_ipEdit->setText(QString::fromStdString(m_ip));
    m_portEdit->setText(QString::number(m_port));
    m_reserved->setEnabled(false);
    m_reserved->setText(m_korean ? QString::fromUtf8("예약") : QString("Reserved"));
    m_wireless = portName.rfind("ETH", 0) != 0;
    if (m_wireless) {
        setWindowTitle("WLAN(WiFi) Network");
        m_setting->setText("In&frastructure");
        m_setting->setEnabled(true);
        m_setting->setToolTip(QString());
        m_reserved->setText("Limited AP");
        m_reserved->setEnabled(true);
    } else {
        setWindowTitle("Ethernet-II Network");
        m_setting->setText(m_korean ? koreanMnemonic("네트워크 설정", 'N') : "&Network Setting");
        m_setting->setEnabled(true);
        m_setting->setToolTip(QString());
    }
    m_ipEdit->setFocus();
}

int CNetworkDlg::run(const std::string& portName)
{
    prepare(portName);
    return exec();
}

void CNetworkDlg::onSettingButton()
{
    // The WLAN module is configured over USB, not from here.
    if (m_wireless) {
        m_prompter.show(m_korean ? kUsbNoticeKo : kUsbNotice, PromptButtons::Ok, PromptIcon::Information,
                        m_korean ? "알림" : "Notice");
        return;
    }
    if (sender() != m_setting)
        return; // Reserved is disabled for Ethernet
    // Ctrl is read as the dialog opens, as the service functions expect.
    const bool service = m_serviceQuery ? m_serviceQuery() : CNetworkSettingDlg::ctrlHeld();
    CNetworkSettingDlg dialog(m_prompter, m_udp, m_korean, service, this);
    dialog.exec();
    // The printer chosen there is the one to connect to.
    if (const auto& chosen = dialog.chosenPrinter()) {
        m_ipEdit->setText(QString::fromStdString(chosen->ip));
        m_portEdit->setText(QString::number(chosen->port));
    }
}

void CNetworkDlg::onOk()
{
    // No socket library needs starting on Linux, so catalog entry 2 cannot occur here.
    QString ipText = m_ipEdit->text().trimmed();
    bool numeric = false;
    int port = m_portEdit->text().trimmed().toInt(&numeric);
    if (!numeric || !portAccepted(port)) {
        m_prompter.message(catalogText(Msg::PortNumberRange));
        m_portEdit->setFocus();
        return;
    }
    // The Windows address control could not hold a malformed address; a line edit can, and
    // handing one to the library would only fail later with a vaguer message.
    if (!readAddressText(ipText.toStdString())) {
        m_prompter.message(fillText(networkText(NetText::NotAnAddress),
                                    {networkText(NetText::FieldIp), ipText.toStdString()}));
        m_ipEdit->setFocus();
        return;
    }
    m_ip = ipText.toStdString();
    m_port = port;

    if (m_calls.ethInit)
        m_calls.ethInit(m_ip, m_port);
    m_checkedPort = m_port;
    // The connect may take the library's whole connect time-out (seconds) when nothing
    // answers; it runs beside the GUI thread so the window keeps painting meanwhile.
    std::atomic<int> opened{0};
    std::atomic<bool> done{false};
    if (m_calls.ethOpen) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        std::thread connecting([&] {
            opened = m_calls.ethOpen();
            done = true;
        });
        QtClock::waitUntil([&] { return done.load(); }, std::chrono::minutes(5));
        connecting.join();
        QApplication::restoreOverrideCursor();
    }
    const int error = m_calls.ethLastError ? m_calls.ethLastError() : 0;
    if (m_calls.ethClose)
        m_calls.ethClose();
    if ((opened & 0xFF) != 0) {
        accept();
        return;
    }
    // The catalog's line, then where and why.
    const std::string where = m_ip + ":" + std::to_string(m_port);
    m_prompter.message(std::string(catalogText(Msg::PrinterCheckError)) + "\n" +
                       fillText(networkText(NetText::ConnectFailed), {where, connectReason(error)}));
    m_ipEdit->setFocus();
}
