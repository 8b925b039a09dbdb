#include "logo/ui/CPage1Selection.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/NvUpload.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "qthost/QtStatusLine.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using logo_page::named;

namespace {


// The last folder Open File used, for the rest of the run.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

// Moves the auto-centre flags of the entries behind a removed one up by one, as the entries
// themselves move.
void dropAutoCenterFlag(LogoOptions& options, int entry)
{
    if (entry < 0 || entry >= LogoOptions::kMaxRows)
        return;
    std::move(options.autoCenter.begin() + entry + 1, options.autoCenter.end(), options.autoCenter.begin() + entry);
    options.autoCenter.back() = false;
}

} // namespace

CPage1Selection::CPage1Selection(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage1Selection");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Bitmap List", "비트맵 목록"), state.deps.korean);
    auto* open = named(new QPushButton(state.label("&Open File...", "파일 열기", 'O')), logo_ctl::kOpenFile);
    auto* remove = named(new QPushButton(state.label("Re&move", "삭제", 'M')), logo_ctl::kRemove);
    auto* reset = named(new QPushButton(state.label("&Reset", "초기화", 'R')), logo_ctl::kReset);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {open, remove, reset}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* centre = new QGroupBox(state.text("Auto Center Align Check", "자동 가운데 정렬"));
    auto* centreLayout = new QVBoxLayout(centre);
    auto* hint = new QLabel(state.text(" Check the item for automatic center align image.",
                                       " 가운데로 자동 정렬할 이미지를 체크하십시오."));
    hint->setWordWrap(true);
    centreLayout->addWidget(hint);

    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(centre);

    connect(open, &QPushButton::clicked, this, &CPage1Selection::onOpenFile);
    connect(remove, &QPushButton::clicked, this, &CPage1Selection::onRemove);
    connect(reset, &QPushButton::clicked, this, &CPage1Selection::onReset);
}

void CPage1Selection::onSetActive()
{
    m_panel->redraw();
    smallMemoryNotice();
}

void CPage1Selection::smallMemoryNotice()
{
    if (m_state.family() == NvUpload::kSmallNvFamily && m_state.list.usedKB() > NvUpload::kSmallNvKB)
        m_state.deps.prompter.show(NvUpload::smallNvNotice(), PromptButtons::Ok, PromptIcon::Information, "Notice");
}

void CPage1Selection::onOpenFile()
{
    m_state.list.reuseFailedNumbers();
    QStringList files;
    if (m_state.deps.chooseFiles) {
        files = m_state.deps.chooseFiles(this, lastFolder());
    } else {
        files = QFileDialog::getOpenFileNames(this, QString(), lastFolder(),
                                              m_state.text("Bitmap Files(*.bmp)", "비트맵 파일(*.bmp)"), nullptr,
                                              QFileDialog::ReadOnly);
    }
    int added = 0;
    QString refused;
    for (const QString& file : files) {
        const QString full = QFileInfo(file).absoluteFilePath();
        lastFolder() = QFileInfo(full).absolutePath();
        if (!m_state.list.addFile(full.toStdString(), 0)) {
            refused = QFileInfo(full).fileName();
            break;
        }
        ++added;
    }
    m_panel->redraw();
    // The line tells this Open File only: a refusal replaces what an earlier one added.
    if (m_state.status && !files.isEmpty()) {
        const bool korean = m_state.deps.korean;
        const QString addedText = korean ? QString::fromUtf8("%1개 파일을 목록에 추가했습니다.").arg(added)
                                         : QString("%1 file(s) added to the list").arg(added);
        if (refused.isEmpty())
            m_state.status->showDone(addedText);
        else
            m_state.status->showFailure(
                (korean ? QString::fromUtf8("%1 파일을 추가하지 못했습니다").arg(refused)
                        : QString("%1 was not added").arg(refused)) +
                (added > 0 ? "; " + addedText : QString()));
    }
    smallMemoryNotice();
}

void CPage1Selection::onRemove()
{
    const std::vector<int> rows = m_panel->selectedEntries();
    Prompter& prompter = m_state.deps.prompter;
    if (rows.empty()) {
        prompter.message(catalogText(Msg::NoBitmapSelected), PromptIcon::Exclamation);
        return;
    }
    if (prompter.show(m_state.deps.korean ? "선택한 파일을 목록에서 삭제하시겠습니까?" : "Remove selected file?",
                      PromptButtons::YesNo, PromptIcon::Question, "Image downloader") !=
        PromptAnswer::Yes)
        return;
    // From the last row to the first, so that the rows still to go keep their places.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (m_state.list.removeNumber(m_state.list.imageNumber(*it)))
            dropAutoCenterFlag(m_state.options, *it);
    }
    m_state.list.setSelectedRow(std::nullopt);
    m_panel->redraw();
}

void CPage1Selection::onReset()
{
    if (!m_state.deps.prompter.ask(catalogText(Msg::ResetList), PromptIcon::Question))
        return;
    m_state.restore();
    m_panel->redraw();
}

