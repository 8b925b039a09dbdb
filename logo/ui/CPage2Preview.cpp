#include "logo/ui/CPage2Preview.h"

#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoPreviewFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
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
                                       "Advanced 페이지의 설정으로 프린터가 인쇄할 점"));
    qualityLayout->addSpacing(8);
    qualityLayout->addWidget(m_asPrinted);
    qualityLayout->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addWidget(quality);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_frame, 1);

    connect(m_quality, &QButtonGroup::idClicked, this, &CPage2Preview::refresh);
    connect(m_asPrinted, &QCheckBox::toggled, this, &CPage2Preview::refresh);
    connect(m_panel, &LogoListPanel::selectionChanged, this, &CPage2Preview::refresh);
}

LogoPrintMode CPage2Preview::mode() const { return LogoPrintMode(std::max(0, m_quality->checkedId())); }

void CPage2Preview::onSetActive()
{
    m_panel->redraw();
    refresh();
}

void CPage2Preview::refresh()
{
    const auto row = m_state.list.selectedRow();
    if (!row || *row < 0 || *row >= m_state.list.fileCount()) {
        m_frame->clearPicture();
        return;
    }
    const auto& entry = m_state.list.entries()[std::size_t(*row)];
    m_frame->showPicture(QString::fromStdString(entry.path), mode(), m_asPrinted->isChecked(), m_state.options,
                         m_state.options.autoCenterOf(*row));
}

