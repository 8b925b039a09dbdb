#include "shell/CMenuDlg.h"

#include "shell/ShellControls.h"

#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"
#include "port/ConnectionTraits.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>
#include <utility>

namespace {

const char* kToolNotYet = "This tool is not part of this version of TAVROSet yet.";

QPushButton* makeButton(int id, const char* english, const char* korean, char key, bool useKorean)
{
    auto* button = new QPushButton(useKorean ? koreanMnemonic(korean, key) : QString::fromUtf8(english));
    button->setObjectName(controlName(id));
    button->setMinimumHeight(34);
    button->setAutoDefault(false);
    return button;
}

} // namespace

CMenuDlg::CMenuDlg(const ConnectionSettings& settings, MenuDlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CMenuDlg");
    help::installF1(this, "menu");
    setModal(true);
    setWindowIcon(appIcon());
    setWindowTitle("TAVROSet");
    setMinimumWidth(240);
    m_summary = connectionSummary(settings);
    // "TAVRO36/38 - ETHERNET_II" alone does not say which printer; the address the network
    // dialog checked follows on its own line.
    if (settings.kind() == PortKind::Ethernet && !settings.host.empty())
        m_summary += "\r\n" + settings.host + " : " + std::to_string(settings.tcpPort);

    const bool ko = m_deps.korean;
    m_logo = makeButton(menudlg::LogoDownload, "&Logo Download", "로고 전송", 'L', ko);
    m_setup = makeButton(menudlg::UserSetup, "&User Setup", "사용자 설정", 'U', ko);
    m_firmware = makeButton(menudlg::FirmwareDownload, "&Firmware Download", "펌웨어 전송", 'F', ko);
    m_profile = makeButton(menudlg::PrinterProfile, "Printer &Profile", "프린터 프로필", 'P', ko);
    m_back = makeButton(menudlg::Back, "<< &Back  ", "<< 뒤로", 'B', ko);

    // A tool this build does not have keeps its button in place but says so instead of
    // opening anything.
    for (auto [button, run] : {std::pair{m_logo, bool(m_deps.runLogo)}, std::pair{m_firmware, bool(m_deps.runFirmware)}}) {
        button->setEnabled(run);
        button->setToolTip(run ? QString()
                               : ko ? QString::fromUtf8("이 버전의 TAVROSet에는 아직 이 기능이 없습니다.")
                                    : QString(kToolNotYet));
    }
    if (settings.modelFamily == kFamilyTavro15) {
        m_setup->setEnabled(false);
        m_setup->setToolTip(ko ? QString::fromUtf8("TAVRO15에는 사용자 설정이 없습니다.")
                               : QString("The TAVRO15 has no user setup."));
    }
    // A profile is the settings read back and compared: it needs a connection that carries
    // jobs and a printer that answers on it, and a model with a user setup.
    const ConnectionTraits traits = connectionTraits(settings.kind());
    if (!m_deps.runProfile) {
        m_profile->setEnabled(false);
        m_profile->setToolTip(ko ? QString::fromUtf8("이 버전의 TAVROSet에는 아직 이 기능이 없습니다.")
                                 : QString(kToolNotYet));
    } else if (!traits.carriesJobs || !traits.canAnswer) {
        m_profile->setEnabled(false);
        m_profile->setToolTip(ko ? QString::fromUtf8("프린터 프로필은 응답하는 프린터가 필요합니다.")
                                 : QString("A printer profile needs a printer that answers on the connection."));
    } else if (settings.modelFamily == kFamilyTavro15) {
        m_profile->setEnabled(false);
        m_profile->setToolTip(ko ? QString::fromUtf8("TAVRO15에는 사용자 설정이 없습니다.")
                                 : QString("The TAVRO15 has no user setup."));
    }

    auto* summaryLabel = new QLabel(QString::fromStdString(m_summary).replace("\r\n", "\n"));
    summaryLabel->setObjectName("summary");
    summaryLabel->setFrameShape(QFrame::StyledPanel);
    summaryLabel->setMargin(6);
    summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(m_logo);
    layout->addWidget(m_setup);
    layout->addWidget(m_firmware);
    layout->addWidget(m_profile);
    layout->addSpacing(8);
    layout->addWidget(m_back);
    m_setup->setFocus();

    connect(m_logo, &QPushButton::clicked, this, &CMenuDlg::onLogo);
    connect(m_setup, &QPushButton::clicked, this, &CMenuDlg::onUserSetup);
    connect(m_firmware, &QPushButton::clicked, this, &CMenuDlg::onFirmware);
    connect(m_profile, &QPushButton::clicked, this, &CMenuDlg::onProfile);
    connect(m_back, &QPushButton::clicked, this, &QDialog::reject);
}

void CMenuDlg::onLogo()
{
    if (m_deps.setFunction)
        m_deps.setFunction(kFunctionLogo);
    if (m_deps.runLogo)
        m_deps.runLogo(this, m_summary);
}

void CMenuDlg::onFirmware()
{
    if (m_deps.setFunction)
        m_deps.setFunction(kFunctionFirmware);
    if (m_deps.runFirmware)
        m_deps.runFirmware(this, m_summary);
}

void CMenuDlg::onUserSetup()
{
    if (m_deps.setFunction)
        m_deps.setFunction(kFunctionUserSetup);
    if (m_deps.runUserSetup)
        m_deps.runUserSetup(this, m_summary);
}

void CMenuDlg::onProfile()
{
    if (m_deps.runProfile)
        m_deps.runProfile(this, m_summary);
}
