#include "network/ui/CNetworkSettingDlg.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "network/ui/NetworkControls.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtClock.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QLineEdit* addressEdit(int id)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(controlName(id));
    // What an address control can hold: four numbers of up to three digits.
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}(\\.[0-9]{0,3}){0,3}"), edit));
    edit->setMinimumWidth(120);
    return edit;
}

} // namespace

bool CNetworkSettingDlg::ctrlHeld()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

CNetworkSettingDlg::CNetworkSettingDlg(Prompter& prompter, UdpSettings settings, bool korean, bool serviceMode,
                                       QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_engine(prompter, std::move(settings)), m_korean(korean),
      m_service(serviceMode)
{
    setObjectName("CNetworkSettingDlg");
    help::installF1(this, "network-setting");
    setWindowTitle("Ethernet-II Network Setting");
    setModal(true);

    m_list = new QTableWidget(0, 5);
    m_list->setObjectName(controlName(netsetting::List));
    if (korean)
        m_list->setHorizontalHeaderLabels({"IP", QString::fromUtf8("포트"), QString::fromUtf8("서브넷"),
                                           QString::fromUtf8("게이트웨이"), QString::fromUtf8("MAC 주소")});
    else
        m_list->setHorizontalHeaderLabels({"IP", "Port", "Subnet", "Gateway", "Mac Address"});
    m_list->setShowGrid(true);
    m_list->verticalHeader()->hide();
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setColumnWidth(0, 130);
    m_list->setColumnWidth(1, 60);
    m_list->setColumnWidth(2, 130);
    m_list->setColumnWidth(3, 130);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setMinimumSize(600, 200);
    m_list->viewport()->installEventFilter(this);

    // Access keys: S, C, X on the buttons, I, U, G, P, D on the fields, M and N in service mode.
    m_search = new QPushButton(korean ? koreanMnemonic("프린터 검색", 'S') : "&Search Printer");
    m_search->setObjectName(controlName(netsetting::SearchPrinter));
    m_change = new QPushButton(korean ? koreanMnemonic("설정 변경", 'C') : "&Change Setting");
    m_change->setObjectName(controlName(netsetting::ChangeSetting));
    m_exit = new QPushButton(korean ? koreanMnemonic("닫기", 'X') : "E&XIT");
    m_exit->setObjectName(controlName(netsetting::Exit));

    m_ip = addressEdit(netsetting::Ip);
    m_subnet = addressEdit(netsetting::Subnet);
    m_gateway = addressEdit(netsetting::Gateway);
    m_port = new QLineEdit("0");
    m_port->setObjectName(controlName(netsetting::Port));
    m_port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), m_port));
    m_port->setMaximumWidth(80);
    m_dhcp = new QCheckBox("&DHCP");
    m_dhcp->setObjectName(controlName(netsetting::Dhcp));

    auto* fields = new QGridLayout;
    const std::pair<QString, QLineEdit*> labels[] = {
        {"&IP", m_ip},
        {korean ? koreanMnemonic("서브넷", 'U') : QString("S&ubnet"), m_subnet},
        {korean ? koreanMnemonic("게이트웨이", 'G') : QString("&Gateway"), m_gateway},
        {korean ? koreanMnemonic("포트", 'P') : QString("&PORT"), m_port}};
    for (int column = 0; column < 4; ++column) {
        auto* label = new QLabel(labels[column].first);
        label->setBuddy(labels[column].second);
        fields->addWidget(label, 0, column);
    }
    fields->addWidget(m_ip, 1, 0);
    fields->addWidget(m_subnet, 1, 1);
    fields->addWidget(m_gateway, 1, 2);
    fields->addWidget(m_port, 1, 3);
    fields->addWidget(m_dhcp, 1, 4);

    auto* service = new QHBoxLayout;
    const char* macLabels[3] = {"&MAC(Low 3byte):", ":", ":"};
    for (int i = 0; i < 3; ++i) {
        m_macLabels[i] = new QLabel(macLabels[i]);
        m_macLabels[i]->setObjectName(controlName(netsetting::MacLabel + i));
        m_macLow[i] = new QLineEdit;
        m_macLow[i]->setObjectName(controlName(netsetting::MacLow + i));
        m_macLow[i]->setMaxLength(2);
        m_macLow[i]->setMaximumWidth(36);
        service->addWidget(m_macLabels[i]);
        m_macLabels[i]->setBuddy(m_macLow[i]);
        service->addWidget(m_macLow[i]);
    }
    m_manual = new QPushButton(korean ? koreanMnemonic("직접 변경", 'N') : QString("Ma&nually change"));
    m_manual->setObjectName(controlName(netsetting::ManualChange));
    service->addWidget(m_manual);
    service->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_search);
    buttons->addWidget(m_change);
    buttons->addStretch(1);
    buttons->addWidget(m_exit);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(fields);
    layout->addLayout(service);
    layout->addLayout(buttons);

    // Service mode: the MAC(Low 3byte) controls exist always and show only with Ctrl held.
    for (int i = 0; i < 3; ++i) {
        m_macLabels[i]->setVisible(m_service);
        m_macLow[i]->setVisible(m_service);
    }
    m_manual->setVisible(m_service);
    m_change->setEnabled(false);

    connect(m_search, &QPushButton::clicked, this, &CNetworkSettingDlg::onSearch);
    connect(m_change, &QPushButton::clicked, this, &CNetworkSettingDlg::onChange);
    connect(m_manual, &QPushButton::clicked, this, &CNetworkSettingDlg::onManualChange);
    connect(m_exit, &QPushButton::clicked, this, &CNetworkSettingDlg::accept);
}

CNetworkSettingDlg::~CNetworkSettingDlg()
{
    finishWorker();
}

void CNetworkSettingDlg::finishWorker()
{
    if (!m_worker.joinable())
        return;
    m_engine.cancel();
    // The worker may be showing a message through the GUI thread: wait serving events.
    QtClock::waitUntil([this] { return !m_busy.load(); }, std::chrono::minutes(5));
    m_worker.join();
}

void CNetworkSettingDlg::closeEvent(QCloseEvent* event)
{
    finishWorker();
    QDialog::closeEvent(event);
}

void CNetworkSettingDlg::reject()
{
    finishWorker();
    QDialog::reject();
}

bool CNetworkSettingDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress && !m_busy) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QModelIndex index = m_list->indexAt(mouse->position().toPoint());
        if (!index.isValid()) {
            m_chosen.reset();
            m_changeEnabled = false;
            m_change->setEnabled(false);
        } else {
            onRowClicked(index.row());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CNetworkSettingDlg::setBusy(bool busy)
{
    m_search->setEnabled(!busy);
    m_change->setEnabled(!busy && m_changeEnabled);
    m_manual->setEnabled(!busy);
    m_list->setEnabled(!busy);
}

void CNetworkSettingDlg::runOnWorker(std::function<void()> work, std::function<void()> done)
{
    if (m_worker.joinable())
        m_worker.join(); // the last one has finished: m_busy was false
    m_busy = true;
    setBusy(true);
    m_worker = std::thread([this, work = std::move(work), done = std::move(done)] {
        work();
        QMetaObject::invokeMethod(
            this,
            [this, done] {
                m_busy = false;
                setBusy(false);
                done();
            },
            Qt::QueuedConnection);
    });
}

void CNetworkSettingDlg::addRow(const NetworkPrinterRow& row)
{
    const int r = m_list->rowCount();
    m_list->insertRow(r);
    const std::string cells[5] = {row.ip, row.port, row.subnet, row.gateway, row.mac};
    for (int c = 0; c < 5; ++c)
        m_list->setItem(r, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    m_list->scrollToItem(m_list->item(r, 0));
}

void CNetworkSettingDlg::onSearch()
{
    if (m_busy)
        return;
    m_list->setRowCount(0);
    m_chosen.reset();
    auto result = std::make_shared<NetworkSearchResult>();
    runOnWorker(
        [this, result] {
            *result = m_engine.Search([this](const NetworkPrinterRow& row) {
                QMetaObject::invokeMethod(this, [this, row] { addRow(row); }, Qt::QueuedConnection);
            });
        },
        [this, result] {
            if (result->end != NetworkSearchResult::End::Cancelled)
                m_prompter.message(catalogText(Msg::SearchFinished), PromptIcon::Information);
        });
}

void CNetworkSettingDlg::onRowClicked(int row)
{
    auto text = [&](int column) {
        QTableWidgetItem* item = m_list->item(row, column);
        return item ? item->text().toStdString() : std::string();
    };
    const std::string ip = text(0);
    // An address control shows the numbers of the IP column, the " (DHCP)" suffix dropped.
    m_ip->setText(QString::fromStdString(dottedText(readDottedText(ip))));
    m_dhcp->setChecked(ipColumnSaysDhcp(ip));
    m_port->setText(QString::number(QString::fromStdString(text(1)).toUInt()));
    m_subnet->setText(QString::fromStdString(text(2)));
    m_gateway->setText(QString::fromStdString(text(3)));
    m_mac = text(4);
    m_chosen = Chosen{m_ip->text().toStdString(), m_port->text().toInt()};
    m_changeEnabled = true;
    m_change->setEnabled(true);
}

NetworkChangeRequest CNetworkSettingDlg::requestFromFields() const
{
    NetworkChangeRequest r;
    r.ipText = m_ip->text().toStdString();
    r.maskText = m_subnet->text().toStdString();
    r.gatewayText = m_gateway->text().toStdString();
    r.macText = m_mac;
    for (int i = 0; i < 3; ++i)
        r.macLow[i] = m_macLow[i]->text().toStdString();
    bool ok = false;
    unsigned port = m_port->text().toUInt(&ok);
    r.port = ok ? port : 0;
    r.dhcp = m_dhcp->isChecked();
    return r;
}

void CNetworkSettingDlg::onChange()
{
    if (m_busy || !m_changeEnabled)
        return;
    auto result = std::make_shared<NetworkChangeResult>();
    NetworkChangeRequest request = requestFromFields();
    runOnWorker([this, result, request] { *result = m_engine.Change(request); },
                [this, result] {
                    // After a change that got as far as its sockets the next one needs a new
                    // row click; a refused IP or port leaves the button as it was.
                    if (result->reachedSockets) {
                        m_changeEnabled = false;
                        m_change->setEnabled(false);
                    }
                    afterChange(*result);
                });
}

void CNetworkSettingDlg::onManualChange()
{
    if (m_busy)
        return;
    auto result = std::make_shared<NetworkChangeResult>();
    NetworkChangeRequest request = requestFromFields();
    runOnWorker([this, result, request] { *result = m_engine.ManualChange(request); },
                [this, result] {
                    if (result->reachedSockets) {
                        m_changeEnabled = false;
                        m_change->setEnabled(false);
                    }
                    afterChange(*result);
                });
}

void CNetworkSettingDlg::afterChange(const NetworkChangeResult& result)
{
    using Outcome = NetworkChangeResult::Outcome;
    switch (result.outcome) {
    case Outcome::RefusedIp:
    case Outcome::RefusedAddress:
    case Outcome::RefusedGateway: {
        QLineEdit* field = result.refusedField == AddressField::Mask      ? m_subnet
                           : result.refusedField == AddressField::Gateway ? m_gateway
                                                                           : m_ip;
        field->setFocus();
        field->selectAll();
        return;
    }
    case Outcome::RefusedPort:
        m_port->setFocus();
        m_port->selectAll();
        return;
    case Outcome::Answered:
        break;
    default:
        return;
    }
    // The module confirmed the change: its row shows the new settings from now on, and the
    // chosen printer is the one at the new address.
    const NetworkPrinterRow changed = networkPrinterRow(decodeNetworkAnswer(result.request));
    const QString mac = QString::fromStdString(changed.mac);
    for (int r = 0; r < m_list->rowCount(); ++r) {
        QTableWidgetItem* macItem = m_list->item(r, 4);
        if (!macItem || macItem->text() != mac)
            continue;
        const std::string cells[4] = {changed.ip, changed.port, changed.subnet, changed.gateway};
        for (int c = 0; c < 4; ++c)
            m_list->item(r, c)->setText(QString::fromStdString(cells[c]));
    }
    m_chosen = Chosen{dottedText(changed.settings.ip), changed.settings.port};
}
