#include "logo/ui/CPage2Preview.h"

#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoPreviewFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

using logo_page::named;

CPage2Preview::CPage2Preview(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage2Preview");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Bitmap List", "비트맵 목록"), state.deps.korean);
    m_frame = new LogoPreviewFrame;
    m_frame->setKorean(state.deps.korean);

    m_quality = new QButtonGroup(this);
    auto* quality = logo_page::qualityGroup(
        state, m_quality,
        {{logo_ctl::kPreviewNormal, "&Normal", "일반", 'N', LogoPrintMode::Normal},
         {logo_ctl::kPreviewQuadruple, "&Quadraple", "가로2배 / 세로2배", 'Q', LogoPrintMode::Quadruple},
         {logo_ctl::kPreviewDoubleHeight, "Double &Height", "세로 2배", 'H', LogoPrintMode::DoubleHeight},
         {logo_ctl::kPreviewDoubleWidth, "Double &Width", "가로 2배", 'W', LogoPrintMode::DoubleWidth}});
    auto* qualityLayout = static_cast<QVBoxLayout*>(quality->layout());

    m_asPrinted = new QCheckBox(state.label("&As printed", "인쇄 모양", 'A'));
    m_asPrinted->setObjectName(logo_ctl::kAsPrinted);
    m_asPrinted->setToolTip(state.text("The dots the printer will print, with the Advanced page's options",
                                       "고급 페이지의 설정으로 프린터가 인쇄할 점"));
    m_printedBy = new QComboBox;
    m_printedBy->setObjectName(logo_ctl::kPrintedBy);
    m_printedBy->setEnabled(false);
    fillPrintedBy();
    qualityLayout->addSpacing(8);
    qualityLayout->addWidget(m_asPrinted);
    qualityLayout->addWidget(m_printedBy);
    qualityLayout->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addWidget(quality);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_frame, 1);

    connect(m_quality, &QButtonGroup::idClicked, this, &CPage2Preview::refresh);
    connect(m_asPrinted, &QCheckBox::toggled, this, &CPage2Preview::refresh);
    connect(m_printedBy, &QComboBox::currentIndexChanged, this, &CPage2Preview::refresh);
    connect(m_panel, &LogoListPanel::selectionChanged, this, &CPage2Preview::refresh);
}

LogoPrintMode CPage2Preview::mode() const { return LogoPrintMode(std::max(0, m_quality->checkedId())); }

void CPage2Preview::fillPrintedBy()
{
    const auto alignName = [this](logo_frames::LogoJustify j) {
        switch (j) {
        case logo_frames::LogoJustify::Left: return m_state.text("LEFT", "왼쪽");
        case logo_frames::LogoJustify::Center: return m_state.text("CENTER", "가운데");
        case logo_frames::LogoJustify::Right: break;
        }
        return m_state.text("RIGHT", "오른쪽");
    };
    const int at = std::max(0, m_printedBy->currentIndex());
    const QSignalBlocker quiet(m_printedBy);
    m_printedBy->clear();
    m_printedBy->addItem(m_state.text("by Print (at the margin)", "인쇄 버튼으로 (왼쪽 여백부터)"));
    m_printedBy->addItem(m_state.text("as the top logo (%1)", "상단 로고로 (%1)").arg(alignName(m_state.topJustify)));
    m_printedBy->addItem(m_state.text("as the bottom logo (%1)", "하단 로고로 (%1)").arg(alignName(m_state.bottomJustify)));
    m_printedBy->setCurrentIndex(at);
}

void CPage2Preview::onSetActive()
{
    m_panel->redraw();
    fillPrintedBy();
    refresh();
}

void CPage2Preview::refresh()
{
    const bool asPrinted = m_asPrinted->isChecked();
    const int by = m_printedBy->currentIndex();
    m_printedBy->setEnabled(asPrinted);
    // The printer prints its top and bottom logos in Normal mode.
    for (QAbstractButton* b : m_quality->buttons())
        b->setEnabled(!asPrinted || by == kByPrint);
    const auto row = m_state.list.selectedRow();
    if (!row || *row < 0 || *row >= m_state.list.fileCount()) {
        m_frame->clearPicture();
        return;
    }
    const auto& entry = m_state.list.entries()[std::size_t(*row)];
    LogoPrintMode printMode = mode();
    logo_frames::LogoJustify align = logo_frames::LogoJustify::Left;
    if (asPrinted && by == kAsTopLogo) {
        printMode = LogoPrintMode::Normal;
        align = m_state.topJustify;
    } else if (asPrinted && by == kAsBottomLogo) {
        printMode = LogoPrintMode::Normal;
        align = m_state.bottomJustify;
    }
    m_frame->showPicture(QString::fromStdString(entry.path), printMode, asPrinted, m_state.options,
                         m_state.options.autoCenterOf(*row), align);
}

