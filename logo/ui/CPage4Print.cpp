#include "logo/ui/CPage4Print.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/LogoLog.h"
#include "logo/LogoSelection.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoProgressDlg.h"
#include "qthost/QtBusy.h"
#include "qthost/QtGuiCall.h"
#include "qthost/QtStatusLine.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <tuple>
#include <utility>

using logo_page::named;
using logo_page::readOnlyBox;

namespace {


// Set Logo values and Test: one action (the send, then a USB printer's restart) on a worker
// while the window is busy and paints.
void runLogoAction(LogoSheetState& s, QWidget* page, const QString& busyText,
                   const std::function<logo_tool::LogoReport(const logo_tool::LogoToolDeps&)>& action,
                   const QString& doneText)
{
    const logo_tool::LogoToolDeps deps = s.toolDeps();
    logo_tool::LogoReport r;
    {
        QtBusy busy(page, s.status, busyText);
        runOnWorker([&] { r = action(deps); });
    }
    if (!s.status || r.outcome == logo_tool::LogoOutcome::NotConnected)
        return;
    if (!r.done())
        s.status->showFailure(QString::fromStdString(r.message));
    else if (!r.message.empty())
        s.status->showFailure(doneText + " — " + QString::fromStdString(r.message));
    else
        s.status->showDone(doneText);
}

} // namespace

CPage4Print::CPage4Print(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage4Print");
    const LogoSheetState& s = state;

    // Range.
    auto* range = new QGroupBox(s.text("Range", "범위"));
    auto* rangeLayout = new QGridLayout(range);
    m_all = named(new QRadioButton(s.text("All", "전체")), logo_ctl::kPrintAll);
    m_selection = named(new QRadioButton(s.text("Selection", "선택")), logo_ctl::kPrintSelection);
    m_selectionText = named(new QLineEdit, logo_ctl::kPrintSelectionText);
    m_selectionText->setPlaceholderText("3-5,9");
    m_selectionText->installEventFilter(this);
    m_all->setChecked(true);
    rangeLayout->addWidget(m_all, 0, 0);
    rangeLayout->addWidget(m_selection, 1, 0);
    rangeLayout->addWidget(m_selectionText, 1, 1);
    connect(m_selection, &QRadioButton::clicked, this, [this] { m_selectionText->setFocus(); });

    // Quality: print mode 0..3.
    m_quality = new QButtonGroup(this);
    auto* quality = logo_page::qualityGroup(s, m_quality,
                                            {{logo_ctl::kPrintNormal, "&Normal", "일반", 'N', LogoPrintMode::Normal},
                                             {logo_ctl::kPrintDoubleWidth, "Double &Width", "가로 2배", 'W', LogoPrintMode::DoubleWidth},
                                             {logo_ctl::kPrintDoubleHeight, "Double &Height", "세로 2배", 'H', LogoPrintMode::DoubleHeight},
                                             {logo_ctl::kPrintQuadruple, "&Quadraple", "가로2배 / 세로2배", 'Q', LogoPrintMode::Quadruple}});

    // Header.
    auto* header = new QGroupBox(s.label("Hea&der", "제목", 'D'));
    auto* headerLayout = new QVBoxLayout(header);
    m_header = new QButtonGroup(this);
    auto* noHeader = named(new QRadioButton(s.text("No Header", "제목 없음")), logo_ctl::kNoHeader);
    auto* addHeader = named(new QRadioButton(s.text("Add Header", "제목 인쇄")), logo_ctl::kAddHeader);
    m_header->addButton(noHeader, 0);
    m_header->addButton(addHeader, 1);
    noHeader->setChecked(true);
    headerLayout->addWidget(noHeader);
    headerLayout->addWidget(addHeader);
    headerLayout->addStretch(1);

    m_printerName = readOnlyBox(logo_ctl::kPrintPrinterName);
    m_portName = readOnlyBox(logo_ctl::kPrintPortName);

    m_print = named(new QPushButton(s.label("&Print", "인쇄", 'P')), logo_ctl::kPrint);

    // Top and bottom logo. Every control has an access key: the row labels reach the rows'
    // Enable/Disable choice, the small labels the numbers and the alignments.
    auto enableDisable = [this, &s](QButtonGroup*& group, int enableId, int disableId) {
        group = new QButtonGroup(this);
        auto* enable = named(new QRadioButton(s.text("Enable", "사용")), enableId);
        auto* disable = named(new QRadioButton(s.text("Disable", "사용 안 함")), disableId);
        group->addButton(enable, 1);
        group->addButton(disable, 0);
        disable->setChecked(true);
        return std::pair{enable, disable};
    };
    auto justify = [&s](int id) {
        auto* box = named(new QComboBox, id);
        if (s.deps.korean)
            box->addItems({QString::fromUtf8("왼쪽"), QString::fromUtf8("가운데"), QString::fromUtf8("오른쪽")});
        else
            box->addItems({"LEFT", "CENTER", "RIGHT"});
        box->setCurrentIndex(1);
        return box;
    };
    auto number = [](int id, int value) {
        auto* edit = named(new QLineEdit(QString::number(value)), id);
        edit->setMaxLength(3);
        edit->setMaximumWidth(60);
        return edit;
    };
    // A label whose access key moves the focus to the control (to the checked radio of a pair).
    auto buddyLabel = [&s](const char* english, const char* korean, char key, QWidget* buddy) {
        auto* label = new QLabel(s.label(english, korean, key));
        label->setBuddy(buddy);
        return label;
    };
    auto* logos = new QGroupBox(s.text("Top / Bottom Logo", "상단 / 하단 로고"));
    auto* grid = new QGridLayout(logos);
    auto addRow = [&](int row, QLabel* label, std::pair<QRadioButton*, QRadioButton*> radios) {
        grid->addWidget(label, row, 0);
        auto* choice = new QHBoxLayout;
        choice->addWidget(radios.first);
        choice->addWidget(radios.second);
        choice->addStretch(1);
        grid->addLayout(choice, row, 1);
    };
    const auto top = enableDisable(m_top, logo_ctl::kTopEnable, logo_ctl::kTopDisable);
    const auto powerOn = enableDisable(m_powerOn, logo_ctl::kPowerOnEnable, logo_ctl::kPowerOnDisable);
    const auto bottom = enableDisable(m_bottom, logo_ctl::kBottomEnable, logo_ctl::kBottomDisable);
    m_topNumber = number(logo_ctl::kTopNumber, 1);
    m_topJustify = justify(logo_ctl::kTopJustify);
    m_bottomNumber = number(logo_ctl::kBottomNumber, 2);
    m_bottomJustify = justify(logo_ctl::kBottomJustify);
    addRow(0, buddyLabel("&Top Logo", "상단 로고", 'T', top.second), top);
    grid->addWidget(buddyLabel("Nu&mber", "번호", 'M', m_topNumber), 0, 2);
    grid->addWidget(m_topNumber, 0, 3);
    grid->addWidget(buddyLabel("&Align", "정렬", 'A', m_topJustify), 0, 4);
    grid->addWidget(m_topJustify, 0, 5);
    addRow(1, buddyLabel("Prints the top logo at power-&on", "전원을 켤 때 상단 로고 인쇄", 'O', powerOn.second), powerOn);
    addRow(2, buddyLabel("&Bottom Logo", "하단 로고", 'B', bottom.second), bottom);
    grid->addWidget(buddyLabel("Numbe&r", "번호", 'R', m_bottomNumber), 2, 2);
    grid->addWidget(m_bottomNumber, 2, 3);
    grid->addWidget(buddyLabel("Ali&gn", "정렬", 'G', m_bottomJustify), 2, 4);
    grid->addWidget(m_bottomJustify, 2, 5);
    // The label's key goes to whichever radio of its pair is checked, as arrow keys then move
    // within the pair.
    for (QButtonGroup* group : {m_top, m_powerOn, m_bottom})
        connect(group, &QButtonGroup::idToggled, this, [this, group](int, bool on) {
            if (!on)
                return;
            for (QLabel* label : findChildren<QLabel*>())
                if (label->buddy() && group->buttons().contains(qobject_cast<QAbstractButton*>(label->buddy())))
                    label->setBuddy(group->checkedButton());
        });
    m_setValues = named(new QPushButton(s.label("&Set Logo values", "로고 설정 보내기", 'S')), logo_ctl::kSetLogoValues);
    m_test = named(new QPushButton(s.label("T&est", "테스트 인쇄", 'E')), logo_ctl::kTest);
    auto* logoButtons = new QHBoxLayout;
    logoButtons->addStretch(1);
    logoButtons->addWidget(m_setValues);
    logoButtons->addWidget(m_test);
    grid->addLayout(logoButtons, 3, 0, 1, 6);
    grid->setColumnStretch(6, 1);

    for (QPushButton* b : {m_print, m_setValues, m_test})
        b->setAutoDefault(false);

    auto* printRow = new QHBoxLayout;
    printRow->addWidget(range, 1);
    printRow->addWidget(quality);
    printRow->addWidget(header);
    auto* detailsRow = new QHBoxLayout;
    detailsRow->addWidget(logo_page::printerDetails(s, m_printerName, m_portName), 1);
    auto* printButton = new QVBoxLayout;
    printButton->addStretch(1);
    printButton->addWidget(m_print);
    detailsRow->addLayout(printButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(printRow);
    layout->addLayout(detailsRow);
    layout->addWidget(logos);
    layout->addStretch(1);

    connect(m_topJustify, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_state.topJustify = logo_frames::LogoJustify(std::max(0, i)); });
    connect(m_bottomJustify, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_state.bottomJustify = logo_frames::LogoJustify(std::max(0, i)); });
    connect(m_print, &QPushButton::clicked, this, &CPage4Print::onPrint);
    connect(m_setValues, &QPushButton::clicked, this, &CPage4Print::onSetLogoValues);
    connect(m_test, &QPushButton::clicked, this, &CPage4Print::onTest);
}

bool CPage4Print::eventFilter(QObject* watched, QEvent* event)
{
    // Entering the selection edit chooses Selection.
    if (watched == m_selectionText && event->type() == QEvent::FocusIn)
        m_selection->setChecked(true);
    return LogoPage::eventFilter(watched, event);
}

void CPage4Print::onSetActive()
{
    logo_page::showPrinterDetails(m_state, m_printerName, m_portName);
    m_print->setEnabled(logo_tool::canPrint(m_state.connectionSettings()));
}

bool CPage4Print::onKillActive()
{
    return readSettings().has_value();
}

void CPage4Print::onPrint()
{
    LogoPrintRequest request;
    if (m_selection->isChecked()) {
        auto numbers = parseLogoSelection(m_selectionText->text().toStdString());
        if (!numbers) {
            m_state.deps.prompter.message(catalogText(Msg::NvImageNumberIncorrect), PromptIcon::Exclamation);
            m_selectionText->setFocus();
            return;
        }
        request.numbers = *numbers;
    }
    request.mode = logo_frames::PrintMode(std::max(0, m_quality->checkedId()));
    request.header = m_header->checkedId() == 1;
    request.starEmulation = m_state.options.starEmulation;
    CPrintingDlg printing(m_state.deps.korean, window());
    const auto drive = [&printing](StepJob& job) { return printing.run(job, std::chrono::milliseconds(0)); };
    const logo_tool::LogoReport r = logo_tool::printLogos(m_state.toolDeps(&printing, drive), request);
    if (!m_state.status)
        return;
    switch (r.outcome) {
    case logo_tool::LogoOutcome::Done:
        m_state.status->showDone(m_state.deps.korean ? QString::fromUtf8("%1개 이미지를 인쇄했습니다.").arg(r.pictures)
                                                     : QString("%1 picture(s) printed").arg(r.pictures));
        break;
    case logo_tool::LogoOutcome::Cancelled:
        m_state.status->showMessage(m_state.deps.korean
                                        ? QString::fromUtf8("인쇄 취소: %1개 인쇄됨").arg(r.pictures)
                                        : QString("Printing cancelled after %1 picture(s)").arg(r.pictures));
        break;
    case logo_tool::LogoOutcome::Failed:
        m_state.status->showFailure(QString::fromStdString(r.message));
        break;
    case logo_tool::LogoOutcome::Declined:
    case logo_tool::LogoOutcome::NotConnected:
        break;
    }
}

std::optional<logo_frames::LogoSettingsValues> CPage4Print::readSettings()
{
    logo_frames::LogoSettingsValues v;
    if (!logo_page::isIntegerIn(m_topNumber->text(), 1, 255, &v.topNumber)) {
        logo_page::refuseRange(m_state, 1, 255);
        m_topNumber->setFocus();
        m_topNumber->selectAll();
        return std::nullopt;
    }
    if (!logo_page::isIntegerIn(m_bottomNumber->text(), 1, 255, &v.bottomNumber)) {
        logo_page::refuseRange(m_state, 1, 255);
        m_bottomNumber->setFocus();
        m_bottomNumber->selectAll();
        return std::nullopt;
    }
    v.topEnable = m_top->checkedId() == 1;
    v.topJustify = logo_frames::LogoJustify(std::max(0, m_topJustify->currentIndex()));
    v.powerOn = m_powerOn->checkedId() == 1;
    v.bottomEnable = m_bottom->checkedId() == 1;
    v.bottomJustify = logo_frames::LogoJustify(std::max(0, m_bottomJustify->currentIndex()));
    return v;
}

void CPage4Print::onSetLogoValues()
{
    auto values = readSettings();
    if (!values)
        return;
    // A picture stored centred carries its blank columns on the left: aligned CENTER or RIGHT
    // as a whole, its drawing lands right of the middle. Said with the result, not asked.
    QString doneText = m_state.text("Logo settings sent", "로고 설정을 보냈습니다");
    const std::vector<int> centred = LogoLog(m_state.deps.profile).centred();
    const auto stillCentred = [&](bool enabled, int number, logo_frames::LogoJustify j) {
        return enabled && j != logo_frames::LogoJustify::Left &&
               std::binary_search(centred.begin(), centred.end(), number);
    };
    for (auto [enabled, number, j] : {std::tuple{values->topEnable, values->topNumber, values->topJustify},
                                      std::tuple{values->bottomEnable, values->bottomNumber, values->bottomJustify}})
        if (stillCentred(enabled, number, j)) {
            doneText += m_state.text(" — picture %1 was stored centred; aligned again it prints right of the middle "
                                     "(choose LEFT)",
                                     " — %1번 이미지는 가운데 정렬로 저장되어 다시 정렬하면 오른쪽으로 치우칩니다 "
                                     "(왼쪽을 선택하십시오)")
                            .arg(number);
            break;
        }
    runLogoAction(m_state, this, m_state.text("Sending the logo settings", "로고 설정을 보내는 중"),
                  [&](const logo_tool::LogoToolDeps& d) { return logo_tool::setLogoSettings(d, *values); }, doneText);
}

void CPage4Print::onTest()
{
    runLogoAction(m_state, this, m_state.text("Printing the sample receipt", "샘플 영수증 인쇄 중"),
                  [](const logo_tool::LogoToolDeps& d) { return logo_tool::printSampleReceipt(d); },
                  m_state.text("Sample receipt sent", "샘플 영수증을 보냈습니다"));
}
